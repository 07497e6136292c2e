#include "CSqlMachine.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CDataDef.h"
#include "CProject.h"
#include "MdbUtils.h"

#include <string_view>

namespace {

std::string TrimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

}  // namespace

bool CSqlMachine::IsPlainNumber(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t exp = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == t.size();
}

namespace {

void AppendAnd(std::string& w, const std::string& piece) {
    if (!w.empty()) w += " AND ";
    w += piece;
}

}  // namespace

void CSqlMachine::Initialize(std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CProject> project) {
    mDataDef = std::move(dataDef);
    mProject = std::move(project);
}

void CSqlMachine::SetBrowseType(int16_t value) {
    mBrowseType = value;
    mSortKey = {};
    mSortDesc = {};
    mThreshold = 0;
    mActual = -1;
    mPredicted = -1;
    mMarkView = 0;
}

int16_t CSqlMachine::OutputField() const {
    for (int16_t i = 0; i < mDataDef->FieldCount(); ++i)
        if (mDataDef->UserMatchType(i) == MatchType::Output) return i;
    return -1;
}

std::string CSqlMachine::KeyFieldName() const {
    if (!mDataDef) app::RaiseError(91);
    return mDataDef->FieldName(mDataDef->PrimaryKeyField());
}

std::string CSqlMachine::JoinFrom(const std::string& keyField) {
    return "FROM LinkDataSource INNER JOIN Test ON LinkDataSource." + MdbUtils::BracketName(keyField) +
           " = Test.MainPrimaryKey";
}

std::string CSqlMachine::GetFrom() const { return " " + JoinFrom(KeyFieldName()) + " "; }

std::string CSqlMachine::BuildJoin() {
    try {
        if (!mDataDef) app::RaiseError(91);
        const int16_t output = OutputField();
        std::string list;
        for (int16_t i = 0; i < mDataDef->FieldCount(); ++i)
            if (i != output) list += "LinkDataSource." + MdbUtils::BracketName(mDataDef->FieldName(i)) + ", ";
        if (list.size() >= 2) {
            list.resize(list.size() - 2);
            list += " ";
        }
        std::string sql = "SELECT Test.Mark, ";
        if (mBrowseType == 0)
            sql += "LinkDataSource." + MdbUtils::BracketName(output >= 0 ? mDataDef->FieldName(output) : "") + ", ";
        else if (mBrowseType == 1)
            sql += "Test.Actual, Test.Predicted, ";
        sql += list;
        sql += JoinFrom(KeyFieldName());
        return sql;
    } catch (...) {
        // Shown; no join.
        base::ShowCaught("CSqlMachine::BuildJoin");
    }
    return {};
}

bool CSqlMachine::IsDataFieldName(const std::string& name) const {
    if (!mDataDef) return false;
    for (int16_t i = 0; i < mDataDef->FieldCount(); ++i)
        if (dao::CompareText(mDataDef->FieldName(i), name) == 0) return true;
    return false;
}

std::string CSqlMachine::TestColumn(const std::string& name, bool bracketed) const {
    // A data field of the same name would make the bare name ambiguous in the join.
    const std::string bare = bracketed ? "[" + name + "]" : name;
    return IsDataFieldName(name) ? "Test." + bare : bare;
}

std::string CSqlMachine::KeyBound(const std::string& op, const std::string& value) const {
    const int16_t type = mDataDef->FieldType(mDataDef->PrimaryKeyField());
    const bool quoted = MdbUtils::IsTextType(type) || MdbUtils::IsDateType(type) || !IsPlainNumber(value);
    return " " + TestColumn("MainPrimaryKey", false) + op + (quoted ? MdbUtils::SqlText(value) : value);
}

