// The one SELECT statement behind the data grid: the rows of LinkDataSource
// joined to their result row in Test, filtered by mark, class, correctness,
// key range and a free condition, sorted by up to three keys.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CDataDef;
class CProject;

class CSqlMachine {
public:
    void Initialize(std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CProject> project);

    // 0 all rows (the output field shown), 1 test view (actual and predicted
    // classes shown, class filters apply). Setting it clears the sort keys,
    // Threshold, Actual, Predicted and MarkView.
    int16_t BrowseType() const { return mBrowseType; }
    void SetBrowseType(int16_t value);
    int16_t MarkView() const { return mMarkView; }  // 0 all, 1 marked, 2 unmarked
    void SetMarkView(int16_t value) { mMarkView = value; }
    int16_t PredictType() const { return mPredictType; }  // 0 all, 1 correct, other wrong
    void SetPredictType(int16_t value) { mPredictType = value; }
    int16_t Actual() const { return mActual; }  // class number, -1 none
    void SetActual(int16_t value) { mActual = value; }
    int16_t Predicted() const { return mPredicted; }
    void SetPredicted(int16_t value) { mPredicted = value; }
    double Threshold() const { return mThreshold; }
    void SetThreshold(double value) { mThreshold = value; }
    // Key range as text, "" for no bound. A value that is not a number for a
    // numeric key is compared as a quoted text, so it cannot change the statement.
    const std::string& KeyMin() const { return mKeyMin; }
    void SetKeyMin(const std::string& value) { mKeyMin = value; }
    void SetKeyMax(const std::string& value) { mKeyMax = value; }
    // An extra condition in Jet SQL, "" for none. It must be one condition:
    // balanced parentheses, closed quotes and brackets, no ";".
    const std::string& ReplaceWhere() const { return mReplaceWhere; }
    void SetReplaceWhere(const std::string& value) { mReplaceWhere = value; }

    // Makes Field (a column of the data table, or Mark, Actual, Predicted) the
    // first sort key; the keys never hold the same key twice.
    void AddSort(const std::string& field, bool descending);
    // The sort keys for display: "[A], [Mark]".
    std::string SortFields() const;

    std::string GetSql();
    std::string GetWhere();  // " WHERE ... " or ""
    std::string GetFrom() const;
    // The join of the data table and Test on the data key, from FROM to the
    // key, as the browse statements write it.
    static std::string JoinFrom(const std::string& keyField);

    // Whether text is one self-contained condition (see ReplaceWhere).
    static bool IsSelfContainedCondition(const std::string& text);
    // A plain decimal number ("12", "-3.5", "1e6"), as a numeric value is written into SQL.
    static bool IsPlainNumber(std::string_view text);

private:
    std::string BuildJoin();
    std::string BuildWHERE();
    std::string BuildORDER();
    std::string KeyBound(const std::string& op, const std::string& value) const;
    std::string KeyFieldName() const;
    bool IsDataFieldName(const std::string& name) const;
    // A column of Test, qualified only when a data field has the same name.
    std::string TestColumn(const std::string& name, bool bracketed) const;
    int16_t OutputField() const;

    std::shared_ptr<CDataDef> mDataDef;
    std::shared_ptr<CProject> mProject;
    int16_t mBrowseType = 0;
    int16_t mMarkView = 0;
    int16_t mPredictType = 0;
    int16_t mActual = -1;
    int16_t mPredicted = -1;
    double mThreshold = 0;
    std::string mKeyMin, mKeyMax, mReplaceWhere;
    std::array<std::string, 3> mSortKey;  // "Test.[x]" or "LinkDataSource.[x]", most significant first
    std::array<bool, 3> mSortDesc{};
};
