// The command dispatcher, tool states, help, about, preferences and import.
#include "MTessary.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CMRUList.h"
#include "CCommandTable.h"
#include "CCommonDialog.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "CTessaryApp.h"
#include "CTreeDisplay.h"
#include "ErrorGuard.h"
#include "FAbout.h"
#include "FMain.h"
#include "FPref.h"
#include "IBrowseCommands.h"
#include "IGridPanel.h"
#include "IReportPanel.h"
#include "ITreeGraphPanel.h"
#include "MMenu.h"
#include "MTessaryGlobals.h"
#include "MUtilities.h"
#include "TextImport.h"
#include "ToolIds.h"
#include "UAppFrame.h"

#include <QAction>
#include <algorithm>
#include <QMenuBar>
#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace MTessary {

namespace {

base::IReportPanel* ReportPanel() { return Main().Panels().report; }

void RecordCountFromConfig() {
    auto project = app::Globals().gProject;
    const std::string count = project ? project->GetConfig("RecordCount", "") : std::string();
    MMenu::StatusRecordCount(QString::fromStdString(count).trimmed().toInt());
}

using namespace ToolIds;
using base::ReportLink;

struct ViewStep {
    const char* tool;
    bool rowCount;
    ReportLink link;
    const char* caption;  // nullptr: the pane keeps its caption
    const char* status;
};

constexpr ViewStep kViewSteps[] = {
    {"mnuViewBrowseAll", true, base::kLinkBrowseAll, "Browse All Data", "Browsing all the rows in the table."},
    {"mnuViewBrowseTest", false, base::kLinkBrowseTest, "Browse Test Data", "Browsing the rows in the test set."},
    {"mnuViewMatrix", false, base::kLinkMatrix, nullptr, "Click any cell for details."},
    {"mnuLivePredict", true, base::kLinkLivePredict, nullptr, "Live Prediction."},
    {"mnuViewFieldStats", true, base::kLinkFieldStats, nullptr,
     "Field Statistics - Double click field name to view class details."},
    {"mnuViewClassList", true, base::kLinkClassList, nullptr, "Class List."},
    {"mnuViewTree", true, base::kLinkTree, nullptr, "Tree View - Double click any row for details."},
    {"mnuViewFlow", true, base::kLinkFlow, nullptr, "Flow Chart View - Double click any node for details."},
};

void RunView(const ViewStep& step) {
    const QString tool = QString::fromUtf8(step.tool);
    if (step.rowCount) RecordCountFromConfig();
    if (tool == QLatin1String("mnuViewBrowseAll")) {
        SetupBrowse(0, -1, -1);
        ShowPanel(QStringLiteral("DataGrid"));
    } else if (tool == QLatin1String("mnuViewBrowseTest")) {
        SetupBrowse(1, -1, -1);
        ShowPanel(QStringLiteral("DataGrid"));
    } else if (tool == QLatin1String("mnuViewMatrix")) {
        ShowMatrix();
    } else if (tool == QLatin1String("mnuLivePredict")) {
        ShowInteract();
    } else if (tool == QLatin1String("mnuViewFieldStats")) {
        ShowFieldStats();
    } else if (tool == QLatin1String("mnuViewClassList")) {
        ShowClassList();
    } else if (tool == QLatin1String("mnuViewTree")) {
        ShowTree(0);
    } else {
        ShowTree(1);
    }
    if (base::IReportPanel* report = ReportPanel()) report->SetNavigate(step.link);
    CheckViewTool(tool);
    if (step.caption) Main().Frame()->SetCaptionRight(QString::fromUtf8(step.caption));
    MMenu::StatusText(QString::fromUtf8(step.status));
}

void BrowseCommand(const std::function<void(shell::IBrowseCommands&)>& call) {
    if (shell::IBrowseCommands* commands = shell::BrowseCommands()) call(*commands);
}

void Dispatch(const QString& name) {
    base::IGridPanel* grid = GridPanel();
    if (name == QLatin1String("mnuZoomIn")) ZoomTree(false);
    else if (name == QLatin1String("mnuZoomOut")) ZoomTree(true);
    else if (name == QLatin1String("mnuExpandAll")) {
        if (auto* tree = Main().Panels().treeGraph) tree->Expand();
    } else if (name == QLatin1String("mnuCollapseAll")) {
        if (auto* tree = Main().Panels().treeGraph) tree->Collapse();
    } else if (name == QLatin1String("mnuNormalZoom")) NormalZoom();
    else if (name == QLatin1String("mnuFileNew")) StartNewProject();
    else if (name == QLatin1String("mnuFileOpen")) LoadProject(QString());
    else if (name == QLatin1String("mnuFileClose")) CloseCurrentProject();
    else if (name == QLatin1String("mnuReConfig")) Main().State().SetStateValue(2);
    else if (name == QLatin1String("mnuFileImport")) FileImport();
    else if (name == QLatin1String("mnuFilePrint")) MUtilities::MENU_PrintForm();
    else if (name == QLatin1String("mnuPrintTiled")) BrowseCommand([](auto& c) { c.PrintTiled(); });
    else if (name == QLatin1String("mnuExportTree")) BrowseCommand([](auto& c) { c.Export2CSV(); });
    else if (name == QLatin1String("mnuRecent")) {
        auto mru = app::Globals().gMRUList;
        if (mru) LoadProject(mru->Item(Main().RecentIndex));
    } else if (name == QLatin1String("mnuFileExit")) Main().close();
    else if (name == QLatin1String("mnuEditCopyField")) {
        if (grid) grid->CopyCell();
    } else if (name == QLatin1String("mnuEditCopyRow")) {
        if (grid) grid->CopyRecord();
    } else if (name == QLatin1String("mnuEditFind")) {
        if (grid) grid->ShowFind();
    } else if (name == QLatin1String("mnuEditFindNextBad")) MENU_SFFindError();
    else if (name == QLatin1String("mnuEditPrefrences")) EditPreferences();
    else if (name == QLatin1String("mnuCurrentExport")) BrowseCommand([](auto& c) { c.Export(-1); });
    else if (name == QLatin1String("mnuEntireExport")) BrowseCommand([](auto& c) { c.Export(0); });
    else if (name == QLatin1String("mnuHelpManual")) ShowHelp();
    else if (name == QLatin1String("mnuHelpAbout")) ShowAbout();
    else {
        for (const ViewStep& step : kViewSteps)
            if (name == QLatin1String(step.tool)) {
                RunView(step);
                return;
            }
        // Any other name does nothing.
        MarkCommand(name);
    }
}

void SetTool(const QVariant& key, bool enabled) {
    if (QAction* tool = Main().Bar()->Tool(key)) tool->setEnabled(enabled);
}

void SetLink(ReportLink index, bool enabled) {
    if (base::IReportPanel* report = ReportPanel()) {
        if (enabled) report->EnableLink(index);
        else report->DisableLink(index);
    }
}

void SetGridSelect(bool enabled) {
    if (base::IGridPanel* grid = GridPanel()) grid->SetSpecialSelectEnable(enabled);
}

// Whether the stored tree is small enough for a flow chart.
bool FlowChartRule() {
    const std::string text = app::Globals().gProject->GetConfig("LeafNodeCount", "-1");
    bool ok = false;
    const double leaves = QString::fromStdString(text).trimmed().toDouble(&ok);
    if (!ok) app::RaiseError(13);
    return leaves >= 1 && leaves <= CTreeDisplay::kMaxFlowChartLeaves;
}

// What each stored workflow state switches on. Columns: "1", "2" or "3", "4", "5".
enum Switch : uint8_t { Off, On, Flow };  // Flow: on when the flow-chart rule says so
constexpr int kNoLink = -1;

struct StateSwitch {
    int tool;
    int link;  // a ReportLink, or kNoLink
    Switch byState[4];
};

constexpr StateSwitch kStateSwitches[] = {
    {kViewBrowseAll, base::kLinkBrowseAll, {Off, On, On, On}},
    {kViewFieldStats, base::kLinkFieldStats, {Off, On, On, On}},
    {kViewClassList, base::kLinkClassList, {Off, On, On, On}},
    {kReConfig, kNoLink, {Off, On, On, On}},
    {kViewBrowseTest, base::kLinkBrowseTest, {Off, Off, Off, On}},
    {kViewMatrix, base::kLinkMatrix, {Off, Off, Off, On}},
    {kLivePredict, base::kLinkLivePredict, {Off, Off, On, On}},
    {kViewTree, base::kLinkTree, {Off, Off, On, On}},
    {kViewFlow, base::kLinkFlow, {Off, Off, Flow, Flow}},
    {kExportTree, kNoLink, {Off, Off, On, On}},
};
constexpr bool kGridSelectByState[4] = {false, false, true, true};

// The column of a stored state; -1 for a value that changes nothing.
int StateColumn(const QString& state) {
    if (state == QLatin1String("1")) return 0;
    if (state == QLatin1String("2") || state == QLatin1String("3")) return 1;
    if (state == QLatin1String("4")) return 2;
    if (state == QLatin1String("5")) return 3;
    return -1;
}

}  // namespace

