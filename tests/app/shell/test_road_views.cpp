// Zoom, marks and live prediction in the real window on the sample project.
#include "ResultRoadFixture.h"

#include "CClassNames.h"
#include "CDataDef.h"
#include "MdbUtils.h"
#include "UTextSpin.h"
#include "CBrowseGrid.h"
#include "FFind.h"
#include "StockShell.h"

#include <QComboBox>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace shelltest;

namespace {

class RoadViews : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        Open();
    }
    long long Marked() { return Count("SELECT COUNT(*) FROM Test WHERE Mark = -1"); }
};

}  // namespace

TEST(Zoom, StepsAndFittingValues) {
    struct Step {
        int16_t from;
        bool out;
        int16_t to;  // -1: unchanged
    };
    const Step steps[] = {{130, true, 125}, {125, true, 100}, {250, true, 200}, {300, true, 200},
                          {47, true, 40},   {50, true, 40},   {5, true, 4},     {1, true, -1},
                          {0, true, -1},    {0, false, 10},   {800, false, 900}, {900, false, 800},
                          {900, true, 800}, {9, false, 10},   {99, false, 100}, {100, false, 125},
                          {175, false, 200}, {200, false, 300}, {10, true, 9},   {-3, false, 0}};
    for (const Step& s : steps)
        EXPECT_EQ(MTessary::ZoomValue(s.from, s.out), s.to) << s.from << (s.out ? " out" : " in");
    // The whole zoom-in road from 1.
    QList<int> road;
    for (int16_t z = 1; z >= 0 && z <= 800; z = MTessary::ZoomValue(z, false)) road << z;
    EXPECT_EQ(road.size(), 9 + 9 + 4 + 7);
    EXPECT_EQ(road.mid(17, 6), (QList<int>{90, 100, 125, 150, 175, 200}));

    // Fitting values: the chart's width over its span, in steps of ten.
    EXPECT_EQ(MTessary::FitValue(76, 1000), 8);     // 7.6
    EXPECT_EQ(MTessary::FitValue(65, 1000), 6);     // 6.5, a half to even
    EXPECT_EQ(MTessary::FitValue(940, 1000), 90);   // 94
    EXPECT_EQ(MTessary::FitValue(946, 1000), 100);  // 94.6
    EXPECT_EQ(MTessary::FitValue(2500, 1000), 100);
    EXPECT_EQ(MTessary::FitValue(470, 1000), 50);
    // One node, or no chart at all: no division by a span of nothing.
    EXPECT_EQ(MTessary::FitValue(500, 0), 100);
    EXPECT_EQ(MTessary::FitValue(500, -9999880), 100);
    // The minimum items of a training range, held in 32 bits.
    EXPECT_EQ(MTessary::DefaultMinItems(1, 100), 1);
    EXPECT_EQ(MTessary::DefaultMinItems(1, 49), 1);
    EXPECT_EQ(MTessary::DefaultMinItems(1, 250), 2);  // 2.5 to even
    EXPECT_EQ(MTessary::DefaultMinItems(1, 350), 4);  // 3.5 to even
    EXPECT_EQ(MTessary::DefaultMinItems(1, 5000000), 50000);
    EXPECT_EQ(MTessary::DefaultMinItems(1, 2000000000), 20000000);
}

