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
#include "ErrorGuard.h"
#include "FAbout.h"
#include "FMain.h"
#include "FPref.h"
#include "IBrowseCommands.h"
#include "MMenu.h"
#include "MSwallow.h"
#include "MUtilities.h"
#include "TextImport.h"
#include "UAppFrame.h"
#include "UGrid.h"
#include "UReport.h"
#include "UTreeGraph.h"

#include <QAction>
#include <QMenuBar>
#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace MTessary {

namespace {

FMain& Main() {
    FMain* main = MainWindow();
    if (!main) app::RaiseError(91);
    return *main;
}

shell::UReport* ReportPanel() { return Main().Panels().report; }

void RecordCountFromConfig() {
    auto project = shell::Globals().gProject;
    const std::string count = project ? project->GetConfig("RecordCount", "") : std::string();
    MMenu::StatusRecordCount(QString::fromStdString(count).trimmed().toInt());
}

struct ViewStep {
    const char* tool;
    bool rowCount;
    int link;
    const char* caption;  // nullptr: the pane keeps its caption
    const char* status;
};

constexpr ViewStep kViewSteps[] = {
    {"mnuViewBrowseAll", true, 0, "Browse All Data", "Browsing all the rows in the table."},
    {"mnuViewBrowseTest", false, 1, "Browse Test Data", "Browsing the rows in the test set."},
    {"mnuViewMatrix", false, 2, nullptr, "Click any cell for details."},
    {"mnuLivePredict", true, 7, nullptr, "Live Prediction."},
    {"mnuViewFieldStats", true, 3, nullptr, "Field Statistics - Double click field name to view class details."},
    {"mnuViewClassList", true, 4, nullptr, "Class List."},
    {"mnuViewTree", true, 5, nullptr, "Tree View - Double click any row for details."},
    {"mnuViewFlow", true, 6, nullptr, "Flow Chart View - Double click any node for details."},
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
    if (shell::UReport* report = ReportPanel()) report->SetNavigate(int16_t(step.link));
    CheckViewTool(tool);
    if (step.caption) Main().Frame()->SetCaptionRight(QString::fromUtf8(step.caption));
    MMenu::StatusText(QString::fromUtf8(step.status));
}

void BrowseCommand(const std::function<void(shell::IBrowseCommands&)>& call) {
    if (shell::IBrowseCommands* commands = shell::BrowseCommands()) call(*commands);
}

void Dispatch(const QString& name) {
    shell::UGrid* grid = GridPanel();
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
        auto mru = shell::Globals().gMRUList;
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

void SetLink(int16_t index, bool enabled) {
    if (shell::UReport* report = ReportPanel()) {
        if (enabled) report->EnableLink(index);
        else report->DisableLink(index);
    }
}

void SetGridSelect(bool enabled) {
    if (shell::UGrid* grid = GridPanel()) grid->SetSpecialSelectEnable(enabled);
}

void FlowChartRule() {
    const std::string text = shell::Globals().gProject->GetConfig("LeafNodeCount", "-1");
    bool ok = false;
    const double leaves = QString::fromStdString(text).trimmed().toDouble(&ok);
    if (!ok) app::RaiseError(13);
    const bool on = leaves >= 1 && leaves <= 128;
    SetTool(QStringLiteral("3007"), on);
    SetLink(6, on);
}

}  // namespace

void MenuCommand(const QString& toolName) {
    shell::Guard("MTessary::MenuCommand", [&] {
        CHourglass hold;
        hold.SetValue(true);
        Dispatch(toolName);
    });
}

void EnableTool(const QVariant& key) { SetTool(key, true); }
void DisableTool(const QVariant& key) { SetTool(key, false); }

void CheckViewTool(const QVariant& key) {
    CCommandTable* bar = Main().Bar();
    for (int id = 3001; id <= 3008; ++id)
        if (QAction* tool = bar->Tool(QString::number(id))) tool->setChecked(false);
    if (QAction* tool = bar->Tool(key)) tool->setChecked(true);
}

void InitToolbar() {
    CCommandTable* bar = Main().Bar();
    for (int i = 0; i < bar->Tools().size(); ++i) {
        bar->Tools()[i]->setEnabled(false);
        DisableTool(i);
    }
    for (const char* id : {"1000", "2000", "3000", "4000", "4100", "4200", "5000", "1001", "1002", "1003", "1004",
                           "1006", "2005", "5001", "5003"})
        EnableTool(QString::fromUtf8(id));
    bar->BandMain()->updateGeometry();
}

void ShowPanel(const QString& key) { Main().Frame()->SetActivePanel(key); }

shell::UGrid* GridPanel() {
    FMain* main = MainWindow();
    return main ? main->Panels().grid : nullptr;
}

void EnableByState() {
    auto project = shell::Globals().gProject;
    if (!project) app::RaiseError(91);
    const QString state = QString::fromStdString(project->GetConfig("LastState", "1"));
    const auto tools = [](std::initializer_list<const char*> ids, bool on) {
        for (const char* id : ids) SetTool(QString::fromUtf8(id), on);
    };
    const auto links = [](std::initializer_list<int> ids, bool on) {
        for (int id : ids) SetLink(int16_t(id), on);
    };
    if (state == QLatin1String("1")) {
        tools({"3002", "3003", "3008", "3006", "3007", "3001", "3004", "3005", "1010"}, false);
        links({1, 2, 5, 6, 0, 3, 4, 7}, false);
        tools({"1009"}, false);
        SetGridSelect(false);
    } else if (state == QLatin1String("2") || state == QLatin1String("3")) {
        tools({"3002", "3003", "3006", "3007", "3008"}, false);
        links({1, 2, 5, 6, 7}, false);
        SetGridSelect(false);
        tools({"3001", "3004", "3005", "1010"}, true);
        links({0, 3, 4}, true);
        tools({"1009"}, false);
    } else if (state == QLatin1String("4")) {
        tools({"3002", "3003"}, false);
        links({1, 2}, false);
        tools({"3001", "3004", "3005", "1010", "3008"}, true);
        links({0, 3, 4, 7}, true);
        SetGridSelect(true);
        FlowChartRule();
        tools({"3006"}, true);
        links({5}, true);
        tools({"1009"}, true);
    } else if (state == QLatin1String("5")) {
        tools({"3002", "3003", "3001", "3004", "3005", "3006", "1010", "3008"}, true);
        links({1, 2, 0, 3, 4, 5, 7}, true);
        SetGridSelect(true);
        FlowChartRule();
        tools({"3006"}, true);
        links({5}, true);
        tools({"1009"}, true);
    }
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
        auto sql = shell::Globals().gSqlMachine;
        return sql && sql->BrowseType() != 0 ? QStringLiteral("6220") : QStringLiteral("6200");
    }
    if (right == QLatin1String("IMode")) return QStringLiteral("6400");
    if (right == QLatin1String("Matrix")) return QStringLiteral("6300");
    if (right == QLatin1String("TreeGraph"))
        return shell::Globals().gTreeMode == 1 ? QStringLiteral("6650") : QStringLiteral("6600");
    return QStringLiteral("0000");
}

void ShowHelp() {
    // Every failure is passed over, a missing help program included.
    try {
        const QString command = ProgramDir() + QStringLiteral("/TESSHELP");
        const QString context = HelpContext();
        QCoreApplication::processEvents();
        if (QFileInfo(command).isExecutable()) QProcess::startDetached(command, {context});
        QThread::msleep(500);
        app::Screen().SetMousePointer(app::vbDefault);
    } catch (...) {
        app::SwallowCurrent("MTessary::ShowHelp");
    }
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
    shell::CCommonDialog cd;
    cd.DialogTitle = QStringLiteral("Import");
    cd.Filter = QStringLiteral("Text (*.txt)|*.txt");
    cd.DefaultExt = QStringLiteral("*.txt");
    cd.hWnd = MainWindow();
    cd.ShowOpen();
    if (cd.UserCancel()) return;
    MdbUtils::LoadTextFile(cd.FileName.toStdString());
}

}  // namespace MTessary
