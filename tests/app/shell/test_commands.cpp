// The dispatcher: each command reaches its action, the view steps in order,
// the busy cursor, recent files, keys, and a failing command that the
// program survives.
#include "ShellFixture.h"

#include "AppGlobals.h"
#include "AppServicesTesting.h"
#include "CMRUList.h"
#include "CProject.h"
#include "MUtilities.h"
#include "PlaceholderClassView.h"
#include "PlaceholderFieldSelect.h"
#include "PlaceholderFieldView.h"
#include "PlaceholderTreeGraph.h"

#include <QMenu>

using namespace shelltest;

namespace {

struct ViewCase {
    const char* tool;
    int link;
    bool rowCountBefore;
    const char* caption;  // "" when the step sets none
    const char* status;
    const char* rightKey;
};

const ViewCase kViews[] = {
    {"mnuViewBrowseAll", 0, true, "Browse All Data", "Browsing all the rows in the table.", "DataGrid"},
    {"mnuViewBrowseTest", 1, false, "Browse Test Data", "Browsing the rows in the test set.", "DataGrid"},
    {"mnuViewFieldStats", 3, true, "", "Field Statistics - Double click field name to view class details.",
     "FieldView"},
    {"mnuViewClassList", 4, true, "", "Class List.", "ClassView"},
    {"mnuLivePredict", 7, true, "", "Live Prediction.", "IMode"},
};

}  // namespace

TEST_F(ShellTest, EachViewStepLinksTheReportTicksOneToolAndSaysWhatItShows) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    UStatusBar* bar = Main().StatusBar();
    for (const ViewCase& v : kViews) {
        SCOPED_TRACE(v.tool);
        // Twice: a second click runs the whole step again.
        for (int round = 0; round < 2; ++round) {
            bar->MsgRecordCount(-1);
            Report().calls.clear();
            Tool(v.tool)->setEnabled(true);
            Tool(v.tool)->trigger();
            EXPECT_EQ(Report().calls.value(0), QStringLiteral("SetNavigate(%1)").arg(v.link));
            int ticked = 0;
            for (int id = 3001; id <= 3008; ++id) ticked += Tool(QString::number(id))->isChecked() ? 1 : 0;
            EXPECT_EQ(ticked, 1);
            EXPECT_TRUE(Tool(v.tool)->isChecked());
            EXPECT_EQ(StatusMain(), QStringLiteral(" %1 ").arg(v.status));
            EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), v.rightKey);
            if (*v.caption) {
                EXPECT_EQ(Main().Frame()->CaptionRight(), v.caption);
            }
        }
        // The row count: from Config before the step, or from the view itself (the test rows).
        if (v.rowCountBefore) {
            EXPECT_TRUE(bar->Panel(QStringLiteral("Project"))->isVisible());
        }
    }
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, BrowseTestShowsNoConfigRowCountBeforeItsView) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    // A grid with no database: the view's own count cannot come, so only a count before would show.
    Main().StatusBar()->MsgRecordCount(-1);
    Grid().Disconnect();
    app::Globals().gProject->SaveConfig("TestKeyMin", "1");
    app::Globals().gProject->SaveConfig("TestKeyMax", "150");
    Grid().SetDatabaseName(QStringLiteral("/nonexistent/x.txp"));
    Tool("mnuViewBrowseTest")->setEnabled(true);
    Tool("mnuViewBrowseTest")->trigger();
    EXPECT_FALSE(Main().StatusBar()->Panel(QStringLiteral("Project"))->isVisible());
}

TEST_F(ShellTest, GridAndTreeCommandsReachTheirPanels) {
    ASSERT_TRUE(Start());
    for (const char* t : {"mnuEditCopyField", "mnuEditCopyRow", "mnuEditFind"}) Tool(t)->setEnabled(true);
    Tool("mnuEditCopyField")->trigger();
    Tool("mnuEditCopyRow")->trigger();
    Tool("mnuEditFind")->trigger();
    EXPECT_EQ(Grid().calls, (QStringList{"CopyCell()", "CopyRecord()", "ShowFind()"}));
    auto& tree = *static_cast<PlaceholderTreeGraph*>(Main().Panels().treeGraph);
    MTessary::MenuCommand(QStringLiteral("mnuExpandAll"));
    MTessary::MenuCommand(QStringLiteral("mnuCollapseAll"));
    EXPECT_EQ(tree.calls, (QStringList{"Expand()", "Collapse()"}));
    // Sub-menu names and unknown names do nothing.
    MTessary::MenuCommand(QStringLiteral("mnuFile"));
    MTessary::MenuCommand(QStringLiteral("mnuviewbrowseall"));
    EXPECT_EQ(Report().calls, QStringList());
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, ReConfigMovesToFieldSelectionWhateverTheState) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    Main().State().SetStateValue(5);
    Tool("mnuReConfig")->trigger();
    EXPECT_EQ(Main().State().State(), 2);
    auto& fields = *static_cast<PlaceholderFieldSelect*>(Main().Panels().fieldSel);
    EXPECT_TRUE(fields.calls.contains("Initialize()"));
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "Configure");
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "FieldView");
    EXPECT_TRUE(Tool("mnuViewFieldStats")->isChecked());
    EXPECT_EQ(StatusMain(), " Select the fields to use for this project. ");
    EXPECT_EQ(Main().StatusBar()->Panel(4)->text(), " 150 Rows ");
}