TEST_F(RoadViews, ZoomCommandsOnTheChartAndTheRuleTree) {
    ToState(4);
    ASSERT_EQ(TreeGraph().TreeType(), 1);
    TreeGraph().SetZoom(100);
    MTessary::MenuCommand("mnuZoomIn");
    EXPECT_EQ(TreeGraph().Zoom(), 125);
    MTessary::MenuCommand("mnuZoomIn");
    EXPECT_EQ(TreeGraph().Zoom(), 150);
    MTessary::MenuCommand("mnuZoomOut");
    MTessary::MenuCommand("mnuZoomOut");
    MTessary::MenuCommand("mnuZoomOut");
    EXPECT_EQ(TreeGraph().Zoom(), 90);
    TreeGraph().SetZoom(800);
    MTessary::MenuCommand("mnuZoomIn");
    EXPECT_EQ(TreeGraph().Zoom(), 900);
    MTessary::MenuCommand("mnuZoomOut");
    EXPECT_EQ(TreeGraph().Zoom(), 800);
    // Normal zoom lays the chart out afresh with the legend's colours.
    Prune().SetColorItems(1);
    MTessary::MenuCommand("mnuNormalZoom");
    double lo = 0, hi = 0;
    EXPECT_GT(TreeGraph().GetXExtremes(lo, hi), 0);

    // The rule tree: zoom in opens every node, zoom out folds them, and the
    // empty chart behind it divides by nothing.
    MTessary::MenuCommand("mnuViewTree");
    ASSERT_EQ(TreeGraph().TreeType(), 0);
    QTreeWidget* view = TreeGraph().TreeView();
    MTessary::MenuCommand("mnuZoomIn");
    int open = 0, all = 0;
    for (QTreeWidgetItemIterator it(view); *it; ++it, ++all) open += (*it)->childCount() == 0 || (*it)->isExpanded();
    EXPECT_EQ(open, all);
    MTessary::MenuCommand("mnuZoomOut");
    int folded = 0;
    for (QTreeWidgetItemIterator it(view); *it; ++it) folded += (*it)->childCount() > 0 && !(*it)->isExpanded();
    EXPECT_GT(folded, 0);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

TEST_F(RoadViews, MarksOfTheViewAndOfTheWholeTable) {
    ToTested();
    MTessary::MenuCommand("mnuViewBrowseTest");
    ASSERT_EQ(GridView().RecordCount(), 50);
    ASSERT_TRUE(Tool("mnuCurrentMark")->isEnabled());
    Tool("mnuCurrentMark")->trigger();
    EXPECT_EQ(Marked(), 50);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Mark = -1 AND MainPrimaryKey <= 100"), 0)
        << "rows outside the view keep their marks";
    Tool("mnuEntireToggle")->trigger();
    EXPECT_EQ(Marked(), 100);
    Tool("mnuEntireToggle")->trigger();
    EXPECT_EQ(Marked(), 50);
    Tool("mnuCurrentToggle")->trigger();
    EXPECT_EQ(Marked(), 0);
    Tool("mnuEntireMark")->trigger();
    EXPECT_EQ(Marked(), 150);
    Tool("mnuCurrentClear")->trigger();
    EXPECT_EQ(Marked(), 100);
    // The marked-rows filter shows what was marked.
    emit ReportPanel().Filter(1);
    EXPECT_EQ(GridView().RecordCount(), 0);
    emit ReportPanel().Filter(2);
    EXPECT_EQ(GridView().RecordCount(), 50);
    Tool("mnuEntireClear")->trigger();
    EXPECT_EQ(Marked(), 0);
    // Whole-table marking with an empty view still marks every row.
    emit ReportPanel().Filter(1);
    ASSERT_EQ(GridView().RecordCount(), 0);
    Tool("mnuEntireMark")->trigger();
    EXPECT_EQ(Marked(), 150);
    // The refreshed view of marked rows now holds the 50 test rows.
    EXPECT_EQ(GridView().RecordCount(), 50);
    Tool("mnuCurrentClear")->trigger();
    EXPECT_EQ(Marked(), 100);
    EXPECT_EQ(GridView().RecordCount(), 0);
    Tool("mnuCurrentMark")->trigger();  // an empty view: nothing
    EXPECT_EQ(Marked(), 100);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

TEST_F(RoadViews, FindNextIncorrectWrapsOnceAndSaysWhenThereIsNone) {
    ToTested();
    const auto exec = [&](const char* sql) { Globals().gProject->OpenProject(false)->Execute(sql); };
    exec("UPDATE Test SET Predicted = Actual;");
    exec("UPDATE Test SET Predicted = (Actual Mod 3) + 1 WHERE MainPrimaryKey IN (110, 130);");
    MTessary::MenuCommand("mnuViewBrowseTest");
    ASSERT_TRUE(Tool("mnuEditFindNextBad")->isEnabled());
    RecordsetPtr rs = GridView().RecordSet();
    ASSERT_TRUE(rs);
    rs->MoveFirst();
    const auto key = [&] { return rs->Fields("IndexCounter1").Value().ToI4(); };
    QList<int> found;
    for (int i = 0; i < 3; ++i) {
        Tool("mnuEditFindNextBad")->trigger();
        found << key();
    }
    // Both wrong rows, then once round from the top to the first again.
    EXPECT_EQ(QSet<int>(found.begin(), found.begin() + 2), (QSet<int>{110, 130}));
    EXPECT_EQ(found[2], found[0]);
    EXPECT_NE(StatusMain(), " There are no incorect predictions in this test data. ");

    // The correct predictions only: nothing to find.
    emit ReportPanel().Filter(3);
    rs = GridView().RecordSet();
    ASSERT_EQ(GridView().RecordCount(), 48);
    rs->MoveFirst();
    rs->Move(4);
    const int here = key();
    Tool("mnuEditFindNextBad")->trigger();
    EXPECT_EQ(StatusMain(), " There are no incorect predictions in this test data. ");
    EXPECT_EQ(key(), here);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

TEST_F(RoadViews, TypedValuesShowTheClassOfTheTree) {
    ToState(4);
    MTessary::MenuCommand("mnuLivePredict");
    ASSERT_EQ(Right(), "IMode");
    ::UInteractive& live = Live();
    auto spins = live.findChildren<UTextSpin*>("utsValue");
    ASSERT_EQ(spins.size(), 4);
    auto* timer = live.findChild<QTimer*>("tmrFirePredict");
    auto* prediction = live.findChild<QLabel*>("lblPrediction");
    CTRX& trx = *Globals().gTRX;
    CClassNames* names = trx.ClassNames();
    ASSERT_TRUE(names);
    const double cases[][4] = {{5.0, 3.4, 1.4, 0.2}, {6.3, 2.8, 5.0, 1.7}, {5.9, 3.0, 4.2, 1.3}};
    QSet<QString> seen;
    for (const auto& c : cases) {
        for (int i = 0; i < 4; ++i) {
            QLineEdit* text = spins[i]->findChild<QLineEdit*>("txtValue");
            text->setFocus();
            text->selectAll();
            QTest::keyClicks(text, QString::number(c[i]));
            QTest::keyClick(text, Qt::Key_Return);
        }
        ASSERT_TRUE(QTest::qWaitFor([timer] { return !timer->isActive(); }, 5000));
        std::vector<com::Variant> row;
        for (double v : c) row.push_back(com::Variant::R8(v));
        row.push_back(com::Variant());
        const int16_t cls = trx.PredictRow(row);
        ASSERT_GE(cls, 0);
        const QString expected = QString::fromStdString(Globals().gDataDef->FieldName(names->OutputClass()) + " is " +
                                                        names->Class(names->OutputClass(), cls));
        EXPECT_EQ(prediction->text(), expected);
        seen << prediction->text();
    }
    EXPECT_GE(seen.size(), 2) << "different flowers, different classes";
}

TEST_F(RoadViews, TheGridRowOpensLivePredictionAndNoRowDoesNothing) {
    ToState(4);
    MTessary::MenuCommand("mnuViewBrowseAll");
    ASSERT_EQ(Right(), "DataGrid");
    RecordsetPtr rs = GridView().RecordSet();
    ASSERT_TRUE(rs);
    rs->MoveFirst();
    rs->Move(119);
    GridView().SyncToRecordset();
    emit GridView().SelectSpecial();
    EXPECT_EQ(Right(), "IMode");
    auto spins = Live().findChildren<UTextSpin*>("utsValue");
    ASSERT_EQ(spins.size(), 4);
    // The inputs hold the values of the row the grid stood on.
    const long long key = rs->Fields("IndexCounter1").Value().ToI4();
    const std::string data = dir.File("data/iris.mdb");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(data.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, ("SELECT SepalLength, PetalWidth FROM iris WHERE IndexCounter1 = " +
                                      std::to_string(key)).c_str(), -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_NEAR(spins[0]->Value(), sqlite3_column_double(st, 0), 1e-6);
    EXPECT_NEAR(spins[3]->Value(), sqlite3_column_double(st, 1), 1e-6);
    sqlite3_finalize(st);
    sqlite3_close(db);
    // A grid with no current row: nothing happens.
    MTessary::MenuCommand("mnuViewBrowseAll");
    emit ReportPanel().Filter(1);  // no marked rows
    ASSERT_EQ(GridView().RecordCount(), 0);
    emit GridView().SelectSpecial();
    EXPECT_EQ(Right(), "DataGrid");
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

TEST_F(RoadViews, TreeAndMarkedRowsExportFromTheWindow) {
    ToTested();
    const std::string csv = dir.File("tree.csv");
    dialogs.files.push_back(QString::fromStdString(csv));
    Tool("mnuExportTree")->trigger();
    EXPECT_EQ(StatusMain(), " Export Complete. ");
    ASSERT_TRUE(std::filesystem::exists(csv));
    EXPECT_GT(std::filesystem::file_size(csv), 0u);

    // The marked rows of the test view, as comma-delimited text.
    MTessary::MenuCommand("mnuViewBrowseTest");
    Tool("mnuCurrentMark")->trigger();
    ASSERT_EQ(Marked(), 50);
    const std::string text = dir.File("marked.txt");
    dialogs.files.push_back(QString::fromStdString(text));
    Tool("mnuCurrentExport")->trigger();
    ASSERT_TRUE(std::filesystem::exists(text)) << (dialogs.Messages().empty() ? std::string()
                                                   : dialogs.Messages().back().text.toStdString());
    std::ifstream in(text);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, 51) << "a header and one line per marked row";
}

// Another program (a backup tool) reads the open project between two edits of
// its marks: the export of the marked rows that follows still writes them all.
TEST_F(RoadViews, AnotherProgramReadingTheOpenProjectBreaksNoLaterExport) {
    if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
    ToTested();
    MTessary::MenuCommand("mnuViewBrowseTest");
    QTableView* right = GridView().Grid()->SplitView(1);
    // A row marked with Space, as a person marks it.
    auto mark = [&](int row) {
        GridView().Grid()->SetRow(row);
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(right, &space);
    };
    mark(0);
    ASSERT_EQ(Marked(), 1);
    EXPECT_EQ(testsupport::StockShell::Run(path, "select count(*) from Test"), "150\n");
    mark(1);
    EXPECT_EQ(Marked(), 2);
    const std::string text = dir.File("marked.txt");
    dialogs.files.push_back(QString::fromStdString(text));
    Tool("mnuEntireExport")->trigger();
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().title.toStdString() << ": "
                                            << dialogs.Messages().front().text.toStdString();
    std::ifstream in(text);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, 3) << "a header and one line per marked row";
}

// Every write the window makes goes in after another program committed a
// change to the open project: a mark with Space, the Marks menu, Toggle All,
// new pruning settings with the rebuilt tree, and the test step's
// classification.
TEST_F(RoadViews, EveryWriteOfTheWindowWorksAfterAnotherProgramsCommit) {
    if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
    ToTested();
    MTessary::MenuCommand("mnuViewBrowseTest");
    QApplication::processEvents();
    const auto inView = [&] { return Count("SELECT COUNT(*) FROM Test WHERE Mark = -1 AND MainPrimaryKey > 100"); };
    const std::vector<std::pair<const char*, std::function<void()>>> writes = {
        {"Space",
         [&] {
             const long long before = Marked();
             GridView().Grid()->SetRow(3);
             QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
             QApplication::sendEvent(GridView().Grid()->SplitView(1), &space);
             EXPECT_EQ(Marked(), before + 1);
         }},
        {"the view's toggle",
         [&] {
             const long long before = inView();
             Tool("mnuCurrentToggle")->trigger();
             EXPECT_EQ(inView(), 50 - before);
         }},
        {"Toggle All",
         [&] {
             const long long before = Marked();
             Tool("mnuEntireToggle")->trigger();
             EXPECT_EQ(Marked(), 150 - before);
         }},
        {"pruning settings",
         [&] {
             ToState(4);
             Prune().SetMinItems(3);
             emit Prune().ReBuild();
             EXPECT_EQ(Config("MinItems"), "3");
         }},
        {"classification",
         [&] {
             MTessary::MenuCommand("mnuViewBrowseTest");
             Globals().gProject->OpenProject(false)->Execute("UPDATE Test SET Predicted = -1;");
             ToState(4);
             emit Prune().NavNext();
             EXPECT_EQ(Config("LastState"), "5");
             EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Predicted >= 1"), 50);
         }},
    };
    int n = 0;
    for (const auto& [what, write] : writes) {
        SCOPED_TRACE(what);
        MTessary::MenuCommand("mnuViewBrowseTest");
        QApplication::processEvents();  // the grid shows its rows
        ASSERT_EQ(testsupport::StockShell::Run(path, "create table if not exists Other (N); insert into Other values (" +
                                                         std::to_string(++n) + ");"),
                  "");
        write();
        EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
        EXPECT_NE(StatusMain(), " Opperation canceled by user. ");
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Other"), 5);
}

namespace {

// A project whose every table carries triggers on every kind of write; one that ran
// would leave its name in Fired and empty Test.
class TrappedProject : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        path = CopySample();
        std::vector<std::string> tables;
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", -1,
                           &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        EXPECT_TRUE(std::find(tables.begin(), tables.end(), "Config") != tables.end());
        std::string sql = "CREATE TABLE Fired (Name TEXT);";
        for (const std::string& t : tables)
            for (const char* when : {"INSERT", "UPDATE", "DELETE"})
                sql += "CREATE TRIGGER [" + t + " " + when + "] AFTER " + when + " ON [" + t +
                       "] BEGIN INSERT INTO Fired VALUES ('" + t + " " + when + "'); DELETE FROM Test; END;";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        Open();
    }
};

}  // namespace

TEST_F(TrappedProject, NoStoredTriggerRunsOnAnyRoadOfTheWorkflow) {
    ToTested();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Predicted >= 1"), 50);
    MTessary::MenuCommand("mnuViewBrowseTest");
    Tool("mnuCurrentMark")->trigger();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Mark = -1"), 50);
    const std::string csv = dir.File("tree.csv"), text = dir.File("marked.txt");
    dialogs.files.push_back(QString::fromStdString(csv));
    Tool("mnuExportTree")->trigger();
    EXPECT_EQ(StatusMain(), " Export Complete. ");
    dialogs.files.push_back(QString::fromStdString(text));
    Tool("mnuCurrentExport")->trigger();
    EXPECT_TRUE(std::filesystem::exists(csv) && std::filesystem::exists(text));
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
    // Closed and opened again: the stored tree comes back without reading a row.
    const int32_t nodes = Globals().gTRX->Nodes();
    MTessary::MenuCommand("mnuFileClose");
    Open();
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    EXPECT_EQ(Globals().gTRX->LoadCount(), 0);
    EXPECT_EQ(Globals().gTRX->Nodes(), nodes);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test"), 150);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Fired"), 0);
}