void MenuCommand(const QString& toolName) {
    base::ShowErrors("MTessary::MenuCommand", [&] {
        CHourglass hold;
        hold.SetValue(true);
        Dispatch(toolName);
    });
}

void EnableTool(const QVariant& key) { SetTool(key, true); }
void DisableTool(const QVariant& key) { SetTool(key, false); }

void CheckViewTool(const QVariant& key) {
    CCommandTable* bar = Main().Bar();
    for (int id : kViewTools)
        if (QAction* tool = bar->Tool(Key(id))) tool->setChecked(false);
    if (QAction* tool = bar->Tool(key)) tool->setChecked(true);
}

void InitToolbar() {
    CCommandTable* bar = Main().Bar();
    for (int i = 0; i < bar->Tools().size(); ++i) {
        bar->Tools()[i]->setEnabled(false);
        DisableTool(i);
    }
    for (int id : {kMenuFile, kMenuEdit, kMenuView, kMenuMarks, kMenuMarkCurrent, kMenuMarkEntire, kMenuHelp, kFileNew,
                   kFileOpen, kFileClose, kFileImport, kFileExit, kEditPreferences, kHelpManual, kHelpAbout})
        EnableTool(Key(id));
    bar->BandMain()->updateGeometry();
}

void ShowPanel(const QString& key) { Main().Frame()->SetActivePanel(key); }