TEST_F(ShellTest, ACommandHoldsTheBusyCursorForItsLength) {
    ASSERT_TRUE(Start());
    app::FakeScreen screen;
    app::IScreen* previous = app::SetScreen(&screen);
    MTessary::MenuCommand(QStringLiteral("mnuExpandAll"));
    app::SetScreen(previous);
    ASSERT_GE(screen.history.size(), 2u);
    EXPECT_EQ(screen.history.front(), app::vbHourglass);
    EXPECT_EQ(screen.history.back(), app::vbDefault);
    EXPECT_TRUE(Main().Enabled());
}

TEST_F(ShellTest, AFailingCommandShowsItsBoxAndTheProgramGoesOn) {
    ASSERT_TRUE(Start());
    // The matrix needs a project: without one the command fails inside the dispatcher.
    Tool("mnuViewMatrix")->setEnabled(true);
    Tool("mnuViewMatrix")->trigger();
    auto boxes = dialogs.Messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "MTessary::MenuCommand");
    EXPECT_EQ(boxes[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(boxes[0].text.startsWith("Error: 91. \n"));
    // The window is usable again: not busy, and the next command runs.
    EXPECT_TRUE(Main().Enabled());
    EXPECT_TRUE(Main().isVisible());
    Tool("mnuEditCopyField")->setEnabled(true);
    Tool("mnuEditCopyField")->trigger();
    EXPECT_EQ(Grid().calls.value(0), "CopyCell()");
}

TEST_F(ShellTest, ARecentFileEntryOpensItsProjectAndIsReleasedOnlyAfterItsClick) {
    const std::string older = CopySample("a");
    const std::string newer = CopySample("b");
    SetReg("RecentFileList", "1", newer);
    SetReg("RecentFileList", "2", older);
    ASSERT_TRUE(Start());
    QMenu* file = Main().Bar()->Band("popFile");
    QList<QAction*> entries;
    for (QAction* a : file->actions())
        if (a->objectName() == "mnuRecent") entries << a;
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1]->text(), "&2 " + QString::fromStdString(older));
    QPointer<QAction> clicked = entries[1];
    clicked->trigger();
    EXPECT_EQ(Main().RecentIndex, 2);
    ASSERT_TRUE(app::Globals().gProject);
    EXPECT_EQ(app::Globals().gProject->FileName(), older);
    // The open moved it to the top and rebuilt the entries; the clicked one lived through its click.
    EXPECT_EQ(app::Globals().gMRUList->Item(1).toStdString(), older);
    EXPECT_TRUE(clicked);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(clicked);
    // Another tool leaves the index alone.
    Tool("mnuEditCopyField")->setEnabled(true);
    Tool("mnuEditCopyField")->trigger();
    EXPECT_EQ(Main().RecentIndex, 2);
}

TEST_F(ShellTest, KeysOfOtherWindowsRunTheToolOfTheirShortcut) {
    ASSERT_TRUE(Start());
    int16_t code = 112, shift = 0;  // F1
    MUtilities::MenuKeyDown(code, shift);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shift, 0);
    code = 113;  // F2: no tool
    MUtilities::MenuKeyDown(code, shift);
    EXPECT_EQ(code, 113);
    // A disabled tool does not take its key.
    Tool("mnuHelpManual")->setEnabled(false);
    code = 112;
    MUtilities::MenuKeyDown(code, shift);
    EXPECT_EQ(code, 112);
}

TEST_F(ShellTest, CloseAndOpenSwitchImportPrintAndClose) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    EXPECT_FALSE(Tool("1004")->isEnabled());
    EXPECT_TRUE(Tool("1005")->isEnabled());
    Tool("mnuFileClose")->trigger();
    EXPECT_FALSE(app::Globals().gProject);
    EXPECT_TRUE(Tool("1004")->isEnabled());
    EXPECT_FALSE(Tool("1003")->isEnabled());
    for (const char* off : {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1008", "1009", "1010"})
        EXPECT_FALSE(Tool(off)->isEnabled()) << off;
    EXPECT_EQ(Main().windowTitle(), "Tessary");
    EXPECT_EQ(StatusMain(), " Welcome to Tessary. ");
    EXPECT_FALSE(Main().StatusBar()->Panel(4)->isVisible());
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "");
    EXPECT_TRUE(Grid().calls.contains("Disconnect()"));
    // Cancelling the open dialog leaves no project.
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    Tool("mnuFileOpen")->trigger();
    EXPECT_FALSE(app::Globals().gProject);
    EXPECT_FALSE(Tool("3001")->isEnabled());
}
