// The driver end to end on generated projects: loading, building, storing,
// reloading, classifying, predicting and SQL conditions, with the real engine.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "CClassNames.h"
#include "CConfMat.h"
#include "CNodeData.h"
#include "CSplitRule.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "CTestResults.h"
#include "CTreeBlob.h"
#include "CTreeError.h"
#include "IntegrityCheck.h"
#include "OldFolding.h"
#include "StockShell.h"
#include "TreeFixture.h"

using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

const std::vector<Column> kMixed = {
    {"X", "REAL", MatchType::Numeric},
    {"Y", "INTEGER", MatchType::Numeric},
    {"Colour", "TEXT", MatchType::Text},
    {"Size", "TEXT", MatchType::Text},
    {"Note", "TEXT", MatchType::NotUsed},
    {"Class", "TEXT", MatchType::Output},
};

// Rows with continuous, categorical and missing values: X on a 0.1 grid (cuts
// fall on data values, most of which a 4-byte float cannot hold exactly, so an
// 8-byte comparison with the cut would send some rows the other way), an
// exact -999 now and then, Null and "?"
// inputs, a quote in a categorical value, and missing outputs.
std::vector<std::vector<Cell>> MixedRows(int n, unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pct(0, 99);
    const char* colours[] = {"red", "green", "blue", "O'Brien"};
    // "red" is a size too, numbered otherwise than the colour: each field has codes of its own.
    const char* sizes[] = {"red", "M", "L"};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < n; ++i) {
        const double x = std::floor(std::uniform_real_distribution<double>(0, 100)(rng) * 10) / 10;
        const int y = std::uniform_int_distribution<int>(0, 10)(rng);
        const int c = std::uniform_int_distribution<int>(0, 3)(rng);
        const int s = std::uniform_int_distribution<int>(0, 2)(rng);
        std::string cls = x <= 50 ? (c == 0 || c == 3 ? "A" : "B") : (y > 5 ? "C" : (s == 2 ? "B" : "A"));
        if (pct(rng) < 5) cls = "ABC"[pct(rng) % 3] == 'A' ? "A" : "C";
        Cell cx = Cell::D(x), cc = Cell::T(colours[c]), cy = Cell::D(y), co = Cell::T(cls);
        const int roll = pct(rng);
        if (roll < 4) cx = Cell::N();
        else if (roll < 7) cx = Cell::D(-999);
        if (pct(rng) < 3) cc = Cell::N();
        else if (pct(rng) < 2) cc = Cell::T(" ? ");
        if (pct(rng) < 3) cy = Cell::N();
        const int out = pct(rng);
        if (out < 2) co = Cell::N();
        else if (out < 3) co = Cell::T("?");
        rows.push_back({cx, cy, cc, Cell::T(sizes[s]), Cell::T("n" + std::to_string(i)), co});
    }
    return rows;
}

struct Events {
    std::vector<int> progress;
    void Attach(CTRX& t) {
        t.OnProgress = [this](int16_t p) { progress.push_back(p); };
    }
};

std::vector<std::string> MessageTexts(const ui::RecordingHandler& h) {
    std::vector<std::string> out;
    for (const auto& m : h.Messages()) out.push_back((m.title + " | " + m.text).toStdString());
    return out;
}

// A driver over p with a tree grown from rows 1..rows: Initialize, LoadData, and
// BuildTree at the given prune rate and least items (the engine's own when negative).
::testing::AssertionResult Grown(CTRX& trx, GeneratedProject& p, int32_t rows, float pruneRate = -1,
                                 int32_t minItems = -1) {
    if (!trx.Initialize(p.dataDef, &p.project))
        return ::testing::AssertionFailure() << "Initialize: " << ::testing::PrintToString(MessageTexts(p.dialogs));
    if (!trx.LoadData(1, rows)) return ::testing::AssertionFailure() << "LoadData of " << rows << " rows";
    if (pruneRate >= 0) trx.SetPruneRate(pruneRate);
    if (minItems >= 0) trx.SetMinItems(minItems);
    if (!trx.BuildTree())
        return ::testing::AssertionFailure() << "BuildTree: " << ::testing::PrintToString(MessageTexts(p.dialogs));
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(CTRXLoad, BatchesProgressAndDroppedOutputs) {
    auto rows = MixedRows(260);
    GeneratedProject p("load", kMixed, rows);
    CTRX trx;
    Events ev;
    ev.Attach(trx);
    int yields = 0;
    trx.OnYield = [&] { ++yields; };
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project)) << ::testing::PrintToString(MessageTexts(p.dialogs));
    ASSERT_TRUE(trx.LoadData(1, 250));
    EXPECT_EQ(ev.progress, (std::vector<int>{40, 80, 100}));
    EXPECT_EQ(yields, 3);  // the message loop runs at every progress step
    int sent = 0;
    for (int i = 0; i < 250; ++i)
        if (rows[size_t(i)][5].kind == Cell::Text && rows[size_t(i)][5].text != "?") ++sent;
    EXPECT_EQ(trx.LoadCount(), sent);
    EXPECT_LT(sent, 250);
    EXPECT_EQ(p.project.GetConfig("TrainKeyMin"), "1");
    EXPECT_EQ(p.project.GetConfig("TrainKeyMax"), "250");
    EXPECT_EQ(trx.RangeMin(), 1);
    EXPECT_EQ(trx.RangeMax(), 250);

    // The same range again costs nothing; another one starts from an empty engine.
    ev.progress.clear();
    ASSERT_TRUE(trx.LoadData(1, 250));
    EXPECT_TRUE(ev.progress.empty());
    EXPECT_EQ(trx.LoadCount(), sent);
    ASSERT_TRUE(trx.LoadData(201, 230));
    EXPECT_EQ(ev.progress, (std::vector<int>{100}));  // one batch of 30 rows
    int sent2 = 0;
    for (int i = 200; i < 230; ++i)
        if (rows[size_t(i)][5].kind == Cell::Text && rows[size_t(i)][5].text != "?") ++sent2;
    EXPECT_EQ(trx.LoadCount(), sent2);
    EXPECT_EQ(p.project.GetConfig("TrainKeyMin"), "201");
    EXPECT_TRUE(p.dialogs.Messages().empty()) << ::testing::PrintToString(MessageTexts(p.dialogs));
}

TEST(CTRXLoad, CancelledLoadLeavesNothingForTheNextOne) {
    GeneratedProject p("cancel", kMixed, MixedRows(300, 5));
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    trx.OnProgress = [&](int16_t) { trx.Cancel(); };
    EXPECT_FALSE(trx.LoadData(1, 300));
    EXPECT_TRUE(trx.Canceled());
    const int partial = trx.LoadCount();
    EXPECT_GT(partial, 0);
    EXPECT_LE(partial, 100);
    trx.OnProgress = nullptr;
    ASSERT_TRUE(trx.LoadData(1, 300));
    CTRX fresh;
    ASSERT_TRUE(fresh.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(fresh.LoadData(1, 300));
    EXPECT_EQ(trx.LoadCount(), fresh.LoadCount());  // not partial + full
}

TEST(CTRXLoad, ExactMinus999IsAValueNotMissing) {
    // Class follows X: -999 rows are class B, missing X rows are split either way.
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 60; ++i) {
        Cell x = i % 3 == 0 ? Cell::D(-999) : (i % 3 == 1 ? Cell::D(10 + i) : Cell::N());
        std::string cls = i % 3 == 0 ? "B" : (i % 3 == 1 ? "A" : (i % 2 ? "A" : "B"));
        rows.push_back({x, Cell::D(1), Cell::T("red"), Cell::T("S"), Cell::T("n"), Cell::T(cls)});
    }
    GeneratedProject p("m999", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 60, 0, 2));
    // Were -999 taken as missing, X could not separate B from A.
    ASSERT_GT(trx.Nodes(), 1);
    std::vector<com::Variant> row(trx.FieldMap().size());
    for (auto& v : row) v = com::Variant::Null();
    row[0] = com::Variant::R8(-999);
    EXPECT_EQ(trx.PredictRow(row), 1);  // class B (index 1)
    row[0] = com::Variant::R8(20);
    EXPECT_EQ(trx.PredictRow(row), 0);
}

