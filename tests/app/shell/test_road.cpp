// The extraction and test steps in the real window on the sample project:
// from the row ranges to a stored tree, re-pruning, the test rows classified,
// every view behind the report links, and cancelling each long step.
#include "ResultRoadFixture.h"

#include "CSqlMachine.h"

#include <QLabel>
#include <QTest>

using namespace shelltest;

namespace {

class Road : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        Open();
    }
};

}  // namespace

TEST_F(Road, RowRangesToAStoredTreeAndTheClassifiedTestRows) {
    ASSERT_EQ(Config("LastState"), "3");
    ASSERT_EQ(Config("MinItems"), "<none>");
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    const CTRX& trx = *Globals().gTRX;
    EXPECT_EQ(Config("LastState"), "4");
    EXPECT_EQ(Config("LastTrainLow"), "1");
    EXPECT_EQ(Config("LastTrainHigh"), "100");
    EXPECT_EQ(Config("LeafNodeCount"), std::to_string(trx.LeafCount()));
    EXPECT_GT(Count("SELECT COUNT(*) FROM NodeData"), 0);
    // No stored minimum: the panel offers 1 % of the 100 training rows, the build used 2.
    EXPECT_EQ(Prune().MinItems(), 1);
    EXPECT_EQ(trx.MinItems(), 2);
    EXPECT_FLOAT_EQ(Prune().PruneRate(), 75);
    EXPECT_EQ(Left(), "Prune");
    EXPECT_EQ(Right(), "TreeGraph");
    // A small tree is shown as a flow chart at first.
    EXPECT_EQ(Globals().gTreeMode, 1);
    EXPECT_EQ(TreeGraph().TreeType(), 1);
    EXPECT_EQ(Checked(), "mnuViewFlow");
    EXPECT_EQ(CaptionRight(), QString("Rule Tree  ( %1 Nodes)").arg(trx.Nodes()));
    EXPECT_EQ(StatusMain(), " Modify the current tree. ");
    EXPECT_TRUE(Tool("mnuViewTree")->isEnabled());
    EXPECT_TRUE(Tool("mnuViewFlow")->isEnabled());
    EXPECT_FALSE(Tool("mnuViewMatrix")->isEnabled());
    EXPECT_TRUE(Prune().findChild<QPushButton*>("cmdNext") == nullptr ||
                Prune().findChild<QPushButton*>("cmdNext")->isEnabled());

    emit Prune().NavNext();
    EXPECT_EQ(Main().State().State(), 5);
    EXPECT_EQ(Config("LastState"), "5");
    EXPECT_EQ(Config("LastTestLow"), "101");
    EXPECT_EQ(Config("LastTestHigh"), "150");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Predicted >= 1"), 50);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Test WHERE Actual >= 1"), 50);
    EXPECT_EQ(Left(), "Report");
    EXPECT_EQ(StatusMain(), " Click any cell for details. ");
    // The report panel follows the view still shown on the right.
    EXPECT_EQ(Checked(), "mnuViewFlow");
    EXPECT_TRUE(ReportPanel().Link(6)->Highlight());
    EXPECT_FALSE(ReportPanel().Link(0)->Highlight());
    EXPECT_TRUE(Tool("mnuViewMatrix")->isEnabled());
    EXPECT_TRUE(Tool("mnuViewBrowseTest")->isEnabled());
    // The two legends stay in step, with a tree to colour.
    emit Prune().ColorChange(0, 80);
    EXPECT_EQ(ReportPanel().ColorItems(), 0);
    EXPECT_EQ(ReportPanel().Contrast(), 80);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();

    // The same test range again is not classified again.
    Exec("UPDATE Test SET Predicted = -1 WHERE MainPrimaryKey = 101");
    ToState(5);
    EXPECT_EQ(Count("SELECT Predicted FROM Test WHERE MainPrimaryKey = 101"), -1);
}