namespace {

// A project over a generated table whose tree has far more than 128 leaves.
class BigTree : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        const std::string data = dir.File("noise.db");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(data.c_str(), &db), SQLITE_OK);
        std::string sql = "CREATE TABLE Noise (Id INTEGER PRIMARY KEY, K TEXT, B REAL, Class TEXT); BEGIN;";
        // Two hundred values of K, each with its own class pattern: one split, two hundred leaves.
        for (int r = 1; r <= 3000; ++r) {
            const int k = r % 200;
            sql += "INSERT INTO Noise VALUES (" + std::to_string(r) + ",'k" + std::to_string(k) + "'," +
                   std::to_string(r % 7) + ",'c" + std::to_string(k % 4) + "');";
        }
        sql += "COMMIT;";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        path = dir.File("noise.txp");
        MakeProject(data, "Noise",
                    [](const std::string& name) {
                        return name == "Class" ? MatchType::Output
                               : name == "Id"  ? MatchType::NotUsed
                               : name == "K"   ? MatchType::Text
                                               : MatchType::Numeric;
                    },
                    {{"RecordCount", "3000"}, {"TrainLow", "1"}, {"TrainHigh", "2000"}, {"TestLow", "2001"},
                     {"TestHigh", "3000"}, {"LastState", "3"}, {"PruneRate", "0"}, {"MinItems", "2"}});
        Open();
    }
};

}  // namespace