TEST(CTRXBuild, EngineErrorsKeepTheirOwnText) {
    GeneratedProject p("err", kMixed, MixedRows(20));
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    EXPECT_FALSE(trx.BuildTree());  // no rows loaded: the engine's 3848
    EXPECT_FALSE(trx.HasTree());
    const auto msgs = p.dialogs.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].title, "CTRX::BuildTree");
    EXPECT_TRUE(msgs[0].text.contains("BuildTree: Object not initialized or input data not added."))
        << msgs[0].text.toStdString();
    EXPECT_FALSE(msgs[0].text.contains("32000"));
}

TEST(CTRXBuild, ProgressAndCancel) {
    GeneratedProject p("build", kMixed, MixedRows(3000, 9));
    CTRX trx;
    Events ev;
    ev.Attach(trx);
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 3000));
    ev.progress.clear();
    trx.SetPruneRate(75);
    ASSERT_TRUE(trx.BuildTree());
    ASSERT_GE(ev.progress.size(), 2u);
    EXPECT_EQ(ev.progress.front(), 0);
    EXPECT_EQ(ev.progress.back(), 100);
    EXPECT_TRUE(trx.HasTree());
    EXPECT_GT(trx.LeafCount(), 1);
    EXPECT_EQ(trx.Items(), trx.LoadCount());

    // Cancel at the engine's first event: no tree, no message.
    trx.SetMinItems(3);  // forces a regrowth
    trx.OnProgress = [&](int16_t pc) {
        if (pc > 0) trx.Cancel();
    };
    EXPECT_FALSE(trx.BuildTree());
    EXPECT_FALSE(trx.HasTree());
    EXPECT_EQ(trx.LeafCount(), 0);
    EXPECT_TRUE(trx.Canceled());
    EXPECT_TRUE(p.dialogs.Messages().empty()) << ::testing::PrintToString(MessageTexts(p.dialogs));
}

TEST(CTRXStore, SaveAndLoadByteForByte) {
    GeneratedProject p("store", kMixed, MixedRows(800, 13));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 800, 30, 4));
    trx.SaveTree(&p.project);
    trx.SaveTree(&p.project);  // twice: one row, the blob not doubled
    const std::string stored = p.NodeDataBytes();
    EXPECT_EQ(stored, CTreeBlob::Pack(trx.Tree()));
    EXPECT_EQ(stored.substr(0, 5), "~*TRX");

    p.project.SaveConfig("LastTrainLow", "1");
    p.project.SaveConfig("LastTrainHigh", "800");
    CTRX back;
    ASSERT_TRUE(back.Initialize(p.dataDef, &p.project));
    back.LoadTree(&p.project);
    ASSERT_TRUE(back.HasTree());
    EXPECT_TRUE(back.Tree() == trx.Tree());
    EXPECT_EQ(back.Nodes(), trx.Nodes());
    EXPECT_EQ(back.LeafCount(), trx.LeafCount());
    EXPECT_EQ(back.Items(), trx.Items());
    EXPECT_EQ(back.MissFits(), trx.MissFits());
    EXPECT_FLOAT_EQ(back.PruneRate(), 30.0f);
    EXPECT_EQ(back.MinItems(), 4);
    EXPECT_EQ(back.RangeMin(), 1);
    EXPECT_EQ(back.RangeMax(), 800);
    for (int32_t n = 1; n < back.Nodes(); ++n) EXPECT_EQ(back.GetSQLLogic(n), trx.GetSQLLogic(n));
}

TEST(CTRXStore, NodeDataIsALongTextTableHoldingEveryByte) {
    GeneratedProject p("longtext", kMixed, MixedRows(300, 5));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 300));
    trx.SaveTree(&p.project);
    {
        DatabasePtr db = p.project.OpenProject(false);
        dao::TableDef def = db->TableDefs().Item("NodeData");
        ASSERT_EQ(def.Fields().Count(), 3);
        EXPECT_EQ(def.Fields()[0].Name(), "NodeData");
        EXPECT_EQ(def.Fields()[0].Type(), dao::dbMemo);
        EXPECT_EQ(def.Fields()[1].Name(), "PruneRate");
        EXPECT_EQ(def.Fields()[1].Type(), dao::dbSingle);
        EXPECT_EQ(def.Fields()[2].Name(), "MinItems");
        EXPECT_EQ(def.Fields()[2].Type(), dao::dbLong);
        auto rs = db->OpenRecordset("NodeData", dao::RecordsetType::Snapshot);
        EXPECT_EQ(rs->Fields("NodeData").Value().vt, VT_BSTR);
    }
    // Every byte value, 0 and the five that Windows-1252 leaves undefined
    // included, goes through the column and back.
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(char(b));
    {
        DatabasePtr db = p.project.OpenProject(false);
        CNodeData::Write(db, all, 12.5f, 3);
        CNodeData::Row row;
        ASSERT_TRUE(CNodeData::Read(db, &row));
        EXPECT_EQ(row.blob, all);
        EXPECT_FLOAT_EQ(dao::VarToSingle(row.pruneRate), 12.5f);
        EXPECT_EQ(dao::VarToLong(row.minItems), 3);
    }
    EXPECT_EQ(p.NodeDataBytes(), all);
}

TEST(CTRXStore, BinaryNodeDataIsReadAndRewrittenAsText) {
    GeneratedProject p("upgrade", kMixed, MixedRows(300, 6));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 300, 40, 3));
    const std::string blob = CTreeBlob::Pack(trx.Tree());
    {
        // The table as earlier builds of this program made it.
        DatabasePtr db = p.project.OpenProject(false);
        db->Execute("CREATE TABLE NodeData(NodeData LONGBINARY, PruneRate SINGLE, MinItems LONG);");
        db->Execute("INSERT INTO NodeData (PruneRate, MinItems) VALUES (40, 3);");
        p.project.CloseProject();
        sqlite3* raw = p.OpenRaw();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "UPDATE NodeData SET NodeData = ?", -1, &st, nullptr);
        sqlite3_bind_blob(st, 1, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
        sqlite3_close(raw);
    }
    CTRX back;
    ASSERT_TRUE(back.Initialize(p.dataDef, &p.project));
    back.LoadTree(&p.project);
    ASSERT_TRUE(back.HasTree());
    EXPECT_TRUE(back.Tree() == trx.Tree());
    EXPECT_FLOAT_EQ(back.PruneRate(), 40.0f);
    EXPECT_EQ(back.MinItems(), 3);
    {
        DatabasePtr db = p.project.OpenProject(false);
        EXPECT_EQ(db->TableDefs().Item("NodeData").Fields()[0].Type(), dao::dbMemo);
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM NodeData;", dao::RecordsetType::Snapshot);
        EXPECT_EQ(rs->Fields(0).AsLong(), 1);
        rs = db->OpenRecordset("NodeData", dao::RecordsetType::Snapshot);
        EXPECT_FLOAT_EQ(dao::VarToSingle(rs->Fields("PruneRate").Value()), 40.0f);
        EXPECT_EQ(dao::VarToLong(rs->Fields("MinItems").Value()), 3);
    }
    EXPECT_EQ(p.NodeDataBytes(), blob);
    // And it loads again from the text form.
    CTRX third;
    ASSERT_TRUE(third.Initialize(p.dataDef, &p.project));
    third.LoadTree(&p.project);
    EXPECT_TRUE(third.Tree() == trx.Tree());
}

