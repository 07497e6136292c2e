#include "CMarkedRows.h"

#include "CClassNames.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "ExportContext.h"

#include <charconv>

namespace {

constexpr int16_t kOutputMatch = 15;

}  // namespace

CMarkedRows::CMarkedRows(const ExportContext& ctx, int16_t scope) : mNames(std::make_unique<CClassNames>()) {
    CDataDef& def = *ctx.dataDef;
    const int16_t key = def.PrimaryKeyField();
    mKeyName = def.FieldName(key);
    for (int16_t i = 0; i < def.FieldCount() && mOutput < 0; ++i)
        if (def.UserMatchType(i) == kOutputMatch) mOutput = i;

    mLowText = ctx.project->GetConfig("TestKeyMin");
    mHighText = ctx.project->GetConfig("TestKeyMax");
    const int16_t type = def.FieldType(key);
    if (MdbUtils::IsDateType(type)) {
        // Date bounds are stored as date text: read them as dates, not by their leading number.
        mKind = KeyKind::Date;
        auto asDate = [](const std::string& text) {
            try {
                return dao::VarToDate(com::Variant::Str(text));
            } catch (...) {
                // Not a date: its leading number is the value.
                return LeadingNumber(text);
            }
        };
        mLow = asDate(mLowText);
        mHigh = asDate(mHighText);
    } else if (MdbUtils::FieldTypeClass(type) == MdbUtils::TypeClassOrdered) {
        mKind = KeyKind::Number;
        mLow = LeadingNumber(mLowText);
        mHigh = LeadingNumber(mHighText);
    }

    std::string where;
    if (scope == 0) {
        where = " WHERE Test.Mark<>0";
    } else {
        CSqlMachine& sql = *ctx.sqlMachine;
        const int16_t saved = sql.MarkView();
        sql.SetMarkView(1);
        try {
            where = sql.GetWhere();
        } catch (...) {
            // The statement gets its mark view back on every way out.
            sql.SetMarkView(saved);
            throw;
        }
        sql.SetMarkView(saved);
    }
    const std::string keyColumn = "LinkDataSource." + MdbUtils::BracketName(mKeyName);
    mSql = "SELECT Test.Predicted, LinkDataSource.* FROM LinkDataSource INNER JOIN Test ON " + keyColumn +
           " = Test.MainPrimaryKey" + where + " ORDER BY " + keyColumn;

    std::shared_ptr<CDataDef> dataDef = ctx.dataDef;
    mNames->Initialize(ctx.project.get(), dataDef);
    for (int16_t i = 0; i < 256 && mOutput >= 0; ++i) {
        std::string name = mNames->Class(mOutput, i);
        if (name.empty()) break;
        mClasses.push_back(std::move(name));
    }
}

CMarkedRows::~CMarkedRows() = default;

std::string CMarkedRows::PredictionName(const std::vector<std::string>& dataColumns) {
    std::string name = "Predicted";
    for (int n = 1;; ++n) {
        bool taken = false;
        for (const std::string& column : dataColumns)
            if (dao::CompareText(column, name) == 0) taken = true;
        if (!taken) return name;
        name = "Predicted" + std::to_string(n);
    }
}

double CMarkedRows::LeadingNumber(const std::string& text) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') t += c;
    size_t start = 0;
    if (!t.empty() && t[0] == '+') start = 1;
    double v = 0;
    const auto result = std::from_chars(t.data() + start, t.data() + t.size(), v, std::chars_format::general);
    return result.ec == std::errc() ? v : 0;
}

bool CMarkedRows::InRange(const VARIANT& key) const {
    if (key.vt == VT_NULL || key.vt == VT_EMPTY) return false;
    switch (mKind) {
    case KeyKind::Number: {
        const double v = dao::VarToDouble(key);
        return v >= mLow && v <= mHigh;
    }
    case KeyKind::Date: {
        const double v = dao::VarToDate(key);
        return v >= mLow && v <= mHigh;
    }
    case KeyKind::Text: {
        // The range was drawn in the database's own text order.
        const std::string v = dao::VarToString(key);
        return dao::CompareText(v, mLowText) >= 0 && dao::CompareText(v, mHighText) <= 0;
    }
    }
    return false;
}

const std::string& CMarkedRows::Prediction(const VARIANT& predicted, const VARIANT& key) const {
    if (!InRange(key)) return mNone;
    if (predicted.vt == VT_NULL || predicted.vt == VT_EMPTY) return mNone;
    const int32_t number = dao::VarToLong(predicted);
    if (number < 1) return mNone;
    // Past the last class: the empty name, as the class table gives it.
    return size_t(number) <= mClasses.size() ? mClasses[size_t(number - 1)] : mEmpty;
}
