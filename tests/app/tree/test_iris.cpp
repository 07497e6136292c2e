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