TEST(CTRXStore, OlderTableFormWrittenAndRead) {
    GeneratedProject p("oldform", kMixed, MixedRows(400, 9));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 400, 0));
    ASSERT_GT(trx.Nodes(), 3);
    trx.OldSaveTree(&p.project);
    trx.OldSaveTree(&p.project);  // twice: the tables are made anew, not added to
    const CTreeModel& t = trx.Tree();
    {
        DatabasePtr db = p.project.OpenProject(false);
        EXPECT_FALSE(MdbUtils::TableExists(db, "NodeData"));
        dao::TableDef nodes = db->TableDefs().Item("TreeNodes");
        const char* names[] = {"NodeNum", "NodeType", "Forks", "FieldNum", "Cut", "DisClass", "Class", "Items", "Errors"};
        const int16_t types[] = {dao::dbLong,   dao::dbInteger, dao::dbInteger, dao::dbInteger, dao::dbSingle,
                                 dao::dbInteger, dao::dbInteger, dao::dbSingle,  dao::dbSingle};
        ASSERT_EQ(nodes.Fields().Count(), 9);
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(nodes.Fields()[i].Name(), names[i]);
            EXPECT_EQ(nodes.Fields()[i].Type(), types[i]) << names[i];
        }
        dao::TableDef links = db->TableDefs().Item("TreeLinks");
        ASSERT_EQ(links.Fields().Count(), 1 + t.Slots());
        for (int b = 0; b < t.Slots(); ++b) EXPECT_EQ(links.Fields()[b + 1].Name(), "L" + std::to_string(b));
        auto rs = db->OpenRecordset("SELECT * FROM TreeNodes ORDER BY NodeNum;", dao::RecordsetType::Snapshot);
        int32_t n = 0;
        for (; !rs->Eof(); rs->MoveNext(), ++n) {
            ASSERT_LT(n, t.Nodes());
            EXPECT_EQ(rs->Fields("NodeNum").AsLong(), n);
            EXPECT_EQ(rs->Fields("Forks").AsShort(), t.Node(n).Forks);
            EXPECT_EQ(dao::VarToSingle(rs->Fields("Cut").Value()), t.Node(n).Cut);
            EXPECT_EQ(dao::VarToSingle(rs->Fields("Items").Value()), t.Node(n).Items);
        }
        EXPECT_EQ(n, t.Nodes());
        rs = db->OpenRecordset("SELECT * FROM TreeLinks ORDER BY NodeNum;", dao::RecordsetType::Snapshot);
        for (n = 0; !rs->Eof(); rs->MoveNext(), ++n)
            for (int b = 0; b < t.Slots(); ++b) EXPECT_EQ(rs->Fields(b + 1).AsLong(), t.Child(n, b)) << n << "/" << b;
        EXPECT_EQ(n, t.Nodes());
    }
    CTRX back;
    ASSERT_TRUE(back.Initialize(p.dataDef, &p.project));
    back.OldLoadTree(&p.project);
    ASSERT_TRUE(back.HasTree());
    EXPECT_TRUE(back.Tree() == t);
    EXPECT_EQ(back.LeafCount(), trx.LeafCount());
}

TEST(CTRXStore, OlderTablesWrittenByHandLoad) {
    GeneratedProject p("oldhand", kMixed, MixedRows(60, 10));
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    trx.OldLoadTree(&p.project);  // no tables: silently nothing
    EXPECT_FALSE(trx.HasTree());
    EXPECT_TRUE(p.dialogs.Messages().empty());

    DatabasePtr db = p.project.OpenProject(false);
    db->Execute("CREATE TABLE TreeNodes (NodeNum LONG CONSTRAINT PrimaryKey PRIMARY KEY, NodeType SHORT, Forks SHORT, "
                "FieldNum SHORT, Cut SINGLE, DisClass SHORT, [Class] SHORT, Items SINGLE, Errors SINGLE);");
    db->Execute("CREATE TABLE TreeLinks (NodeNum LONG CONSTRAINT PrimaryKey PRIMARY KEY, L0 LONG, L1 LONG, L2 LONG);");
    // Root on X at 42.5: 30 rows of class 0 below, 20 of class 1 above; rows in no particular order.
    db->Execute("INSERT INTO TreeNodes VALUES (2, 2, 0, 0, 42.5, 2, 1, 20, 1);");
    db->Execute("INSERT INTO TreeNodes VALUES (0, -1, 2, -1, 0, 0, 0, 50, 20);");
    db->Execute("INSERT INTO TreeNodes VALUES (1, 2, 0, 0, 42.5, 1, 0, 30, 2);");
    db->Execute("INSERT INTO TreeLinks VALUES (1, 0, 0, 0);");
    db->Execute("INSERT INTO TreeLinks VALUES (0, 1, 2, 0);");
    db->Execute("INSERT INTO TreeLinks VALUES (2, 0, 0, 0);");
    trx.OldLoadTree(&p.project);
    ASSERT_TRUE(trx.HasTree());
    EXPECT_EQ(trx.Nodes(), 3);
    EXPECT_EQ(trx.Tree().Slots(), 3);
    EXPECT_EQ(trx.LeafCount(), 2);
    EXPECT_EQ(trx.Items(), 50);
    EXPECT_EQ(trx.MissFits(), 20);
    EXPECT_EQ(trx.Tree().Child(0, 1), 2);
    EXPECT_EQ(trx.Tree().Parent(2), 0);
    EXPECT_EQ(trx.Tree().ParentSlot(2), 1);
    EXPECT_FLOAT_EQ(trx.Tree().Node(2).Cut, 42.5f);
    std::vector<com::Variant> row(trx.FieldMap().size(), com::Variant::Null());
    row[0] = com::Variant::R8(50);
    EXPECT_EQ(trx.PredictRow(row), 1);
    row[0] = com::Variant::R8(42.5);
    EXPECT_EQ(trx.PredictRow(row), 0);

    // A link back to the root is no tree: error 13, the loaded tree kept.
    const CTreeModel before = trx.Tree();
    db->Execute("UPDATE TreeLinks SET L0 = 0 WHERE NodeNum = 0;");
    try {
        trx.OldLoadTree(&p.project);
        ADD_FAILURE() << "a circular tree was loaded";
    } catch (const CTreeError& e) {
        EXPECT_EQ(e.Number(), 13);
    }
    EXPECT_TRUE(trx.HasTree());
    EXPECT_TRUE(trx.Tree() == before);
    // A gap in the node numbers is damage too.
    db->Execute("UPDATE TreeLinks SET L0 = 1 WHERE NodeNum = 0;");
    db->Execute("UPDATE TreeNodes SET NodeNum = 5 WHERE NodeNum = 2;");
    EXPECT_THROW(trx.OldLoadTree(&p.project), CTreeError);
}

