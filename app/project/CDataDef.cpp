#include "CDataDef.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "FieldScan.h"

#include <QCoreApplication>
#include <QString>

#include <cmath>

using MdbUtils::SqlText;

CDataDef::FieldDef& CDataDef::At(int16_t i) {
    if (i < 0 || i >= mFieldCount || size_t(i) >= mFields.size()) app::RaiseError(9);
    return mFields[size_t(i)];
}

const CDataDef::FieldDef& CDataDef::At(int16_t i) const {
    if (i < 0 || i >= mFieldCount || size_t(i) >= mFields.size()) app::RaiseError(9);
    return mFields[size_t(i)];
}

void CDataDef::Resize(int16_t count) {
    mFieldCount = count;
    mFields.assign(size_t(std::max<int16_t>(count, 0)), FieldDef{});
}

int32_t CDataDef::MissingValues(int16_t i) const { return At(i).missing; }
int16_t CDataDef::MaxClass(int16_t i) const { return At(i).maxClass; }
int16_t CDataDef::UserOutOfRange(int16_t i) const { return At(i).userOutOfRange; }
double CDataDef::UserMin(int16_t i) const { return At(i).userMin; }
void CDataDef::SetUserMin(int16_t i, double v) { At(i).userMin = v; }
double CDataDef::UserMax(int16_t i) const { return At(i).userMax; }
void CDataDef::SetUserMax(int16_t i, double v) { At(i).userMax = v; }
int16_t CDataDef::UserMatchType(int16_t i) const { return At(i).userMatchType; }
void CDataDef::SetUserMatchType(int16_t i, int16_t v) { At(i).userMatchType = v; }
int16_t CDataDef::UserImportance(int16_t i) const { return At(i).userImportance; }
void CDataDef::SetUserImportance(int16_t i, int16_t v) { At(i).userImportance = v; }
double CDataDef::FieldStdDev(int16_t i) const { return At(i).stdDev; }
double CDataDef::FieldAvg(int16_t i) const { return At(i).avg; }
double CDataDef::FieldMin(int16_t i) const { return At(i).min; }
double CDataDef::FieldMax(int16_t i) const { return At(i).max; }
int16_t CDataDef::FieldType(int16_t i) const { return At(i).type; }
const std::string& CDataDef::FieldName(int16_t i) const { return At(i).name; }

void CDataDef::Initialize(const DatabasePtr& db, const std::string& tableName) {
    if (!db || tableName.empty()) return;
    base::ShowErrors("CDataDef::Initialize", [&] {
        dao::TableDefs& defs = db->TableDefs();
        dao::TableDef table;
        for (int t = 0; t < defs.Count(); ++t) {
            dao::TableDef candidate = defs[t];
            if (candidate.Name() == tableName) {
                table = candidate;
                break;
            }
        }
        if (table.IsNothing()) return;
        mTableName = tableName;
        dao::Fields& fields = table.Fields();
        Resize(int16_t(fields.Count()));
        for (int16_t i = 0; i < mFieldCount; ++i) {
            dao::Field f = fields[i];
            FieldDef& d = mFields[size_t(i)];
            const int16_t type = f.Type();
            const int16_t cls = MdbUtils::FieldTypeClass(type);
            d.name = f.Name();
            d.type = (f.Attributes() & dao::dbAutoIncrField) ? int16_t(-type) : type;
            d.userImportance = -1;
            d.userOutOfRange = cls == MdbUtils::TypeClassOrdered ? 1 : 0;
            d.userMatchType = cls == MdbUtils::TypeClassUnusable ? MatchType::Unusable : MatchType::NotUsed;
        }
        mCompositeKey = false;
        for (dao::Index index : table.Indexes()) {
            if (!index.Primary()) continue;
            dao::Fields& keyFields = index.Fields();
            mCompositeKey = keyFields.Count() > 1;
            for (dao::Field k : keyFields)
                for (int16_t i = 0; i < mFieldCount; ++i)
                    if (mFields[size_t(i)].name == k.Name()) mPrimaryKeyField = i;
            break;
        }
        mRecordCount = int32_t(table.RecordCount());
    });
}

