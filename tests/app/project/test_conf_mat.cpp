// The confusion matrix over a Test table filled by SQL.
#include "CConfMat.h"

#include "AppErrors.h"
#include "model_fixture.h"

#include <array>

namespace {

// (actual, predicted) of the rows with keys 1 .. 12.
constexpr std::array<std::array<int, 2>, 12> kRows = {{
    {1, 1}, {1, 1}, {1, 1}, {1, 2}, {2, 2}, {2, -1}, {3, 2}, {-1, 1}, {0, 2}, {2, 2}, {3, 1}, {2, 2},
}};

class ConfMatTest : public ModelFixture {
protected:
    void SetUp() override {
        std::vector<std::string> sql = {
            "CREATE TABLE Rows (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, X LONG, Out Text(10), Grp Text(10));"};
        // Inserted out of key order: positions follow the key.
        for (int id : {7, 3, 12, 1, 9, 5, 11, 2, 4, 6, 10, 8})
            sql.push_back("INSERT INTO Rows VALUES (" + std::to_string(id) + ", " + std::to_string(id * 3) + ", '" +
                          std::string(1, char('a' + id % 3)) + "', 'g" + std::to_string(id % 2) + "');");
        MakeData(sql);
        MakeProject("Rows", "Out");
        for (int id = 1; id <= 12; ++id) SetRow(id, kRows[id - 1][0], kRows[id - 1][1]);
    }
    void SetRow(int id, int actual, int predicted) {
        Exec("UPDATE Test SET Actual = " + std::to_string(actual) + ", Predicted = " + std::to_string(predicted) +
             " WHERE MainPrimaryKey = " + std::to_string(id) + ";");
    }
    // Checks every cell, total and rate against a count of the rows first..last (by key).
    void CheckRange(const CConfMat& m, int first, int last) {
        const int n = 3;
        std::array<std::array<int, 5>, 5> cells{};
        std::array<int, 5> actualTotals{}, predictTotals{};
        int total = 0, errors = 0, missing = 0;
        for (int id = first; id <= last; ++id) {
            int a = kRows[id - 1][0], p = kRows[id - 1][1];
            ++cells[a + 1][p + 1];
            if (a < 1 || p < 1) {
                ++missing;
                continue;
            }
            ++actualTotals[a + 1];
            ++predictTotals[p + 1];
            ++total;
            errors += a != p;
        }
        ASSERT_EQ(m.ClassCount(), n);
        for (int a = -1; a <= n; ++a)
            for (int p = -1; p <= n; ++p)
                EXPECT_EQ(m.Matrix(int16_t(a), int16_t(p)), cells[a + 1][p + 1]) << a << "," << p;
        for (int i = -1; i <= n; ++i) {
            EXPECT_EQ(m.ActualTotals(int16_t(i)), actualTotals[i + 1]) << i;
            EXPECT_EQ(m.PredictTotals(int16_t(i)), predictTotals[i + 1]) << i;
        }
        for (int i = 0; i <= n; ++i) {
            float ae = actualTotals[i + 1] ? float(actualTotals[i + 1] - cells[i + 1][i + 1]) / actualTotals[i + 1] : 0;
            float pe = predictTotals[i + 1] ? float(predictTotals[i + 1] - cells[i + 1][i + 1]) / predictTotals[i + 1] : 0;
            EXPECT_FLOAT_EQ(m.ActualError(int16_t(i)), ae) << i;
            EXPECT_FLOAT_EQ(m.PredictError(int16_t(i)), pe) << i;
        }
        EXPECT_EQ(m.Total(), total);
        EXPECT_EQ(m.MissingRows(), missing);
        EXPECT_FLOAT_EQ(m.TotalError(), total ? float(errors) / total : 0.0f);
    }
};

}  // namespace

TEST_F(ConfMatTest, EveryCellOfTheWholeTable) {
    CConfMat m;
    m.Initialize(*project, *def, 1, 12);
    CheckRange(m, 1, 12);
    // The rows the Part names: a row without prediction counts only as skipped.
    EXPECT_EQ(m.Matrix(2, -1), 1);
    EXPECT_EQ(m.MissingRows(), 3);
    EXPECT_FLOAT_EQ(m.ActualError(1), 0.25f);
    EXPECT_EQ(m.PredictTotals(3), 0);
    EXPECT_FLOAT_EQ(m.PredictError(3), 0.0f);
    EXPECT_EQ(m.Total(), 9);
    EXPECT_FLOAT_EQ(m.TotalError(), 3.0f / 9.0f);
}

TEST_F(ConfMatTest, RowRanges) {
    CConfMat a;
    a.Initialize(*project, *def, 3, 7);
    CheckRange(a, 3, 7);
    // The first row is counted even when the last is before it.
    CConfMat b;
    b.Initialize(*project, *def, 5, 4);
    CheckRange(b, 5, 5);
    CConfMat c;
    c.Initialize(*project, *def, 10, 1000);
    CheckRange(c, 10, 12);
}

TEST_F(ConfMatTest, ClassesBeyondTheCountReachTheCaller) {
    SetRow(4, 4, 1);
    CConfMat m;
    try {
        m.Initialize(*project, *def, 1, 12);
        FAIL() << "no error";
    } catch (const app::RuntimeError& e) {
        EXPECT_EQ(e.Number(), 9);
    }
    EXPECT_THROW(m.Matrix(5, 0), app::RuntimeError);
}

TEST_F(ConfMatTest, NoTotalsGiveNoErrorRates) {
    for (int id = 1; id <= 12; ++id) SetRow(id, -1, -1);
    CConfMat m;
    m.Initialize(*project, *def, 1, 12);
    EXPECT_EQ(m.Matrix(-1, -1), 12);
    EXPECT_EQ(m.MissingRows(), 12);
    EXPECT_EQ(m.Total(), 0);
    EXPECT_FLOAT_EQ(m.TotalError(), 0.0f);
    for (int16_t i = 0; i <= 3; ++i) EXPECT_FLOAT_EQ(m.ActualError(i), 0.0f);
}

TEST_F(ConfMatTest, EmptyTestTableIsAnEmptyMatrix) {
    Exec("DELETE FROM Test;");
    CConfMat m;
    m.Initialize(*project, *def, 1, 12);
    EXPECT_EQ(m.ClassCount(), 3);
    for (int16_t a = -1; a <= 3; ++a)
        for (int16_t p = -1; p <= 3; ++p) EXPECT_EQ(m.Matrix(a, p), 0);
    EXPECT_EQ(m.Total(), 0);
    EXPECT_EQ(m.MissingRows(), 0);
    EXPECT_FLOAT_EQ(m.TotalError(), 0.0f);
}

TEST_F(ConfMatTest, TheFirstOutputFieldCounts) {
    // Grp (two values) marked as an output after Out: the matrix stays Out's, as the tree driver's is.
    def->SetUserMatchType(FieldIndex("Grp"), MatchType::Output);
    ASSERT_LT(FieldIndex("Out"), FieldIndex("Grp"));
    CConfMat m;
    m.Initialize(*project, *def, 1, 12);
    CheckRange(m, 1, 12);
}