TEST_F(Road, OnlyTheRateChangedRePrunesTheRowsAlreadyLoaded) {
    ToState(4);
    // Held here, so that a new engine can never take the old one's address.
    const std::shared_ptr<CTRX> first = Globals().gTRX;
    const int32_t loaded = Globals().gTRX->LoadCount();
    ASSERT_EQ(loaded, 100);
    // The panel offered 1 % of the rows while the first build used 2: settle that first.
    Prune().SetMinItems(2);
    Prune().SetPruneRate(33.3f);
    emit Prune().ReBuild();
    EXPECT_EQ(Config("PruneRate"), "33.3");
    EXPECT_EQ(Globals().gTRX, first) << "a prune-rate change must keep the engine and its rows";
    EXPECT_EQ(Globals().gTRX->LoadCount(), loaded);
    EXPECT_FLOAT_EQ(Globals().gTRX->PruneRate(), 33.3f);
    EXPECT_EQ(Config("LastState"), "4");
    EXPECT_EQ(Config("LeafNodeCount"), std::to_string(Globals().gTRX->LeafCount()));

    // The minimum items changed: a fresh engine and the rows loaded again.
    Prune().SetMinItems(5);
    emit Prune().ReBuild();
    EXPECT_EQ(Config("MinItems"), "5");
    EXPECT_NE(Globals().gTRX, first);
    EXPECT_EQ(Globals().gTRX->MinItems(), 5);
    EXPECT_EQ(Globals().gTRX->LoadCount(), loaded);

    // Nothing changed: the step shows the tree it has without building again.
    const std::shared_ptr<CTRX> second = Globals().gTRX;
    emit Prune().ReBuild();
    EXPECT_EQ(Globals().gTRX, second);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(Road, AStoredTreeIsReloadedAndAMissingOneIsBuiltAgain) {
    ToTested();
    const int32_t nodes = Globals().gTRX->Nodes();
    MTessary::MenuCommand("mnuFileClose");
    Open();
    // A project opened at state 5 has no tree driver yet: the legend and the
    // redraw have nothing to colour and do no harm.
    ASSERT_FALSE(Globals().gTRX);
    emit ReportPanel().ColorChange(0, 20);
    emit Prune().Refresh();
    EXPECT_EQ(Prune().ColorItems(), 0);
    EXPECT_EQ(Prune().Contrast(), 20);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    EXPECT_EQ(Globals().gTRX->LoadCount(), 0) << "the stored tree fits: no rows are read";
    EXPECT_EQ(Globals().gTRX->Nodes(), nodes);
    EXPECT_EQ(Config("LastState"), "5");
    // After a reload, a rate change loads the rows first.
    Prune().SetPruneRate(50);
    emit Prune().ReBuild();
    EXPECT_EQ(Globals().gTRX->LoadCount(), 100);
    EXPECT_EQ(Config("LastState"), "4");

    // LastState says there is a tree, but NodeData is gone: build instead of showing nothing.
    MTessary::MenuCommand("mnuFileClose");
    Exec("DROP TABLE NodeData");
    Open();
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    EXPECT_EQ(Globals().gTRX->LoadCount(), 100);
    EXPECT_EQ(Config("LastState"), "4");
    EXPECT_GT(Count("SELECT COUNT(*) FROM NodeData"), 0);
    // And a damaged one.
    MTessary::MenuCommand("mnuFileClose");
    Exec("DELETE FROM NodeData");
    Open();
    ToState(4);
    ASSERT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    EXPECT_EQ(Config("LastState"), "4");
}

TEST_F(Road, CancelLeavesStateAndStoredTreeConsistent) {
    // Loading the rows: the partly loaded engine goes, nothing is stored.
    CancelDuring("Loading data...");
    ToState(4);
    EXPECT_FALSE(Globals().gTRX);
    EXPECT_EQ(Config("LastState"), "3");
    EXPECT_EQ(Config("LastTrainHigh"), "<none>");
    EXPECT_FALSE(MTessary::Status()->isVisible());
    EXPECT_EQ(Left(), "Prune");
    // The legends and the redraw have no tree to work on and do no harm.
    emit ReportPanel().ColorChange(1, 30);
    EXPECT_EQ(Prune().ColorItems(), 1);
    EXPECT_EQ(Prune().Contrast(), 30);
    emit Prune().Refresh();
    emit Prune().NavNext();
    EXPECT_EQ(Main().State().State(), 4);
    MTessary::MenuCommand("mnuNormalZoom");
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();

    // Building: the rows stay, the state says no tree.
    CancelDuring("Extracting rules...");
    ToState(4);
    ASSERT_TRUE(Globals().gTRX);
    EXPECT_FALSE(Globals().gTRX->HasTree());
    EXPECT_EQ(Config("LastState"), "3");
    EXPECT_FALSE(MTessary::Status()->isVisible());
    EXPECT_EQ(StatusMain(), " Operation canceled by user. ");

    // Classifying: back to state 4 with the stored tree shown again.
    ToState(4);
    ASSERT_EQ(Config("LastState"), "4");
    CancelDuring("Running Test Data...");
    emit Prune().NavNext();
    EXPECT_EQ(Main().State().State(), 4);
    EXPECT_EQ(Config("LastState"), "4");
    EXPECT_EQ(Config("LastTestLow"), "<none>");
    EXPECT_EQ(Left(), "Prune");
    EXPECT_TRUE(Globals().gTRX->HasTree());
    EXPECT_FALSE(MTessary::Status()->isVisible());
    // And the next run is not cancelled.
    emit Prune().NavNext();
    EXPECT_EQ(Config("LastState"), "5");
}

TEST_F(Road, EveryReportLinkShowsItsView) {
    ToTested();
    struct Link {
        int index;
        const char* right;
        const char* tool;
    };
    const Link links[] = {{0, "DataGrid", "mnuViewBrowseAll"},  {1, "DataGrid", "mnuViewBrowseTest"},
                          {2, "Matrix", "mnuViewMatrix"},       {3, "FieldView", "mnuViewFieldStats"},
                          {4, "ClassView", "mnuViewClassList"}, {5, "TreeGraph", "mnuViewTree"},
                          {6, "TreeGraph", "mnuViewFlow"},      {7, "IMode", "mnuLivePredict"}};
    for (const Link& l : links) {
        SCOPED_TRACE(l.index);
        emit ReportPanel().Navigate(int16_t(l.index));
        EXPECT_EQ(Right(), l.right);
        EXPECT_EQ(Checked(), l.tool);
    }
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
    // Showing the views switches no link off.
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(ReportPanel().Link(i)->Enabled()) << i;

    emit ReportPanel().Navigate(0);
    EXPECT_EQ(GridView().RecordCount(), 150);
    EXPECT_EQ(CaptionRight(), "Browse All Data");
    emit ReportPanel().Navigate(1);
    EXPECT_EQ(GridView().RecordCount(), 50);
    EXPECT_EQ(CaptionRight(), "Browse Test Data");
    EXPECT_TRUE(Tool("mnuEditFindNextBad")->isEnabled());
    // The report filters over the test view, counted beside the program.
    const long long right = Count("SELECT COUNT(*) FROM Test WHERE Actual >= 1 AND Actual = Predicted");
    emit ReportPanel().Filter(3);
    EXPECT_EQ(GridView().RecordCount(), right);
    EXPECT_EQ(CaptionRight(), "Data Browse - Correct Predictions");
    emit ReportPanel().Filter(4);
    EXPECT_EQ(GridView().RecordCount(), 50 - right);
    EXPECT_EQ(StatusMain(), " Browsing incorrect predictions. ");
    emit ReportPanel().Filter(0);
    EXPECT_EQ(GridView().RecordCount(), 50);
    EXPECT_EQ(CaptionRight(), "Browse Test Data");

    // The rule tree and the flow chart, with their captions.
    emit ReportPanel().Navigate(5);
    EXPECT_EQ(TreeGraph().TreeType(), 0);
    EXPECT_EQ(TreeGraph().TreeView()->topLevelItemCount(), 1);
    EXPECT_EQ(CaptionRight(), QString("Rule Tree   ( %1 Nodes )").arg(Globals().gTRX->Nodes()));
    emit ReportPanel().Navigate(6);
    EXPECT_EQ(TreeGraph().TreeType(), 1);
    double lo = 0, hi = 0;
    EXPECT_GT(TreeGraph().GetXExtremes(lo, hi), 0);
    EXPECT_TRUE(Tool("mnuPrintTiled")->isEnabled());
    EXPECT_TRUE(Tool("mnuZoomIn")->isEnabled());
}

TEST_F(Road, MatrixCellsOpenTheirTestRows) {
    ToTested();
    MTessary::MenuCommand("mnuViewMatrix");
    ASSERT_EQ(Right(), "Matrix");
    ::UMatrix& m = Matrix();
    ASSERT_TRUE(m.Initialized());
    const auto l = m.CurrentLayout();
    ASSERT_EQ(l.n, 3);
    int opened = 0;
    for (int16_t a = 1; a <= 3; ++a)
        for (int16_t p = 1; p <= 3; ++p) {
            SCOPED_TRACE(a * 10 + p);
            const long long rows = Count("SELECT COUNT(*) FROM Test WHERE Actual = " + std::to_string(a) +
                                         " AND Predicted = " + std::to_string(p));
            MTessary::MenuCommand("mnuViewMatrix");
            const QPoint cell(l.x1 + (a - l.fc) * l.cw + l.cw / 2, l.y1 + (p - l.fr) * 16 + 8);
            ASSERT_EQ(m.HitTest(cell.x(), cell.y()).col, a);
            ASSERT_EQ(m.HitTest(cell.x(), cell.y()).row, p);
            QTest::mouseClick(&m, Qt::LeftButton, {}, cell);
            if (rows == 0) {
                // An empty cell opens nothing.
                EXPECT_EQ(Right(), "Matrix");
                continue;
            }
            ++opened;
            EXPECT_EQ(Right(), "DataGrid");
            EXPECT_EQ(GridView().RecordCount(), rows);
            EXPECT_EQ(CaptionRight(), "Browse Details (From Confusion Matrix)");
            EXPECT_EQ(StatusMain(), " Browsing details. ");
        }
    EXPECT_GE(opened, 2);
    // A totals column: every test row of that actual class.
    emit m.ItemClick(2, -1);
    EXPECT_EQ(GridView().RecordCount(), Count("SELECT COUNT(*) FROM Test WHERE Actual = 2"));
}

TEST_F(Road, NodesOfTheChartShowTheirFiguresAndOpenTheirRows) {
    ToState(4);
    const CTRX& trx = *Globals().gTRX;
    emit TreeGraph().NodeOver(0);
    const QString tip = TreeGraph().Tree()->toolTip();
    EXPECT_EQ(tip.toStdString(), trx.NodeToolTip(0, Prune().ColorItems()));
    emit TreeGraph().NodeOver(-1);
    EXPECT_TRUE(TreeGraph().Tree()->toolTip().isEmpty());
    // A node the tree does not have counts as none.
    emit TreeGraph().NodeOver(trx.Nodes() + 5);
    EXPECT_TRUE(TreeGraph().Tree()->toolTip().isEmpty());

    // Before the test rows are classified a double click only says so.
    emit TreeGraph().ItemClick(1);
    EXPECT_EQ(StatusMain(), " Classification of test data has not been completed. ( Use !Extract ) ");
    EXPECT_EQ(Right(), "TreeGraph");

    emit Prune().NavNext();
    MTessary::MenuCommand("mnuViewFlow");
    emit TreeGraph().ItemClick(0);
    EXPECT_EQ(Right(), "DataGrid");
    EXPECT_EQ(GridView().RecordCount(), 50) << "the root holds every test row";
    EXPECT_EQ(CaptionRight(), "Browse Details (From Flow Chart)");
    EXPECT_EQ(Checked(), "mnuViewBrowseTest");
    long long reached = 0;
    for (int32_t node = 1; node < trx.Nodes(); ++node) {
        if (trx.Tree().Node(node).Forks != 0) continue;  // leaves part the rows
        emit TreeGraph().ItemClick(node);
        reached += GridView().RecordCount();
    }
    EXPECT_EQ(reached, 50) << "every test row reaches one leaf";
    // The all-rows filter keeps the node's condition.
    emit ReportPanel().Filter(0);
    EXPECT_EQ(CaptionRight(), "Browse Details (From Flow Chart)");
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// A test row whose value of a categorical input is none of its classes stops
// the classification with the driver's box; the state stays where it was.
namespace {

class RoadBadClass : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        path = CopySample();
        for (const auto& [file, sql] :
             {std::pair{path, "UPDATE FieldConfig SET UserMatchType = 2 WHERE FieldName = 'SepalLength'"},
              std::pair{dir.File("data/iris.mdb"), "UPDATE iris SET SepalLength = 99.5 WHERE IndexCounter1 = 120"}}) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        Open();
    }
};

}  // namespace