TEST(CTRXStore, DamagedBlobIsRefusedAndTheTreeKept) {
    GeneratedProject p("damaged", kMixed, MixedRows(400, 17));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 400));
    trx.SaveTree(&p.project);
    const std::string good = p.NodeDataBytes();
    ASSERT_GT(good.size(), 60u);

    CTRX back;
    ASSERT_TRUE(back.Initialize(p.dataDef, &p.project));
    p.SetNodeDataBytes(good.substr(0, good.size() - 3));
    try {
        back.LoadTree(&p.project);
        ADD_FAILURE() << "a truncated tree was loaded";
    } catch (const CTreeError& e) {
        EXPECT_EQ(e.Number(), 13);
        EXPECT_NE(std::string(e.what()).find("NodeData is damaged"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(back.HasTree());

    // A wrong marker is no tree at all: silently nothing.
    std::string other = good;
    other[1] = '#';
    p.SetNodeDataBytes(other);
    EXPECT_NO_THROW(back.LoadTree(&p.project));
    EXPECT_FALSE(back.HasTree());

    p.SetNodeDataBytes(good);
    back.LoadTree(&p.project);
    EXPECT_TRUE(back.HasTree());
    EXPECT_TRUE(back.Tree() == trx.Tree());

    // Root weights round half to even: 12.5 gives 12, 13.5 gives 14.
    for (const auto& [weight, whole] : {std::pair{12.5f, 12}, std::pair{13.5f, 14}}) {
        CTreeModel leaf;
        TRXNode root;
        root.NodeType = -1;
        root.FieldNum = -1;
        root.Items = weight;
        root.Errors = weight;
        leaf.Assign({root}, 0, {});
        p.SetNodeDataBytes(CTreeBlob::Pack(leaf));
        back.LoadTree(&p.project);
        EXPECT_EQ(back.Items(), whole);
        EXPECT_EQ(back.MissFits(), whole);
        EXPECT_EQ(back.Nodes(), 1);
        EXPECT_EQ(back.LeafCount(), 1);
    }
}

TEST(CTRXClassify, ProgressStepsAndTestColumns) {
    auto rows = MixedRows(600, 21);
    GeneratedProject p("classify", kMixed, rows);
    CTRX trx;
    Events ev;
    ev.Attach(trx);
    ASSERT_TRUE(Grown(trx, p, 500));
    ev.progress.clear();
    trx.Classify(501, 550);
    std::vector<int> steps;
    for (int i = 2; i <= 100; i += 2) steps.push_back(i);
    EXPECT_EQ(ev.progress, steps);
    EXPECT_EQ(p.project.GetConfig("TestKeyMin"), "501");
    EXPECT_EQ(p.project.GetConfig("TestKeyMax"), "550");
    const auto test = p.TestRows();
    for (long key = 1; key <= 600; ++key) {
        const auto [pred, act] = test.at(key);
        if (key < 501 || key > 550) {
            EXPECT_EQ(pred, -1) << key;  // untouched
            continue;
        }
        EXPECT_NE(pred, 0) << key;  // no prediction is -1, never 0
        const Cell& out = rows[size_t(key - 1)][5];
        if (out.kind == Cell::Null || out.text == "?") EXPECT_EQ(act, -1) << key;
        else EXPECT_GE(act, 1) << key;
    }

    ev.progress.clear();
    trx.Classify(560, 560);
    EXPECT_EQ(ev.progress, (std::vector<int>{100}));

    // Cancel: counted rows are written, later ones keep their old values.
    trx.OnProgress = [&](int16_t pc) {
        if (pc >= 10) trx.Cancel();
    };
    trx.Classify(1, 500);
    EXPECT_TRUE(trx.Canceled());
    const auto after = p.TestRows();
    int written = 0;
    for (long key = 1; key <= 500; ++key)
        if (after.at(key).second != -1 || after.at(key).first != -1) ++written;
    EXPECT_GE(written, 40);
    EXPECT_LE(written, 55);
    EXPECT_EQ(after.at(400).first, -1);
}

// Test rows after the first are found by the key of the first: with keys
// that are not row numbers, the same rows get the same results.
TEST(CTRXClassify, LaterRowsStartAtTheirFirstKey) {
    auto rows = MixedRows(600, 21);
    GeneratedProject p("classify-keys", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 300));
    ASSERT_TRUE(trx.BuildTree());
    trx.Classify(301, 600);
    const auto expected = p.TestRows();
    for (const std::string& file : {p.dataPath, p.projectPath}) {
        const std::string table = file == p.dataPath ? "Data" : "Test", key = file == p.dataPath ? "Id" : "MainPrimaryKey";
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
        const std::string sql = "UPDATE " + table + " SET " + key + " = -" + key + "; UPDATE " + table + " SET " + key +
                                " = -" + key + " * 3" + (table == "Test" ? ", Predicted = -1, Actual = -1;" : ";");
        EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    trx.Classify(351, 420);
    EXPECT_EQ(p.project.GetConfig("TestKeyMin"), "1053");
    EXPECT_EQ(p.project.GetConfig("TestKeyMax"), "1260");
    const auto test = p.TestRows();
    ASSERT_EQ(test.size(), 600u);
    for (long row = 1; row <= 600; ++row) {
        if (row < 351 || row > 420) EXPECT_EQ(test.at(row * 3), std::make_pair(-1, -1)) << row;
        else EXPECT_EQ(test.at(row * 3), expected.at(row)) << row;
    }
}

TEST(CTRXClassify, ClassifyPredictRowAndSqlAgree) {
    auto rows = MixedRows(1500, 29);
    GeneratedProject p("agree", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 1000, 10, 2));
    ASSERT_GT(trx.LeafCount(), 3);
    // Put test rows right on and just above the cuts of X: as 8-byte values
    // above the 4-byte cut, as the floats training compared equal to it.
    std::vector<double> edges;
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        const TRXNode& t = trx.Tree().Node(n);
        if (t.NodeType == 2 && p.dataDef->FieldName(trx.FieldMap()[size_t(t.FieldNum)]) == "X" && t.DisClass == 1) {
            edges.push_back(double(t.Cut));
            edges.push_back(std::nextafter(double(t.Cut), 1e300));
            // Above the cut's short text but still the cut as a float.
            const double shortText = std::strtod(CSplitRule::CutText(t.Cut).c_str(), nullptr);
            if (float(std::nextafter(shortText, 1e300)) == t.Cut) edges.push_back(std::nextafter(shortText, 1e300));
        }
    }
    ASSERT_FALSE(edges.empty());
    {
        sqlite3* raw = nullptr;
        sqlite3_open(p.dataPath.c_str(), &raw);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "UPDATE Data SET X = ? WHERE Id = ?", -1, &st, nullptr);
        for (int i = 0; i < 200; ++i) {
            const double x = edges[size_t(i) % edges.size()];
            rows[size_t(1000 + i)][0] = Cell::D(x);
            sqlite3_bind_double(st, 1, x);
            sqlite3_bind_int(st, 2, 1001 + i);
            EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_close(raw);
    }
    trx.Classify(1001, 1500);
    const auto test = p.TestRows();

    // Leaf -> rows its condition selects on the linked table.
    std::map<long, std::vector<int32_t>> leavesOf;
    DatabasePtr db = p.project.OpenProject(false);
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        if (trx.Tree().Node(n).Forks != 0) continue;
        auto rs = db->OpenRecordset("SELECT [Id] FROM LinkDataSource WHERE " + trx.GetSQLLogic(n) + ";",
                                    dao::RecordsetType::Snapshot);
        while (!rs->Eof()) {
            leavesOf[rs->Fields(0).AsLong()].push_back(n);
            rs->MoveNext();
        }
    }

    CClassNames names;
    std::shared_ptr<CDataDef> dd = p.dataDef;
    names.Initialize(&p.project, dd);
    const auto& map = trx.FieldMap();
    int predicted = 0, none = 0;
    for (long key = 1001; key <= 1500; ++key) {
        const auto& r = rows[size_t(key - 1)];
        std::vector<com::Variant> row(map.size());
        for (size_t k = 0; k < map.size(); ++k) {
            const std::string name = p.dataDef->FieldName(map[k]);
            size_t c = 0;
            while (kMixed[c].name != name) ++c;
            const Cell& v = r[c];
            const bool missing = v.kind == Cell::Null || (v.kind == Cell::Text && v.text.find('?') != std::string::npos);
            if (missing) row[k] = com::Variant::Null();
            else if (kMixed[c].matchType == MatchType::Text) row[k] = com::Variant::I2(int16_t(names.ClassNumber(map[k], v.text) + 1));
            else row[k] = com::Variant::R8(v.num);
        }
        const int16_t cls = trx.PredictRow(row);
        const int stored = test.at(key).first;
        EXPECT_EQ(stored, cls < 0 ? -1 : cls + 1) << "row " << key;
        const auto& leaves = leavesOf[key];
        if (cls < 0) {
            EXPECT_TRUE(leaves.empty()) << "row " << key << " has no prediction but a leaf selects it";
            ++none;
        } else {
            ASSERT_EQ(leaves.size(), 1u) << "row " << key;
            EXPECT_EQ(leaves[0], trx.LastPredictNode()) << "row " << key;
            EXPECT_EQ(trx.Tree().Node(leaves[0]).Class, cls) << "row " << key;
            ++predicted;
        }
    }
    EXPECT_GT(predicted, 300);
    EXPECT_GT(none, 0);  // missing values on tested fields stop some rows
}

TEST(CTRXPredict, ConfidenceOfPureLeaves) {
    for (int n : {29, 30}) {
        std::vector<std::vector<Cell>> rows;
        for (int i = 0; i < n; ++i)
            rows.push_back({Cell::D(i), Cell::D(1), Cell::T("red"), Cell::T("S"), Cell::T("n"), Cell::T("A")});
        GeneratedProject p("pure" + std::to_string(n), kMixed, rows);
        CTRX trx;
        ASSERT_TRUE(Grown(trx, p, n, 0));  // unpruned: a pure leaf has no estimated errors
        ASSERT_EQ(trx.Nodes(), 1);
        std::vector<com::Variant> row(trx.FieldMap().size());
        EXPECT_EQ(trx.PredictRow(row), 0);
        EXPECT_EQ(trx.LastPredictNode(), 0);
        EXPECT_FLOAT_EQ(trx.SingleNormalConfidence(0), n == 29 ? 99.0f : 100.0f);
        EXPECT_EQ(trx.GetSQLLogic(0), "");
        // A row of the wrong length has no prediction.
        row.push_back(com::Variant());
        EXPECT_EQ(trx.PredictRow(row), -1);
        EXPECT_EQ(trx.LastPredictNode(), -1);
        trx.SaveTree(&p.project);
        EXPECT_EQ(p.NodeDataBytes().size(), 54u);
    }
}