std::string CSqlMachine::BuildWHERE() {
    try {
        std::string w;
        if (mMarkView == 1) w += " Test.Mark<>0";
        else if (mMarkView == 2) w += " Test.Mark=0";
        if (mBrowseType == 1) {
            const std::string actual = TestColumn("Actual", false), predicted = TestColumn("Predicted", false);
            if (mActual != -1) AppendAnd(w, actual + "=" + std::to_string(mActual));
            if (mPredicted != -1) AppendAnd(w, predicted + "=" + std::to_string(mPredicted));
            if (mPredictType != 0) {
                const std::string a = TestColumn("Actual", true), p = TestColumn("Predicted", true);
                AppendAnd(w, " " + a + ">0 AND " + p + (mPredictType == 1 ? "=" : "<>") + a + " ");
            }
        }
        if (!mKeyMin.empty() || !mKeyMax.empty()) {
            if (!mDataDef) app::RaiseError(91);
            if (!mKeyMin.empty()) AppendAnd(w, KeyBound(">=", mKeyMin));
            if (!mKeyMax.empty()) AppendAnd(w, KeyBound("<=", mKeyMax));
        }
        w = TrimBlanks(w);
        if (!mReplaceWhere.empty()) {
            if (!IsSelfContainedCondition(mReplaceWhere))
                throw dao::DaoError(3075, dao::ErrorDescription(3075, mReplaceWhere));
            w = w.empty() ? mReplaceWhere : " (" + mReplaceWhere + ") AND (" + w + ") ";
        }
        return w.empty() ? std::string() : " WHERE " + w + " ";
    } catch (...) {
        // Shown; no filter.
        base::ShowCaught("CSqlMachine::BuildWHERE");
    }
    // A filter that could not be built shows no rows rather than too many.
    return " WHERE 1=0 ";
}

std::string CSqlMachine::BuildORDER() {
    try {
        std::string o;
        for (size_t k = 0; k < mSortKey.size(); ++k)
            if (!mSortKey[k].empty()) o += mSortKey[k] + (mSortDesc[k] ? " DESC, " : ", ");
        if (o.empty()) return {};
        o.resize(o.size() - 2);
        return " ORDER BY " + TrimBlanks(o) + ";";
    } catch (...) {
        // Shown; no order.
        base::ShowCaught("CSqlMachine::BuildORDER");
    }
    return {};
}

void CSqlMachine::AddSort(const std::string& field, bool descending) {
    base::ShowErrors("CSqlMachine::AddSort", [&] {
        const std::string name = TrimBlanks(field);
        const std::string table = IsDataFieldName(name) ? "LinkDataSource" : "Test";
        const std::string key = table + "." + MdbUtils::BracketName(name);
        if (mSortKey[1] == key) {
            mSortKey[1] = mSortKey[0];
            mSortDesc[1] = mSortDesc[0];
        } else if (mSortKey[0] != key) {
            mSortKey[2] = mSortKey[1];
            mSortDesc[2] = mSortDesc[1];
            mSortKey[1] = mSortKey[0];
            mSortDesc[1] = mSortDesc[0];
        }
        mSortKey[0] = key;
        mSortDesc[0] = descending;
    });
}

std::string CSqlMachine::SortFields() const {
    std::string out;
    for (const auto& key : mSortKey) {
        if (key.empty()) continue;
        if (!out.empty()) out += ", ";
        size_t dot = key.find('.');
        out += dot == std::string::npos ? key : key.substr(dot + 1);
    }
    return out;
}

std::string CSqlMachine::GetSql() { return BuildJoin() + BuildWHERE() + BuildORDER(); }

std::string CSqlMachine::GetWhere() { return BuildWHERE(); }

bool CSqlMachine::IsSelfContainedCondition(const std::string& text) {
    // The database layer's parser refuses expressions nested past 48 levels,
    // and a parenthesis costs it at least two; deeper filters are refused here
    // before they reach it.
    constexpr int kMaxNesting = 24;
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            // A quote inside a literal is written twice.
            for (++i;; ++i) {
                if (i >= text.size()) return false;
                if (text[i] == c) {
                    if (i + 1 < text.size() && text[i + 1] == c) ++i;
                    else break;
                }
            }
        } else if (c == '[') {
            size_t end = text.find(']', i + 1);
            if (end == std::string::npos || text.find('[', i + 1) < end) return false;
            i = end;
        } else if (c == '#') {
            // A date literal; a lone # would open one that never closes.
            size_t end = text.find('#', i + 1);
            if (end == std::string::npos) return false;
            i = end;
        } else if (c == '(') {
            if (++depth > kMaxNesting) return false;
        } else if (c == ')') {
            if (--depth < 0) return false;
        } else if (c == ']' || c == ';') {
            return false;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            return false;  // a comment would swallow the rest of the statement
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            return false;
        }
    }
    return depth == 0;
}