TEST_F(BigTree, OverAHundredAndTwentyEightLeavesTheRuleTreeIsShown) {
    // The flow chart was the view chosen before: the tree is too big for it.
    Globals().gTreeMode = 1;
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    ASSERT_GT(Globals().gTRX->LeafCount(), 128);
    EXPECT_EQ(Globals().gTreeMode, 0);
    EXPECT_EQ(TreeGraph().TreeType(), 0);
    EXPECT_EQ(Checked(), "mnuViewTree");
    EXPECT_EQ(Config("LeafNodeCount"), std::to_string(Globals().gTRX->LeafCount()));
    EXPECT_FALSE(Tool("mnuViewFlow")->isEnabled());
    EXPECT_TRUE(Tool("mnuViewTree")->isEnabled());
    EXPECT_GT(TreeGraph().TreeView()->topLevelItemCount(), 0);
    // Zooming the rule tree reads the empty chart behind it: no division by nothing.
    EXPECT_EQ(MTessary::FitZoom(), 100);
    TreeGraph().SetZoom(130);
    MTessary::MenuCommand("mnuZoomOut");
    EXPECT_EQ(TreeGraph().Zoom(), 125);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// Find, from the menu or the tool bar, takes the keyboard, also when it is
// already open behind the window: typed text goes to the search text, not to
// the grid.
TEST_F(RoadViews, FindTakesTheKeyboardEachTimeItIsOpened) {
    ToState(4);
    MTessary::MenuCommand("mnuViewBrowseAll");
    ASSERT_EQ(Right(), "DataGrid");
    for (int round = 0; round < 2; ++round) {
        Main().activateWindow();
        GridView().Grid()->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::activeWindow(), &Main()) << round;
        Tool("mnuEditFind")->trigger();
        QApplication::processEvents();
        FFind* find = GridView().FindDialog();
        ASSERT_TRUE(find);
        EXPECT_EQ(QApplication::activeWindow(), static_cast<QWidget*>(find)) << round;
        EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(find->cmbFind)) << round;
    }
    GridView().ABar_Click("mnuFind");
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), static_cast<QWidget*>(GridView().FindDialog()));
}
