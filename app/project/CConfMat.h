// The confusion matrix over table Test: rows by actual and predicted class
// number (-1 none, 0 a value outside the output field's values), per-class
// totals and error rates. Errors reach the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CDataDef;
class CProject;

class CConfMat {
public:
    // Counts the rows of Test at positions FirstRow .. LastRow (from 1, in key
    // order); the row at FirstRow is counted even when LastRow is before it, and
    // counting stops at the last row.
    void Initialize(CProject& project, const CDataDef& dataDef, int32_t firstRow, int32_t lastRow);

    // Indexes run from -1 to ClassCount (rates from 0); others raise error 9.
    int32_t Matrix(int16_t actual, int16_t predicted) const;
    int16_t ClassCount() const { return mClassCount; }
    int32_t ActualTotals(int16_t i) const;
    float ActualError(int16_t i) const;
    int32_t PredictTotals(int16_t i) const;
    float PredictError(int16_t i) const;
    int32_t Total() const { return mTotal; }
    float TotalError() const;
    // Rows without an actual or a predicted class (below 1); they are in the
    // matrix but in no total.
    int32_t MissingRows() const { return mMissingRows; }

private:
    size_t Cell(int16_t actual, int16_t predicted) const;
    size_t Slot(int16_t i) const;  // -1 .. ClassCount to 0 .. ClassCount + 1

    int16_t mClassCount = 0;
    std::vector<int32_t> mMatrix;
    std::vector<int32_t> mActualTotals, mPredictTotals;
    std::vector<float> mActualError, mPredictError;
    int32_t mTotal = 0;
    int32_t mErrors = 0;
    int32_t mMissingRows = 0;
};
