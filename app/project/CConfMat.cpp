#include "CConfMat.h"

#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"

size_t CConfMat::Slot(int16_t i) const {
    if (i < -1 || i > mClassCount || mActualTotals.empty()) app::RaiseError(9);
    return static_cast<size_t>(i + 1);
}

size_t CConfMat::Cell(int16_t actual, int16_t predicted) const {
    return Slot(actual) * (static_cast<size_t>(mClassCount) + 2) + Slot(predicted);
}

void CConfMat::Initialize(CProject& project, const CDataDef& dataDef, int32_t firstRow, int32_t lastRow) {
    int16_t output = -1;
    for (int16_t i = 0; i < dataDef.FieldCount(); ++i)
        if (dataDef.UserMatchType(i) == MatchType::Output) {
            output = i;  // the first, as the tree driver takes it
            break;
        }
    if (output < 0) throw app::RuntimeError(5, "There is no output field.");

    DatabasePtr db = project.OpenProject(false);
    if (!db) app::RaiseError(91);
    const long classes = db->TableDefs()["DValues_" + std::to_string(output)].RecordCount();
    if (classes < 0 || classes > 32767) app::RaiseError(6);

    mClassCount = static_cast<int16_t>(classes);
    const size_t n = static_cast<size_t>(mClassCount) + 2;
    mMatrix.assign(n * n, 0);
    mActualTotals.assign(n, 0);
    mPredictTotals.assign(n, 0);
    mActualError.assign(n, 0.0f);
    mPredictError.assign(n, 0.0f);
    mTotal = mErrors = mMissingRows = 0;

    // Positions count in the order of the keys, as the classification counted
    // the data rows: never in the order the rows happen to be stored.
    auto rs = db->OpenRecordset("SELECT Actual, Predicted FROM Test ORDER BY MainPrimaryKey;",
                                dao::RecordsetType::ForwardOnly);
    // Positions count from 1; a range that starts before the first row starts there.
    int32_t position = firstRow < 1 ? 1 : firstRow;
    if (position > 1 && !rs->Eof()) rs->Move(position - 1);
    // An empty Test table (or a range past its end) is an empty matrix.
    while (!rs->Eof()) {
        const int16_t a = rs->Fields("Actual").AsShort();
        const int16_t p = rs->Fields("Predicted").AsShort();
        ++mMatrix[Cell(a, p)];
        if (a < 1 || p < 1) {
            ++mMissingRows;
        } else {
            ++mActualTotals[Slot(a)];
            ++mPredictTotals[Slot(p)];
            ++mTotal;
            if (a != p) ++mErrors;
        }
        rs->MoveNext();
        ++position;
        if (position > lastRow) break;
    }
    rs->Close();

    for (int16_t i = 0; i <= mClassCount; ++i) {
        const int32_t diagonal = mMatrix[Cell(i, i)];
        const size_t s = Slot(i);
        mActualError[s] = mActualTotals[s] > 0 ? float(mActualTotals[s] - diagonal) / float(mActualTotals[s]) : 0.0f;
        mPredictError[s] = mPredictTotals[s] > 0 ? float(mPredictTotals[s] - diagonal) / float(mPredictTotals[s]) : 0.0f;
    }
}

int32_t CConfMat::Matrix(int16_t actual, int16_t predicted) const { return mMatrix[Cell(actual, predicted)]; }

int32_t CConfMat::ActualTotals(int16_t i) const { return mActualTotals[Slot(i)]; }

int32_t CConfMat::PredictTotals(int16_t i) const { return mPredictTotals[Slot(i)]; }

float CConfMat::ActualError(int16_t i) const {
    if (i < 0) app::RaiseError(9);
    return mActualError[Slot(i)];
}

float CConfMat::PredictError(int16_t i) const {
    if (i < 0) app::RaiseError(9);
    return mPredictError[Slot(i)];
}

float CConfMat::TotalError() const { return mTotal == 0 ? 0.0f : float(mErrors) / float(mTotal); }
