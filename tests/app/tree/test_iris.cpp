// The road on the sample data: samples/iris.csv as the linked table.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "CTRX.h"
#include "TreeFixture.h"

using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

std::vector<std::vector<Cell>> IrisRows() {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/samples/iris.csv");
    std::vector<std::vector<Cell>> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::stringstream ss(line);
        std::string item;
        std::vector<Cell> row;
        for (int i = 0; i < 4 && std::getline(ss, item, ','); ++i) row.push_back(Cell::D(std::stod(item)));
        std::getline(ss, item);
        if (!item.empty() && item.back() == '\r') item.pop_back();
        row.push_back(Cell::T(item));
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(CTRXIris, BuildStoreReloadClassify) {
    const auto rows = IrisRows();
    ASSERT_EQ(rows.size(), 150u);
    GeneratedProject p("iris",
                       {{"SepalLength", "REAL", MatchType::Numeric},
                        {"SepalWidth", "REAL", MatchType::Numeric},
                        {"PetalLength", "REAL", MatchType::Numeric},
                        {"PetalWidth", "REAL", MatchType::Numeric},
                        {"Species", "TEXT", MatchType::Output}},
                       rows, false);
    {
        CTRX trx;
        ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
        ASSERT_TRUE(trx.LoadData(1, 100));
        EXPECT_EQ(trx.LoadCount(), 100);
        trx.SetPruneRate(75);
        ASSERT_TRUE(trx.BuildTree());
        EXPECT_GE(trx.LeafCount(), 3);
        EXPECT_EQ(trx.Items(), 100);
        trx.SaveTree(&p.project);
        EXPECT_TRUE(trx.IsFieldInTree("PetalLength") || trx.IsFieldInTree("PetalWidth"));
    }
    // A new driver takes the stored tree, as the test step does.
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    trx.LoadTree(&p.project);
    ASSERT_TRUE(trx.HasTree());
    trx.Classify(101, 150);
    const auto test = p.TestRows();
    int right = 0;
    for (long key = 101; key <= 150; ++key) {
        const auto [pred, act] = test.at(key);
        EXPECT_GE(act, 1);
        EXPECT_GE(pred, 1);
        if (pred == act) ++right;
    }
    EXPECT_GE(right, 44) << "of 50";
    // Every leaf's condition runs on the linked table and the leaves share the rows out.
    DatabasePtr db = p.project.OpenProject(false);
    long covered = 0;
    for (int32_t n = 0; n < trx.Nodes(); ++n) {
        if (trx.Tree().Node(n).Forks != 0) continue;
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE " + trx.GetSQLLogic(n) + ";",
                                    dao::RecordsetType::Snapshot);
        covered += rs->Fields(0).AsLong();
    }
    EXPECT_EQ(covered, 150);
}

// The committed sample project as the workflow leaves it after the row-range step:
// the extraction and test steps run on it unchanged (a copy, so the samples stay clean).
TEST(CTRXIris, CommittedSampleProjectRunsTheRoad) {
    ui::ScopedRecorder dialogs;
    const std::string dir = treetest::CopySampleProject("iris-sample");
    CProject project;
    project.SetFileName(dir + "/iris.txp");
    const long trainLow = std::stol(project.GetConfig("TrainLow"));
    const long trainHigh = std::stol(project.GetConfig("TrainHigh"));
    const long testLow = std::stol(project.GetConfig("TestLow"));
    const long testHigh = std::stol(project.GetConfig("TestHigh"));
    EXPECT_EQ(trainLow, 1);
    EXPECT_EQ(trainHigh, 100);
    EXPECT_EQ(testLow, 101);
    EXPECT_EQ(testHigh, 150);

    DatabasePtr db = project.OpenProject(false);
    ASSERT_TRUE(db);
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Load(db);
    {
        CTRX trx;
        ASSERT_TRUE(trx.Initialize(dataDef, &project));
        ASSERT_TRUE(trx.LoadData(trainLow, trainHigh));
        EXPECT_EQ(trx.LoadCount(), 100);
        ASSERT_TRUE(trx.BuildTree());
        EXPECT_EQ(trx.Items(), 100);
        trx.SaveTree(&project);
    }
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(dataDef, &project));
    trx.LoadTree(&project);
    ASSERT_TRUE(trx.HasTree());
    trx.Classify(testLow, testHigh);

    auto rs = db->OpenRecordset("SELECT Count(*) FROM Test WHERE Predicted >= 1 AND Actual >= 1;",
                                dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 50);
    rs = db->OpenRecordset("SELECT Count(*) FROM Test WHERE Predicted = Actual;", dao::RecordsetType::Snapshot);
    EXPECT_GE(rs->Fields(0).AsLong(), 44) << "of 50";
    project.CloseProject();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