TEST(CTRXPredict, CategoricalValueBeyondTheBranchesHasNoPrediction) {
    std::vector<std::vector<Cell>> rows;
    const char* colours[] = {"red", "green", "blue"};
    for (int i = 0; i < 90; ++i)
        rows.push_back({Cell::D(5), Cell::D(1), Cell::T(colours[i % 3]), Cell::T("S"), Cell::T("n"),
                        Cell::T(i % 3 == 0 ? "A" : (i % 3 == 1 ? "B" : "C"))});
    GeneratedProject p("beyond", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 90, 0));
    ASSERT_GT(trx.Nodes(), 1);
    std::vector<com::Variant> row(trx.FieldMap().size());
    for (auto& v : row) v = com::Variant::Null();
    const int16_t colour = 2;  // X, Y, Colour, Size, then the output
    ASSERT_EQ(p.dataDef->FieldName(trx.FieldMap()[colour]), "Colour");
    row[colour] = com::Variant::I2(2);
    EXPECT_GE(trx.PredictRow(row), 0);
    for (int16_t bad : {0, 4, 99, -1}) {
        row[colour] = com::Variant::I2(bad);
        EXPECT_EQ(trx.PredictRow(row), -1) << bad;
        EXPECT_EQ(trx.LastPredictNode(), -1);
    }
    EXPECT_TRUE(trx.IsFieldInTree("Colour"));
    EXPECT_FALSE(trx.IsFieldInTree("colour"));
    EXPECT_FALSE(trx.IsFieldInTree("Note"));
    EXPECT_FALSE(trx.IsFieldInTree("Nothing"));
}

TEST(CTRXClassify, UnknownCategoricalValueShowsItsBoxAndEndsTheRun) {
    auto rows = MixedRows(300, 31);
    GeneratedProject p("badclass", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 200));
    // A value that is not among Colour's classes appears in row 260.
    sqlite3* raw = nullptr;
    sqlite3_open(p.dataPath.c_str(), &raw);
    treetest::Sql(raw, "UPDATE Data SET Colour = 'purple' WHERE Id = 260");
    sqlite3_close(raw);
    EXPECT_FALSE(trx.Classify(201, 300));
    const auto msgs = p.dialogs.Messages();
    ASSERT_EQ(msgs.size(), 1u) << ::testing::PrintToString(MessageTexts(p.dialogs));
    EXPECT_EQ(msgs[0].text, "BAD CLASS NAME");
    EXPECT_EQ(msgs[0].title, "TRX Load Data (Classify)");
    EXPECT_EQ(msgs[0].icon, ui::Icon::Critical);
    const auto test = p.TestRows();
    int done = 0;
    for (long key = 201; key < 260; ++key)
        if (test.at(key).first != -1 || test.at(key).second != -1) ++done;
    EXPECT_GT(done, 50);
    EXPECT_EQ(test.at(260).second, -1);  // the failing row is not written
    EXPECT_EQ(test.at(290).second, -1);
    // A run without unknown values answers true.
    EXPECT_TRUE(trx.Classify(201, 259));
    EXPECT_EQ(p.dialogs.Messages().size(), 1u);
}

TEST(CTRXClassify, NoKeyFieldIsTheDriversOwnError) {
    GeneratedProject p("nokey", kMixed, MixedRows(120, 4));
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 100));
    trx.SaveTree(&p.project);
    DatabasePtr db = p.project.OpenProject(false);
    db->Execute("UPDATE FieldConfig SET PrimaryKeyField = 0;");
    auto keyless = std::make_shared<CDataDef>();
    keyless->Load(db);
    ASSERT_LT(keyless->PrimaryKeyField(), 0);
    CTRX again;
    ASSERT_TRUE(again.Initialize(keyless, &p.project));
    again.LoadTree(&p.project);
    ASSERT_TRUE(again.HasTree());
    try {
        again.Classify(101, 120);
        ADD_FAILURE() << "Classify reported success";
    } catch (const CTreeError& e) {
        // Not 3800, which the database layer gives to "not an index in this table".
        EXPECT_EQ(e.Number(), treeerr::kNoKeyField);
        EXPECT_NE(e.Number(), 3800);
        EXPECT_NE(std::string(e.what()).find("primary-key"), std::string::npos) << e.what();
    }
}

TEST(CTRXSql, QuotesAndNumbersInConditions) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 120; ++i) {
        const bool quoted = i % 2 == 0;
        rows.push_back({Cell::D(i % 4 == 0 ? 1.25 : 7.75), Cell::D(1), Cell::T(quoted ? "O'Brien" : "plain"),
                        Cell::T("S"), Cell::T("n"), Cell::T(quoted ? (i % 4 == 0 ? "A" : "B") : "C")});
    }
    GeneratedProject p("sql", kMixed, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 120, 0));
    DatabasePtr db = p.project.OpenProject(false);
    bool sawQuote = false;
    long total = 0;
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        const std::string cond = trx.GetSQLLogic(n);
        EXPECT_EQ(cond.find(','), std::string::npos) << cond;
        if (cond.find("'O''Brien'") != std::string::npos) sawQuote = true;
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE " + cond + ";",
                                    dao::RecordsetType::Snapshot);
        const long count = rs->Fields(0).AsLong();
        EXPECT_NEAR(double(count), double(trx.LocalItems(n)), 0.01) << cond;
        if (trx.Tree().Node(n).Forks == 0) total += count;
    }
    EXPECT_TRUE(sawQuote);
    EXPECT_EQ(total, 120);
    // Deeper tests come first: a node's condition ends with its parent's.
    int deep = 0;
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        const int16_t parent = trx.Tree().Parent(n);
        if (parent == 0) continue;
        const std::string mine = trx.GetSQLLogic(n), up = " AND " + trx.GetSQLLogic(parent);
        ASSERT_GT(mine.size(), up.size());
        EXPECT_EQ(mine.substr(mine.size() - up.size()), up);
        ++deep;
    }
    EXPECT_GT(deep, 0);

    const CTreeModel before = trx.Tree();
    trx.TestPIdx();
    EXPECT_TRUE(trx.Tree() == before);
    for (int32_t n = 0; n < trx.Nodes(); ++n) EXPECT_EQ(trx.Tree().ParentSlot(n), before.ParentSlot(n));
    const auto& pointer = p.shell.screen.history;
    ASSERT_GE(pointer.size(), 2u);
    EXPECT_EQ(pointer[pointer.size() - 2], app::vbHourglass);
    EXPECT_EQ(pointer.back(), app::vbDefault);
}

TEST(CTRXSql, OrdinaryCutsReadAsTheyAre) {
    const std::vector<Column> cols = {{"Age", "REAL", MatchType::Numeric},
                                      {"Colour", "TEXT", MatchType::Text},
                                      {"Class", "TEXT", MatchType::Output}};
    const double ages[] = {10, 20, 30, 42.3, 50, 60, 70, 80};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 160; ++i) {
        const bool red = i % 2;
        const double age = ages[(i / 2) % 8];
        rows.push_back({Cell::D(age), Cell::T(red ? "red" : "blue"), Cell::T(!red ? "A" : age <= 42.3 ? "B" : "C")});
    }
    rows.push_back({Cell::D(90), Cell::T("red"), Cell::T("C")});  // row 161, not trained on
    GeneratedProject p("plain", cols, rows);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 160, 0, 2));
    CClassNames names;
    names.Initialize(&p.project, p.dataDef);
    const int16_t c = names.ClassNumber(p.FieldIndex("Class"), "C");
    int32_t leaf = -1;
    for (int32_t n = 1; n < trx.Nodes(); ++n)
        if (trx.Tree().Node(n).Forks == 0 && trx.Tree().Node(n).Class == c) leaf = n;
    ASSERT_GE(leaf, 0);
    const std::string plain = trx.GetSQLLogic(leaf);
    EXPECT_TRUE(plain == "([Age] > 42.3) AND ([Colour] = 'red')" || plain == "([Colour] = 'red') AND ([Age] > 42.3)")
        << plain;

    // A value that only the 4-byte comparison puts with 42.3: the short bound
    // would now select another row set, so the exact one is written.
    const double close = 42.3000001;
    ASSERT_EQ(float(close), float(42.3));
    sqlite3* raw = nullptr;
    sqlite3_open(p.dataPath.c_str(), &raw);
    treetest::Sql(raw, "UPDATE Data SET Age = 42.3000001 WHERE Id = 161");
    sqlite3_close(raw);
    const std::string exact = trx.GetSQLLogic(leaf);
    EXPECT_EQ(exact.find("42.3)"), std::string::npos) << exact;
    DatabasePtr db = p.project.OpenProject(false);
    auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE [Id] = 161 AND " + exact + ";",
                                dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 0) << exact;
    rs->Close();
    names.Initialize(&p.project, p.dataDef);
    std::vector<com::Variant> row = {com::Variant::R8(close),
                                     com::Variant::I2(int16_t(names.ClassNumber(p.FieldIndex("Colour"), "red") + 1)),
                                     com::Variant::Null()};
    EXPECT_NE(trx.PredictRow(row), c);
    EXPECT_EQ(trx.GetSQLLogic(0), "");
}