base::IGridPanel* GridPanel() {
    FMain* main = MainWindow();
    return main ? main->Panels().grid : nullptr;
}

void EnableByState() {
    auto project = app::Globals().gProject;
    if (!project) app::RaiseError(91);
    const int column = StateColumn(QString::fromStdString(project->GetConfig("LastState", "1")));
    if (column < 0) return;
    // The leaf count is read before anything is switched: a bad one changes nothing.
    const bool needsFlow = std::any_of(std::begin(kStateSwitches), std::end(kStateSwitches),
                                       [&](const StateSwitch& s) { return s.byState[column] == Flow; });
    const bool flow = needsFlow && FlowChartRule();
    for (const StateSwitch& s : kStateSwitches) {
        const bool on = s.byState[column] == On || (s.byState[column] == Flow && flow);
        SetTool(Key(s.tool), on);
        if (s.link != kNoLink) SetLink(ReportLink(s.link), on);
    }
    SetGridSelect(kGridSelectByState[column]);
}

QString HelpContext() {
    FMain* main = MainWindow();
    QWidget* active = QApplication::activeWindow();
    if (active && main && active != main) {
        const QVariant id = active->property("helpContextId");
        return QString::number(id.isValid() ? id.toInt() : 0);
    }
    if (!main) return QStringLiteral("0000");
    const QString left = main->Frame()->GetActiveKeyLeft();
    if (left == QLatin1String("Configure")) return QStringLiteral("6100");
    if (left == QLatin1String("SetLimits")) return QStringLiteral("6120");
    if (left == QLatin1String("Prune")) return QStringLiteral("6140");
    if (left != QLatin1String("Report")) return QStringLiteral("0000");
    const QString right = main->Frame()->GetActiveKeyRight();
    if (right == QLatin1String("ClassView")) return QStringLiteral("6550");
    if (right == QLatin1String("FieldView")) return QStringLiteral("6500");
    if (right == QLatin1String("DataGrid")) {
        auto sql = app::Globals().gSqlMachine;
        return sql && sql->BrowseType() != 0 ? QStringLiteral("6220") : QStringLiteral("6200");
    }
    if (right == QLatin1String("IMode")) return QStringLiteral("6400");
    if (right == QLatin1String("Matrix")) return QStringLiteral("6300");
    if (right == QLatin1String("TreeGraph"))
        return app::Globals().gTreeMode == 1 ? QStringLiteral("6650") : QStringLiteral("6600");
    return QStringLiteral("0000");
}

void ShowHelp() {
    // Every failure is passed over, a missing help program included.
    base::RecordErrors("MTessary::ShowHelp", [&] {
        const QString command = ProgramDir() + QStringLiteral("/TESSHELP");
        const QString context = HelpContext();
        QCoreApplication::processEvents();
        if (QFileInfo(command).isExecutable()) QProcess::startDetached(command, {context});
        QThread::msleep(500);
        app::Screen().SetMousePointer(app::vbDefault);
    });
}

void ShowAbout() {
    FAbout about(MainWindow());
    about.exec();
}

void EditPreferences() {
    CHourglass idle;
    idle.SetValue(false);
    {
        FPref pref(MainWindow());
        pref.exec();
    }
    Main().ApplyToolbarSetting();
    Main().Bar()->BandMain()->updateGeometry();
}

void FileImport() {
    base::CCommonDialog cd;
    cd.DialogTitle = QStringLiteral("Import");
    cd.Filter = QStringLiteral("Text (*.txt)|*.txt");
    cd.DefaultExt = QStringLiteral("*.txt");
    cd.hWnd = MainWindow();
    cd.ShowOpen();
    if (cd.UserCancel()) return;
    MdbUtils::LoadTextFile(cd.FileName.toStdString());
}

}  // namespace MTessary