void CDataDef::Load(const DatabasePtr& db) {
    if (!db || !db->Updatable()) return;
    base::ShowErrors("CDataDef::Load", [&] {
        if (!MdbUtils::TableExists(db, "FieldConfig")) {
            mInitDone = false;
            return;
        }
        RecordsetPtr rs = db->OpenRecordset("FieldConfig", dao::RecordsetType::Dynaset);
        if (rs->Bof() && rs->Eof()) {
            rs->Close();
            mInitDone = false;
            return;
        }
        rs->MoveLast();
        Resize(int16_t(rs->RecordCount()));
        for (int16_t i = 0; i < mFieldCount; ++i) {
            rs->FindFirst("FieldOrder = " + std::to_string(i));
            if (rs->NoMatch()) break;
            FieldDef& d = mFields[size_t(i)];
            d.name = rs->Fields("FieldName").AsString();
            d.type = dao::VarToShort(rs->Fields("FieldType").Value());
            d.max = rs->Fields("FieldMax").AsDouble();
            d.min = rs->Fields("FieldMin").AsDouble();
            d.avg = rs->Fields("FieldAvg").AsDouble();
            d.stdDev = rs->Fields("FieldStdDev").AsDouble();
            d.userImportance = rs->Fields("UserImportance").AsShort();
            d.userMatchType = rs->Fields("UserMatchType").AsShort();
            d.userMax = rs->Fields("UserMax").AsDouble();
            d.userMin = rs->Fields("UserMin").AsDouble();
            d.userOutOfRange = rs->Fields("UserOutOfRange").AsShort();
            d.maxClass = rs->Fields("MaxClass").AsShort();
            d.missing = rs->Fields("Missing").AsLong();
            if (rs->Fields("PrimaryKeyField").AsBool()) mPrimaryKeyField = i;
        }
        rs->Close();
        mInitDone = true;
    });
}

bool CDataDef::MakeSupportTable(const DatabasePtr& db) {
    if (!db || !db->Updatable()) return false;
    return base::ShowErrors("CDataDef::MakeSupportTable", [&] {
        db->Execute(
            "CREATE TABLE FieldConfig (FieldOrder SHORT CONSTRAINT pKey PRIMARY KEY, FieldName TEXT(255), "
            "FieldType TEXT(255), FieldMax DOUBLE, FieldMin DOUBLE, FieldAvg DOUBLE, FieldStdDev DOUBLE, "
            "UserImportance SHORT, UserMatchType SHORT, UserMax DOUBLE, UserMin DOUBLE, UserOutOfRange SHORT, "
            "PrimaryKeyField SHORT, MaxClass SHORT, Missing LONG);");
        return true;
    });
}

bool CDataDef::Save(const DatabasePtr& db) {
    if (!db || !db->Updatable()) return false;
    return base::ShowErrors("CDataDef::Save", [&] {
        if (!MdbUtils::TableExists(db, "FieldConfig") && !MakeSupportTable(db)) return false;
        RecordsetPtr rs = db->OpenRecordset("FieldConfig", dao::RecordsetType::Dynaset);
        for (int16_t i = 0; i < mFieldCount; ++i) {
            const FieldDef& d = mFields[size_t(i)];
            rs->FindFirst("FieldName = " + SqlText(d.name));
            if (rs->NoMatch()) rs->AddNew();
            else rs->Edit();
            rs->Fields("FieldOrder").SetValue(com::Variant::I2(i));
            rs->Fields("FieldName").SetValue(com::Variant::Str(d.name));
            rs->Fields("FieldType").SetValue(com::Variant::Str(std::to_string(d.type)));
            rs->Fields("FieldMax").SetValue(com::Variant::R8(d.max));
            rs->Fields("FieldMin").SetValue(com::Variant::R8(d.min));
            rs->Fields("FieldAvg").SetValue(com::Variant::R8(d.avg));
            rs->Fields("FieldStdDev").SetValue(com::Variant::R8(d.stdDev));
            rs->Fields("UserImportance").SetValue(com::Variant::I2(d.userImportance));
            rs->Fields("UserMatchType").SetValue(com::Variant::I2(d.userMatchType));
            rs->Fields("UserMax").SetValue(com::Variant::R8(d.userMax));
            rs->Fields("UserMin").SetValue(com::Variant::R8(d.userMin));
            rs->Fields("UserOutOfRange").SetValue(com::Variant::I2(d.userOutOfRange));
            rs->Fields("PrimaryKeyField").SetValue(com::Variant::I2(i == mPrimaryKeyField ? -1 : 0));
            rs->Fields("MaxClass").SetValue(com::Variant::I2(d.maxClass));
            rs->Fields("Missing").SetValue(com::Variant::I4(d.missing));
            rs->Update();
        }
        rs->Close();
        return true;
    });
}

void CDataDef::RaiseProgress(int16_t percent) {
    if (OnProgress) OnProgress(percent);
}

