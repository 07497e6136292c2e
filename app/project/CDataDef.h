// The field definitions of the user's table: one entry per field with its name,
// type code, statistics, the user's choices and its class count; saved in the
// project table FieldConfig. Statistics and the DValues_ value tables are
// collected from the linked table by CollectStats.
#pragma once

#include "MdbUtils.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// MatchType values.
namespace MatchType {
constexpr int16_t Unusable = -2;
constexpr int16_t NotUsed = -1;
constexpr int16_t Numeric = 1;
constexpr int16_t Text = 2;
constexpr int16_t Output = 15;
}  // namespace MatchType

class CDataDef {
public:
    CDataDef() = default;

    // Per-field members take an index 0 .. FieldCount - 1; any other raises
    // app::RuntimeError 9 (subscript out of range).
    bool InitDone() const { return mInitDone; }
    int32_t RecordCount() const { return mRecordCount; }
    int32_t MissingValues(int16_t i) const;

    void Load(const DatabasePtr& db);
    // False after the box when the field definitions could not be written.
    bool Save(const DatabasePtr& db);
    void CollectStats(const DatabasePtr& db);
    void Initialize(const DatabasePtr& db, const std::string& tableName);

    int16_t PrimaryKeyField() const { return mPrimaryKeyField; }
    // True when the primary index has more than one field (no single key field).
    bool CompositeKey() const { return mCompositeKey; }
    bool Cancel() const { return mCancel; }
    void SetCancel(bool cancel) { mCancel = cancel; }

    int16_t MaxClass(int16_t i) const;
    int16_t UserOutOfRange(int16_t i) const;
    double UserMin(int16_t i) const;
    void SetUserMin(int16_t i, double v);
    double UserMax(int16_t i) const;
    void SetUserMax(int16_t i, double v);
    int16_t UserMatchType(int16_t i) const;
    void SetUserMatchType(int16_t i, int16_t v);
    int16_t UserImportance(int16_t i) const;
    void SetUserImportance(int16_t i, int16_t v);
    int16_t FieldCount() const { return mFieldCount; }
    double FieldStdDev(int16_t i) const;
    double FieldAvg(int16_t i) const;
    double FieldMin(int16_t i) const;
    double FieldMax(int16_t i) const;
    int16_t FieldType(int16_t i) const;
    const std::string& FieldName(int16_t i) const;
    const std::string& TableName() const { return mTableName; }

    // Event Progress(Percent): percentage of fields done during CollectStats, -1 at the end.
    std::function<void(int16_t percent)> OnProgress;

    // The value a numeric statistic gets when the field holds no value.
    static constexpr double NoStatistic = -660000.0;

private:
    struct FieldDef {
        std::string name;
        int16_t type = 0;
        double max = 0, min = 0, avg = 0, stdDev = 0;
        int16_t userImportance = 0;
        int16_t userMatchType = 0;
        double userMax = 0, userMin = 0;
        int16_t userOutOfRange = 0;
        int16_t maxClass = 0;
        int32_t missing = 0;
    };
    FieldDef& At(int16_t i);
    const FieldDef& At(int16_t i) const;
    void Resize(int16_t count);

    // One field's share of CollectStats, from the scanner's reads.
    void SetFieldStats(int16_t i);
    void MakeValuesTable(const DatabasePtr& db, int16_t i);
    bool MakeSupportTable(const DatabasePtr& db);  // false after the box
    void RaiseProgress(int16_t percent);
    // The whole-table reads of CollectStats, made ahead on worker connections;
    // set only while CollectStats runs.
    class FieldScanner* mScanner = nullptr;

    std::string mTableName;
    std::vector<FieldDef> mFields;
    int16_t mFieldCount = 0;
    int16_t mPrimaryKeyField = -1;
    bool mCompositeKey = false;
    int32_t mRecordCount = 0;
    bool mCancel = false;
    bool mInitDone = false;
};