TEST(CTRXLoad, WithoutAnOutputFieldOnlyTheKeyRangeIsWritten) {
    std::vector<Column> noOutput = kMixed;
    noOutput.back().matchType = MatchType::NotUsed;
    GeneratedProject p("noout", noOutput, MixedRows(50));
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    EXPECT_FALSE(trx.LoadData(11, 40));
    EXPECT_EQ(trx.LoadCount(), 0);
    EXPECT_EQ(p.project.GetConfig("TrainKeyMin"), "11");
    EXPECT_EQ(p.project.GetConfig("TrainKeyMax"), "40");
    EXPECT_TRUE(p.dialogs.Messages().empty());
}

TEST(CTRXLoad, UnknownClassNamesAreReportedOncePerFieldAndLoadingGoesOn) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 40; ++i)
        rows.push_back({Cell::D(i), Cell::D(1), Cell::T(i % 2 ? "red" : "blue"), Cell::T("S"), Cell::T("n"),
                        Cell::T(i % 2 ? "A" : "B")});
    GeneratedProject p("badload", kMixed, rows);
    // Values that came after the statistics: not among the fields' classes.
    sqlite3* raw = nullptr;
    sqlite3_open(p.dataPath.c_str(), &raw);
    treetest::Sql(raw, "UPDATE Data SET Colour = 'purple' WHERE Id IN (5, 7)");
    treetest::Sql(raw, "UPDATE Data SET Class = 'Z' WHERE Id IN (9, 11)");
    sqlite3_close(raw);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 40));
    EXPECT_EQ(trx.LoadCount(), 38);  // the two rows with an unknown output are not sent
    const auto msgs = p.dialogs.Messages();
    ASSERT_EQ(msgs.size(), 2u) << ::testing::PrintToString(MessageTexts(p.dialogs));
    const std::string colour = std::to_string(p.FieldIndex("Colour"));
    const std::string cls = std::to_string(p.FieldIndex("Class"));
    EXPECT_EQ(msgs[0].text.toStdString(), "BAD CLASS NAME (Input Field #" + colour + ")");
    EXPECT_EQ(msgs[1].text.toStdString(), "BAD CLASS NAME (Output Field #" + cls + ")");
    EXPECT_EQ(msgs[0].title, "TRX Load Data");
    EXPECT_EQ(msgs[0].icon, ui::Icon::Critical);
}

TEST(CTRXBuild, TooManyNodesGetsItsOwnMessage) {
    // Colour (200 values) settles half of the class and Size (200 values) the
    // rest, so every Colour branch splits again 200 ways: over 40000 nodes.
    std::mt19937 rng(5);
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 4000; ++i) {
        const int a = i % 200, b = int(rng() % 200);
        rows.push_back({Cell::D(1), Cell::D(1), Cell::T("a" + std::to_string(a)), Cell::T("b" + std::to_string(b)),
                        Cell::T("n"), Cell::T("c" + std::to_string((a / 10) * 2 + b % 2))});
    }
    GeneratedProject p("toomany", kMixed, rows, false);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 4000));
    trx.SetPruneRate(0);
    trx.SetMinItems(1);
    EXPECT_FALSE(trx.BuildTree()) << trx.Nodes() << " nodes";
    EXPECT_FALSE(trx.HasTree());
    const auto msgs = p.dialogs.Messages();
    ASSERT_EQ(msgs.size(), 1u) << ::testing::PrintToString(MessageTexts(p.dialogs));
    EXPECT_EQ(msgs[0].title, "Too Many Rules");
    EXPECT_EQ(msgs[0].text, "Tree exceeds maximum (32000) nodes.  Try increasing the prune rate.");
    EXPECT_EQ(msgs[0].icon, ui::Icon::Exclamation);
}

// The engine refusing a build past its memory budget, or a budget it cannot read, is
// said as such, with what to change, not as a bare error number.
TEST(CTRXBuild, MemoryRefusalsGetTheirOwnMessages) {
    struct Case {
        const char* limit;
        const char* title;
        const char* text;
    };
    const Case cases[] = {
        {"0", "Not Enough Memory",
         "Building this tree needs more memory than the engine may take.  Build it from fewer rows, or leave out "
         "input fields with many values, or choose an output field with fewer classes."},
        {"lots", "Engine Memory Limit",
         "TESSARY_ENGINE_MEMORY_MB is set to \"lots\", which is not a size in megabytes.  Set it to a whole number "
         "such as 512 (or 512MB), or remove it."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        GeneratedProject p(std::string("memory") + c.title[0], kMixed, MixedRows(40, 5));
        CTRX trx;
        ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
        ASSERT_TRUE(trx.LoadData(1, 40));
        setenv("TESSARY_ENGINE_MEMORY_MB", c.limit, 1);
        const bool built = trx.BuildTree();
        unsetenv("TESSARY_ENGINE_MEMORY_MB");
        EXPECT_FALSE(built);
        EXPECT_FALSE(trx.HasTree());
        const auto msgs = p.dialogs.Messages();
        ASSERT_EQ(msgs.size(), 1u) << ::testing::PrintToString(MessageTexts(p.dialogs));
        EXPECT_EQ(msgs[0].title, c.title);
        EXPECT_EQ(msgs[0].text, c.text);
        EXPECT_EQ(msgs[0].icon, ui::Icon::Exclamation);
        EXPECT_TRUE(trx.BuildTree()) << "the refusal does not stick";
    }
}

TEST(CTRXClassify, TextKeysWithQuotesAndDateCuts) {
    // A text key holding a quote, and a date field (day serials) that decides the class.
    const std::vector<Column> cols = {{"Day", "DATETIME", MatchType::Numeric},
                                      {"Colour", "TEXT", MatchType::Text},
                                      {"Class", "TEXT", MatchType::Output}};
    std::mt19937 rng(8);
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 400; ++i) {
        const double day = 45000 + int(rng() % 60) + (rng() % 4) * 0.25;
        rows.push_back({Cell::D(day), Cell::T(i % 3 ? "red" : "blue"), Cell::T(day < 45030 ? "early" : "late")});
    }
    GeneratedProject p("textkey", cols, rows, true, true);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project)) << ::testing::PrintToString(MessageTexts(p.dialogs));
    ASSERT_TRUE(trx.LoadData(1, 300));
    EXPECT_EQ(p.project.GetConfig("TrainKeyMin"), treetest::TextKey(1));
    EXPECT_EQ(p.project.GetConfig("TrainKeyMax"), treetest::TextKey(300));
    ASSERT_TRUE(trx.BuildTree());
    ASSERT_GT(trx.Nodes(), 1);
    trx.Classify(301, 400);
    EXPECT_EQ(p.project.GetConfig("TestKeyMin"), treetest::TextKey(301));
    EXPECT_EQ(p.project.GetConfig("TestKeyMax"), treetest::TextKey(400));
    const auto test = p.TestRows();
    int right = 0;
    for (long row = 1; row <= 400; ++row) {
        const auto [pred, act] = test.at(row);
        if (row <= 300) {
            EXPECT_EQ(pred, -1) << row;  // the right rows were found, no others
            continue;
        }
        EXPECT_GE(act, 1) << row;
        if (pred == act) ++right;
    }
    EXPECT_GE(right, 95);
    DatabasePtr db = p.project.OpenProject(false);
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        const std::string cond = trx.GetSQLLogic(n);
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE [Id] <= " +
                                        MdbUtils::SqlText(treetest::TextKey(300)) + " AND " + cond + ";",
                                    dao::RecordsetType::Snapshot);
        EXPECT_NEAR(double(rs->Fields(0).AsLong()), double(trx.LocalItems(n)), 0.01) << cond;
    }
}