void CDataDef::SetFieldStats(int16_t i) {
    base::ShowErrors("CDataDef::SetFieldStats", [&] {
        FieldDef& d = At(i);
        const FieldScan& scan = mScanner->Get(size_t(i));
        if (scan.statsError) std::rethrow_exception(scan.statsError);
        const int16_t type = d.type < 0 ? int16_t(-d.type) : d.type;
        const bool numeric = MdbUtils::IsNumericType(type);
        if (numeric || MdbUtils::IsDateType(type)) {
            // Dates are day serials, so that they compare and average as numbers; a
            // missing date statistic is 0, a missing numeric one the marker value.
            const double none = numeric ? NoStatistic : 0.0;
            auto stat = [none](const std::optional<double>& v) { return v ? *v : none; };
            d.max = stat(scan.max);
            d.min = stat(scan.min);
            d.avg = stat(scan.avg);
            d.stdDev = stat(scan.stdDev);
            d.userMax = d.max;
            d.userMin = d.min;
        } else {
            d.max = d.min = d.avg = d.stdDev = d.userMax = d.userMin = 0;
        }
        d.missing = scan.rows - scan.nonNull;
    });
}

void CDataDef::MakeValuesTable(const DatabasePtr& db, int16_t i) {
    FieldDef& d = At(i);
    const std::string n = "DValues_" + std::to_string(i);
    if (MdbUtils::TableExists(db, n)) db->TableDefs().Delete(n);
    const int16_t type = d.type < 0 ? int16_t(-d.type) : d.type;
    if (MdbUtils::IsBlobType(type)) return;
    const FieldScan& scan = mScanner->Get(size_t(i));
    if (scan.valuesError) std::rethrow_exception(scan.valuesError);
    const size_t groups = scan.many ? 257 : scan.values.size();
    if (groups < 1 || groups > 256) {
        // No values, or more than 256: no table, and no classes.
        d.maxClass = 0;
        return;
    }
    // Made, filled and numbered as one unit: a failure part-way leaves no
    // value table without its class numbers. A value whose text is "?" (the
    // usual mark of an unknown) is not a class.
    d.maxClass = 0;
    dao::Transaction made(*db);
    db->Execute("CREATE TABLE " + n +
                " (DValues TEXT(255), [Count] LONG, ValueNum COUNTER CONSTRAINT PrimaryKey PRIMARY KEY);");
    RecordsetPtr rs = db->OpenRecordset(n, dao::RecordsetType::Dynaset);
    int16_t kept = 0;
    for (const auto& [value, count] : scan.values) {
        if (QString::fromStdString(value).trimmed() == QStringLiteral("?")) continue;
        rs->AddNew();
        rs->Fields("DValues").SetValue(com::Variant::Str(value));
        rs->Fields("Count").SetValue(com::Variant::I4(count));
        rs->Update();
        ++kept;
    }
    rs->Close();
    made.Commit();
    d.maxClass = kept;
}

void CDataDef::CollectStats(const DatabasePtr& db) {
    if (!db || mFieldCount < 1 || mInitDone) return;
    mInitDone = false;
    base::ShowErrors("CDataDef::GatherStats", [&] {
        dao::TableDef table = db->TableDefs()[mTableName];
        const int16_t n = int16_t(table.Fields().Count());
        std::vector<ScanField> fields;
        for (int16_t i = 0; i < n; ++i) fields.push_back({table.Fields()[i].Name(), table.Fields()[i].Type()});
        FieldScanner scanner(db, mTableName, fields);
        mScanner = &scanner;
        struct Reset {
            FieldScanner*& scanner;
            ~Reset() { scanner = nullptr; }
        } reset{mScanner};
        for (int16_t i = 0; i < n; ++i) {
            SetFieldStats(i);
            MakeValuesTable(db, i);
            if (MdbUtils::FieldTypeClass(fields[size_t(i)].type) == MdbUtils::TypeClassCategorical &&
                MaxClass(i) == 0)
                SetUserMatchType(i, MatchType::Unusable);
            RaiseProgress(int16_t(std::nearbyint((i + 1) * 100.0 / n)));
            if (QCoreApplication::instance()) QCoreApplication::processEvents();
            if (mCancel) return;
        }
        int32_t rows = int32_t(table.RecordCount());
        if (rows == -1) {
            const FieldScan& first = scanner.Get(0);
            if (first.statsError) std::rethrow_exception(first.statsError);
            rows = first.rows;
        }
        mRecordCount = rows;
        mInitDone = true;
        RaiseProgress(-1);
    });
}