TEST_F(RoadBadClass, AFailedClassificationKeepsTheStateAndHidesTheProgress) {
    ToState(4);
    ASSERT_EQ(Config("LastState"), "4");
    dialogs.Clear();
    emit Prune().NavNext();
    ASSERT_FALSE(dialogs.Messages().empty());
    EXPECT_TRUE(dialogs.Messages().front().text.contains("BAD CLASS NAME"))
        << dialogs.Messages().front().text.toStdString();
    EXPECT_EQ(Config("LastState"), "4");
    EXPECT_EQ(Config("LastTestLow"), "<none>");
    EXPECT_FALSE(MTessary::Status()->isVisible());
    EXPECT_FALSE(Tool("mnuViewMatrix")->isEnabled());
}

TEST_F(Road, WithoutTheEngineTheStepFailsAndSaysWhy) {
    const std::string store = std::getenv("TESSARY_CLASSES") ? std::getenv("TESSARY_CLASSES") : "";
    ::setenv("TESSARY_CLASSES", dir.File("no-classes.reg").c_str(), 1);
    ToState(4);
    ::setenv("TESSARY_CLASSES", store.c_str(), 1);
    ASSERT_FALSE(dialogs.Messages().empty());
    EXPECT_EQ(dialogs.Messages().front().title, "CTRX::Initialize");
    EXPECT_FALSE(Globals().gTRX);
    EXPECT_EQ(Config("LastState"), "3");
    EXPECT_EQ(Left(), "Prune");
    emit Prune().NavNext();
    EXPECT_EQ(Main().State().State(), 4);
    // With the engine back, the same step builds.
    ToState(4);
    EXPECT_TRUE(Globals().gTRX && Globals().gTRX->HasTree());
    EXPECT_EQ(Config("LastState"), "4");
}