TEST(CTRXSql, YesNoFieldsKeepTheTrainingCoding) {
    // A Yes/No input decides the class: True is branch 1, anything else branch 2.
    const std::vector<Column> cols = {{"Flag", "BOOLEAN", MatchType::Text},
                                      {"Colour", "TEXT", MatchType::Text},
                                      {"Class", "TEXT", MatchType::Output}};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 120; ++i) {
        const bool flag = i % 3 != 0;
        rows.push_back({i % 17 == 5 ? Cell::N() : Cell::D(flag ? -1 : 0), Cell::T(i % 2 ? "red" : "blue"),
                        Cell::T(flag ? "yes" : "no")});
    }
    GeneratedProject p("yesno", cols, rows, false);
    ASSERT_EQ(p.dataDef->FieldType(p.FieldIndex("Flag")), dao::dbBoolean);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 120, 0));
    ASSERT_GT(trx.Nodes(), 1);
    trx.Classify(1, 120);
    const auto test = p.TestRows();
    DatabasePtr db = p.project.OpenProject(false);
    for (int32_t n = 1; n < trx.Nodes(); ++n) {
        const std::string cond = trx.GetSQLLogic(n);
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE " + cond + ";",
                                    dao::RecordsetType::Snapshot);
        const TRXNode& t = trx.Tree().Node(n);
        if (t.Errors == 0 && t.Forks == 0) {
            // A pure leaf: every row its condition selects was classified as its class.
            EXPECT_NEAR(double(rs->Fields(0).AsLong()), double(t.Items), 0.01) << cond;
        }
    }
    for (long key = 1; key <= 120; ++key) {
        const Cell& flag = rows[size_t(key - 1)][0];
        if (flag.kind == Cell::Null) {
            EXPECT_EQ(test.at(key).first, -1) << key;
            continue;
        }
        EXPECT_EQ(test.at(key).first, test.at(key).second) << key;
    }
}

namespace {

// Keys that SQLite's NOCASE and our collation order differently: the signs
// between the two cases of the ASCII letters, and letters beyond ASCII.
std::string FoldingKey(size_t row) {
    static const char* const kPrefixes[] = {"a_", "ab", "A_", "a[", "a^", "a\\", "a`", "a]", "\xC3\xA9", "\xC3\x89", "_Z", "zz"};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04zu", row);
    return kPrefixes[row % std::size(kPrefixes)] + std::string(buf);
}

}  // namespace

TEST(CTRXClassify, TextKeysThatSqliteOrdersOtherwiseStayValidAndAllClassified) {
    const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric}, {"Class", "TEXT", MatchType::Output}};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 240; ++i) rows.push_back({Cell::D(i % 40), Cell::T(i % 40 < 20 ? "small" : "large")});
    GeneratedProject p("foldkeys", cols, rows, true, true, FoldingKey);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project)) << ::testing::PrintToString(MessageTexts(p.dialogs));
    ASSERT_TRUE(trx.LoadData(1, 180));
    ASSERT_TRUE(trx.BuildTree());
    // The test range is taken by position in key order: 60 rows, whichever they are.
    auto classified = [&] {
        int n = 0;
        for (const auto& [row, classes] : p.TestRows())
            if (classes.second >= 1) ++n;
        return n;
    };
    auto reset = [&](const char* reorder, bool oldCollation) {
        p.project.CloseProject();
        sqlite3* raw = p.OpenRaw();
        if (oldCollation) testsupport::UseOldNocase(raw);
        treetest::Sql(raw, "UPDATE Test SET Predicted = -1, Actual = -1");
        treetest::Sql(raw, reorder);
        sqlite3_close(raw);
    };
    trx.Classify(181, 240);
    EXPECT_EQ(classified(), 60);
    p.project.CloseProject();
    // What any SQLite makes of the file: the stock library, without our collations.
    EXPECT_EQ(testsupport::IntegrityCheck(p.projectPath), "ok");

    // A stock VACUUM rebuilds the indexes the standard way: every row is found again.
    reset("VACUUM", false);
    trx.Classify(181, 240);
    EXPECT_EQ(classified(), 60);
    EXPECT_EQ(testsupport::IntegrityCheck(p.projectPath), "ok");

    // An index an older build wrote in another order is rebuilt when the project is opened to write.
    reset("REINDEX", true);
    EXPECT_NE(testsupport::IntegrityCheck(p.projectPath), "ok");
    trx.Classify(181, 240);
    EXPECT_EQ(classified(), 60);
    EXPECT_EQ(testsupport::IntegrityCheck(p.projectPath), "ok");

    // Put out of order while classifying: the rows it loses are said, with why, never passed over.
    reset("SELECT 1", false);
    bool broken = false;
    trx.OnProgress = [&](int16_t) {
        if (broken) return;
        broken = true;
        sqlite3* raw = p.OpenRaw();
        testsupport::UseOldNocase(raw);
        treetest::Sql(raw, "REINDEX");
        sqlite3_close(raw);
    };
    try {
        trx.Classify(181, 240);
        ADD_FAILURE() << "classify reported success over rows it did not store";
    } catch (const CTreeError& e) {
        EXPECT_EQ(e.Number(), treeerr::kTestRowMissing);
        const std::string text = e.what();
        EXPECT_NE(text.find("not found in table Test"), std::string::npos) << text;
        EXPECT_NE(text.find("out of order"), std::string::npos) << text;
        EXPECT_EQ(text.find(" -"), std::string::npos) << text;
    }
}

namespace {

// The keys of the road below, one set at a time.
const std::vector<std::string>* gRoadKeys = nullptr;
std::string RoadKey(size_t row) { return (*gRoadKeys)[row - 1]; }

struct KeySet {
    std::vector<std::string> keys;
    int32_t trainHigh, testLow;
};

}  // namespace

// Train, classify, count the matrix, browse the ranges: every step takes the
// rows in one order and finds them by one comparison, which a hand count over
// dao::CompareText gives, and stock SQLite finds the project sound afterwards.
TEST(OneComparisonRoad, MatrixRangesAndGridAgreeWithAHandCount) {
    const std::vector<KeySet> sets = {
        // Signs between the cases of A to Z, and letters beyond ASCII in two cases.
        {{"a1", "B2", "d4", "Y9", "z7", "[8", "_c3", "\xC3\xA9" "5", "\xC3\x89" "6x"}, 5, 6},
        {{"a[", "a\\", "a]", "a^", "a_", "a`", "aa", "AB", "Z", "[", "_", "`x", "{", "~"}, 7, 8},
        // Keys only case beyond ASCII tells apart, at the boundary of the two ranges.
        {{"k1", "k2", "k3", "k4", "k5", "\xC3\xA9" "1", "\xC3\x89" "1", "k6", "k7", "k8", "k9", "kA"}, 6, 7},
        {{"stra\xC3\x9F" "e", "strasse", "\xCE\xB1", "\xCE\x91", "\xD0\xBC", "\xD0\x9C", "", " ", "0", "9"}, 4, 5},
    };
    for (const KeySet& set : sets) {
        SCOPED_TRACE(set.keys.front() + "...");
        gRoadKeys = &set.keys;
        const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric},
                                          {"Kind", "TEXT", MatchType::Text},
                                          {"Class", "TEXT", MatchType::Output}};
        std::vector<std::vector<Cell>> rows;
        const char* const kinds[] = {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "_x", "[x", "ax"};
        for (size_t i = 0; i < set.keys.size(); ++i)
            rows.push_back({Cell::D(double(i % 3)), i % 4 == 3 ? Cell::N() : Cell::T(kinds[i % 5]),
                            i % 5 == 4 ? Cell::N() : Cell::T(i % 2 ? "\xC3\xA9t\xC3\xA9" : "\xC3\x89T\xC3\x89")});
        GeneratedProject p("onecmp", cols, rows, true, true, RoadKey);
        const int32_t n = int32_t(set.keys.size());
        CTRX trx;
        ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project)) << ::testing::PrintToString(MessageTexts(p.dialogs));
        ASSERT_TRUE(trx.LoadData(1, set.trainHigh));
        ASSERT_TRUE(trx.BuildTree());
        ASSERT_TRUE(trx.Classify(set.testLow, n)) << ::testing::PrintToString(MessageTexts(p.dialogs));

        // By hand: positions in the order of the comparison; each row's classes as stored in Test.
        std::vector<std::string> order = set.keys;
        std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return dao::CompareText(a, b) < 0; });
        std::map<std::string, std::pair<int, int>> stored;  // key -> (Predicted, Actual)
        sqlite3* raw = p.OpenRaw();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "SELECT MainPrimaryKey, Predicted, Actual FROM Test", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            stored[reinterpret_cast<const char*>(sqlite3_column_text(st, 0))] = {sqlite3_column_int(st, 1),
                                                                                sqlite3_column_int(st, 2)};
        sqlite3_finalize(st);
        sqlite3_close(raw);
        ASSERT_EQ(stored.size(), set.keys.size());
        CConfMat matrix;
        matrix.Initialize(p.project, *p.dataDef, set.testLow, n);
        std::map<std::pair<int, int>, int32_t> cells;
        int32_t total = 0, missing = 0;
        for (int32_t pos = 1; pos <= n; ++pos) {
            const auto [predicted, actual] = stored[order[size_t(pos - 1)]];
            if (pos < set.testLow) {
                EXPECT_EQ(predicted, -1) << "training row " << order[size_t(pos - 1)] << " was classified";
                continue;
            }
            ++cells[{actual, predicted}];
            if (actual < 1 || predicted < 1) ++missing;
            else ++total;
        }
        EXPECT_EQ(matrix.Total(), total);
        EXPECT_EQ(matrix.MissingRows(), missing);
        for (int16_t a = -1; a <= matrix.ClassCount(); ++a)
            for (int16_t q = -1; q <= matrix.ClassCount(); ++q) {
                const int32_t expected = cells[std::make_pair(int(a), int(q))];
                EXPECT_EQ(matrix.Matrix(a, q), expected) << a << "," << q;
            }
        EXPECT_EQ(matrix.ClassCount(), 2) << "two values that differ beyond ASCII are two classes";

        // The stored key ranges: the grid of each shows its rows, every row in exactly one.
        auto shown = [&](const char* low, const char* high) {
            auto owner = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
            CSqlMachine sql;
            sql.Initialize(p.dataDef, owner);
            sql.SetBrowseType(1);
            sql.SetKeyMin(p.project.GetConfig(low));
            sql.SetKeyMax(p.project.GetConfig(high));
            auto rs = p.project.OpenProject(false)->OpenRecordset("SELECT COUNT(*) " + sql.GetFrom() + sql.GetWhere() + ";",
                                                                  dao::RecordsetType::Snapshot);
            return rs->Fields(0).AsLong();
        };
        EXPECT_EQ(shown("TrainKeyMin", "TrainKeyMax"), set.trainHigh);
        {  // and the grid of all rows lists them in the order the ranges count them
            auto owner = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
            CSqlMachine sql;
            sql.Initialize(p.dataDef, owner);
            auto rs = p.project.OpenProject(false)->OpenRecordset(sql.GetSql(), dao::RecordsetType::Snapshot);
            std::vector<std::string> listed;
            for (; !rs->Eof(); rs->MoveNext()) listed.push_back(rs->Fields("Id").AsString());
            EXPECT_EQ(listed, order);
        }
        EXPECT_EQ(shown("TestKeyMin", "TestKeyMax"), n - set.testLow + 1);
        EXPECT_EQ(p.project.GetConfig("TestKeyMin"), order[size_t(set.testLow - 1)]);
        p.project.CloseProject();
        EXPECT_EQ(testsupport::IntegrityCheck(p.projectPath), "ok");
    }
    gRoadKeys = nullptr;
}

namespace {
const std::vector<std::string> kThreeKeys = {"a1", "b1", "c1", "d1", "e1", "f1"};
std::string ThreeKey(size_t row) { return kThreeKeys[row - 1]; }
}  // namespace

// A key that cannot name its row is refused as it comes; the results of the rows
// before it are still written.
TEST(CTRXClassify, ARefusedKeyKeepsTheResultsBeforeIt) {
    const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric}, {"Class", "TEXT", MatchType::Output}};
    GeneratedProject p("refusedkey", cols, {{Cell::D(1), Cell::T("a")}, {Cell::D(2), Cell::T("b")}}, false);
    CTestResults results(p.project.OpenProject(false), "Id", false);
    VARIANT key{};
    key.vt = VT_R8;
    results.Begin();
    for (double k : {1.0, 2.0}) {
        key.dblVal = k;
        results.Add(int16_t(k), int16_t(k), key);
    }
    key.dblVal = 1e18;  // beyond what a double holds exactly
    EXPECT_THROW(results.Add(1, 1, key), CTreeError);
    EXPECT_NO_THROW(results.Commit());
    p.project.CloseProject();
    sqlite3* raw = p.OpenRaw();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM Test WHERE Predicted = MainPrimaryKey", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 2);
    sqlite3_finalize(st);
    sqlite3_close(raw);
}

// Updates of Test that fail after others of their step went out, the second
// while the run ends: no transaction stays open with the run, so that another
// program can write the project at once while the project stays open.
TEST(CTRXClassify, AFailedUpdateLeavesNoTransactionOpen) {
    if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "no sqlite3 shell";
    const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric}, {"Class", "TEXT", MatchType::Output}};
    // Ten rows a step; size 4 is mostly of class a, so that the first step updates
    // class a, then the rows of class b taken for a, then the rest of class b.
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 1000; ++i) {
        const int size = i % 10;
        rows.push_back({Cell::D(size), Cell::T(size > 4 || (size == 4 && i % 30 == 4) ? "b" : "a")});
    }
    GeneratedProject p("failedupdate", cols, rows, false);
    CTRX trx;
    ASSERT_TRUE(Grown(trx, p, 1000));
    p.project.CloseProject();
    // Another program's Test refuses the results of class b.
    EXPECT_EQ(testsupport::StockShell::Run(
                  p.projectPath,
                  "CREATE TABLE Checked (MainPrimaryKey LONG, Predicted SHORT, Actual SHORT CHECK (Actual <> 2), "
                  "Mark SHORT); INSERT INTO Checked SELECT * FROM Test; DROP TABLE Test; "
                  "ALTER TABLE Checked RENAME TO Test; CREATE UNIQUE INDEX Keys ON Test (MainPrimaryKey);"),
              "");
    EXPECT_THROW(trx.Classify(1, 1000), dao::DaoError);
    ASSERT_TRUE(p.project.IsOpen());
    EXPECT_EQ(testsupport::StockShell::Run(p.projectPath, "PRAGMA busy_timeout = 0; UPDATE Test SET Mark = -1; "
                                                          "SELECT changes();"),
              "0\n1000\n");
}

// A Test that an earlier build left without its unique index, holding two rows
// under keys that compare as one: the update that finds both is undone and said,
// with counts that are never negative.
TEST(CTRXClassify, AKeyThatFindsMoreThanOneRowIsAnErrorAndChangesNothing) {
    const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric}, {"Class", "TEXT", MatchType::Output}};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 6; ++i) rows.push_back({Cell::D(i % 2), Cell::T(i % 2 ? "odd" : "even")});
    GeneratedProject p("twofold", cols, rows, false, true, ThreeKey);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 6));
    ASSERT_TRUE(trx.BuildTree());
    p.project.CloseProject();
    sqlite3* raw = p.OpenRaw();
    treetest::Sql(raw, "CREATE TABLE Loose AS SELECT * FROM Test; DROP TABLE Test; ALTER TABLE Loose RENAME TO Test; "
                       "INSERT INTO Test VALUES ('B1', -1, -1, 0);");
    sqlite3_close(raw);
    try {
        trx.Classify(1, 6);
        ADD_FAILURE() << "classify reported success over a key that named two rows";
    } catch (const CTreeError& e) {
        EXPECT_EQ(e.Number(), treeerr::kTestRowMissing);
        const std::string text = e.what();
        EXPECT_NE(text.find("matched 2 rows"), std::string::npos) << text;
        EXPECT_NE(text.find("takes for one"), std::string::npos) << text;
        EXPECT_EQ(text.find('-'), std::string::npos) << text;
    }
    raw = p.OpenRaw();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM Test WHERE MainPrimaryKey IN ('b1', 'B1') AND Predicted = -1", -1, &st,
                       nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 2) << "neither row took the results";
    sqlite3_finalize(st);
    sqlite3_close(raw);
}
