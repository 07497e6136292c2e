// Project commands, the step handlers and the views of the right pane.
#include "MTessary.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CCommandTable.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "CMRUList.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "ErrorGuard.h"
#include "FMain.h"
#include "IBrowseCommands.h"
#include "IClassViewPanel.h"
#include "IFieldSelectPanel.h"
#include "IFieldViewPanel.h"
#include "IGridPanel.h"
#include "IInteractivePanel.h"
#include "IMatrixPanel.h"
#include "IPrunePanel.h"
#include "IReportPanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "ITreeGraphPanel.h"
#include "MFileUtils.h"
#include "MMenu.h"
#include "MTessaryGlobals.h"
#include "MUtilities.h"
#include "UAppFrame.h"
#include "ui/dialogs.h"

#include <QFileInfo>
#include <QMenuBar>

#include <cmath>

namespace MTessary {

namespace {

// A Config text as a 32-bit whole number (halves to even); error 13 for no number.
int32_t ToLong(const std::string& text) {
    bool ok = false;
    const double v = QString::fromStdString(text).trimmed().toDouble(&ok);
    if (!ok) app::RaiseError(13);
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) app::RaiseError(6);
    return int32_t(std::nearbyint(v));
}

double ToNumber(const std::string& text) {
    bool ok = false;
    const double v = QString::fromStdString(text).trimmed().toDouble(&ok);
    return ok ? v : 0.0;
}

QString LastProjectPath() {
    return QString::fromStdString(
        MUtilities::GetRegSetting("Config", "LastProjectPath", ProgramDir().toStdString()));
}

void SaveLastProjectPath(const std::string& file) {
    MUtilities::SaveRegSetting("Config", "LastProjectPath", MFileUtils::GetFileDir(file));
}

void SetProjectCaption(const std::string& file) {
    Main().setWindowTitle(ProgramTitle() + QStringLiteral(" - [") +
                          QString::fromStdString(MFileUtils::GetFileName(file)) + QLatin1Char(']'));
}

void ShowRowCountOf(CSqlMachine& sql, base::IGridPanel& grid) {
    // The count is a courtesy: the view stands without it.
    base::RecordErrors("MTessary::ShowRowCountOf", [&] {
        DatabasePtr db = grid.Database();
        if (!db) return;
        auto rs = db->OpenRecordset("SELECT COUNT(*) " + sql.GetFrom() + " " + sql.GetWhere() + ";",
                                    dao::RecordsetType::Snapshot);
        MMenu::StatusRecordCount(int32_t(rs->Fields(0).Value().ToI4()));
        rs->Close();
    });
}

void PrepareBrowse(base::IGridPanel& grid) {
    Project().CloseProject();
    if (grid.DatabaseName().isEmpty()) {
        grid.SetDatabaseName(QString::fromStdString(Project().FileName()));
        Globals().gSqlMachine.reset();
    }
    if (!Globals().gSqlMachine) {
        auto sql = std::make_shared<CSqlMachine>();
        sql->Initialize(Globals().gDataDef, Globals().gProject);
        Globals().gSqlMachine = sql;
    }
}

std::shared_ptr<base::IDataBrowse> NewBrowseView(int16_t type) {
    shell::IBrowseCommands* commands = shell::BrowseCommands();
    return commands ? commands->NewBrowseView(type) : nullptr;
}

}  // namespace

void StartNewProject() {
    if (Globals().gProject) CloseCurrentProject();
    Globals().gProject = MMenu::NewProject(LastProjectPath());
    if (!Globals().gProject) return;
    const std::string file = Globals().gProject->FileName();
    SetProjectCaption(file);
    if (auto* table = Main().Panels().tableSel) table->Clear();
    ShowPanel(QString());
    ShowPanel(QStringLiteral("TableSelect"));
    SaveLastProjectPath(file);
    Main().State().SetStateValue(1);
    MMenu::StatusText(QStringLiteral("Select the database and table to use for this project."));
    Globals().gTreeMode = -1;
    EnableTool(QStringLiteral("mnuFileClose"));
}

void LoadProject(const QString& path) {
    if (Globals().gProject) CloseCurrentProject();
    Globals().gProject = MMenu::OpenProjectFile(LastProjectPath(), path);
    if (!Globals().gProject) return;
    CProject& project = Project();
    const std::string file = project.FileName();
    SaveLastProjectPath(file);
    SetProjectCaption(file);
    // Opened for writing once, before anything reads or writes it: an open
    // that fails (a full disk for an older file's upgrade, a holder that came
    // since the checks) says so once and nothing goes on without it.
    const DatabasePtr db = project.OpenProject(false);
    if (!db || !UpgradeProject()) {
        CloseCurrentProject();
        return;
    }
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Load(db);
    Globals().gDataDef = dataDef;
    EnableByState();
    if (auto* report = Main().Panels().report) report->SetNavigate(0);
    ShowPanel(QStringLiteral("Report"));
    SetupBrowse(0, -1, -1);
    ShowPanel(QStringLiteral("DataGrid"));
    Main().Frame()->SetCaptionRight(QStringLiteral("Browse All Data"));
    CheckViewTool(QStringLiteral("mnuViewBrowseAll"));
    if (Globals().gMRUList) Globals().gMRUList->Add(QString::fromStdString(file));
    EnableTool(QStringLiteral("1005"));
    EnableTool(QStringLiteral("1003"));
    DisableTool(QStringLiteral("1004"));
    Globals().gTreeMode = -1;
}

void CloseCurrentProject() {
    FMain& main = Main();
    for (auto* legend : {static_cast<QObject*>(main.Panels().prune), static_cast<QObject*>(main.Panels().report)}) {
        if (auto* prune = qobject_cast<base::IPrunePanel*>(legend)) {
            prune->SetColorItems(2);
            prune->SetContrast(50);
            prune->SetTotalValues(0, 0, 0);
            prune->SetLocalValues(-1, -1);
        } else if (auto* report = qobject_cast<base::IReportPanel*>(legend)) {
            report->SetColorItems(2);
            report->SetContrast(50);
            report->SetTotalValues(0, 0);
            report->SetLocalValues(-1, -1);
        }
    }
    // Nothing of the closed project's data stays on show.
    if (auto* view = main.Panels().fieldView) view->Initialize(nullptr, nullptr);
    Globals().gTRX.reset();
    Globals().gSqlMachine.reset();
    Globals().gDataDef.reset();
    if (Globals().gProject) {
        Globals().gProject->CloseProject();
        if (base::IGridPanel* grid = GridPanel()) grid->Disconnect();
    }
    Globals().gProject.reset();
    ShowPanel(QString());
    main.setWindowTitle(ProgramTitle());
    EnableTool(QStringLiteral("mnuFileImport"));
    Globals().gTreeMode = -1;
    for (const char* name : {"mnuViewBrowseTest", "mnuViewMatrix", "mnuViewTree", "mnuViewFlow", "mnuViewBrowseAll",
                             "mnuViewFieldStats", "mnuViewClassList", "mnuPrintTiled", "mnuReConfig", "mnuLivePredict",
                             "mnuFileClose", "mnuExportTree"})
        DisableTool(QString::fromUtf8(name));
    MMenu::StatusText(QStringLiteral("Welcome to Tessary."));
    MMenu::StatusRecordCount(-1);
}

bool UpgradeProject() {
    CProject& project = Project();
    base::RecordErrors("MTessary::UpgradeProject", [&] {
        // Said once: the open for writing has brought the file up to date.
        if (CProject::ComparedOtherwiseBefore(project.CurrentDatabase()))
            ui::MsgBox(QString::fromStdString(project.FileName()) +
                           QStringLiteral(" was made by an earlier version of Tessary, which took letters beyond ASCII "
                                          "in either case for one value (\u00E9 and \u00C9) and sorted the signs "
                                          "[ \\ ] ^ _ ` after the letters. This version keeps such values apart and "
                                          "sorts those signs before the letters, as every SQLite tool does. The value "
                                          "tables, tree and results of this project may differ from what this version "
                                          "computes: make the project again from its table (File > New) to be sure."),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Project Upgrade"));
    });
    double minor = 0, revision = 0, major = 0;
    base::RecordErrors("MTessary::UpgradeProject", [&] {
        minor = ToNumber(project.GetConfig("VersionMinor", ""));
        revision = ToNumber(project.GetConfig("VersionRevision", ""));
        major = ToNumber(project.GetConfig("VersionMajor", ""));
    });
    const float v = float(major * 100 + minor + revision / 100);
    if (v >= 201) return true;
    // A write that fails (a full disk) has said why; the next would only say it
    // again, and the project is opened once it can be upgraded.
    return project.SaveConfig("LastState", int16_t(3)) && project.SaveConfig("PruneRate", int16_t(75)) &&
           project.SaveConfig("MinItems", int16_t(2)) && project.SaveConfig("VersionMinor", int16_t(1)) &&
           // Without its major version an old project would be upgraded again at every open.
           (major >= 2 || project.SaveConfig("VersionMajor", int16_t(2)));
}

void StateConfig() {
    base::ShowErrors("MTessary::StateConfig", [] {
        const PanelSet& p = Main().Panels();
        if (p.fieldSel) p.fieldSel->Initialize(Globals().gDataDef);
        if (p.fieldView) p.fieldView->Initialize(Globals().gProject, Globals().gDataDef);
        if (p.classView) p.classView->Initialize(Globals().gProject);
        Main().Frame()->SetActivePanel(QStringLiteral("Configure"));
        Main().Frame()->SetActivePanel(QStringLiteral("FieldView"));
        CheckViewTool(QStringLiteral("mnuViewFieldStats"));
        MMenu::StatusText(QStringLiteral("Select the fields to use for this project."));
        MMenu::StatusRecordCount(ToLong(Project().GetConfig("RecordCount", "-1")));
    });
}

void StateLimits() {
    CProject& project = Project();
    const int32_t count = ToLong(project.GetConfig("RecordCount", "0"));
    const std::string all = std::to_string(count);
    const int32_t trainLow = ToLong(project.GetConfig("TrainLow", "1"));
    const int32_t trainHigh = ToLong(project.GetConfig("TrainHigh", all));
    const int32_t testLow = ToLong(project.GetConfig("TestLow", "1"));
    const int32_t testHigh = ToLong(project.GetConfig("TestHigh", all));
    if (auto* limits = Main().Panels().setLimits) limits->Initialize(count, trainLow, trainHigh, testLow, testHigh);
    SetupBrowse(0, -1, -1);
    Main().Frame()->SetActivePanel(QStringLiteral("SetLimits"));
    Main().Frame()->SetActivePanel(QStringLiteral("DataGrid"));
    CheckViewTool(QStringLiteral("mnuViewBrowseAll"));
    Main().Frame()->SetCaptionRight(QStringLiteral("Browse All Data"));
    if (base::IGridPanel* grid = GridPanel()) MMenu::StatusRecordCount(grid->RecordCount());
    MMenu::StatusText(QStringLiteral("Select the rows to use for this project."));
}

void SetupBrowse(int32_t browseType, int16_t actual, int16_t predicted) {
    base::ShowErrors("MTessary::SetupBrowse", [&] {
        base::IGridPanel* grid = GridPanel();
        if (!grid) return;
        PrepareBrowse(*grid);
        CSqlMachine& sql = *Globals().gSqlMachine;
        if (grid->DataBrowse() && sql.BrowseType() != browseType) grid->SetDataBrowse(nullptr);
        sql.SetBrowseType(int16_t(browseType));
        sql.SetMarkView(0);
        sql.SetPredictType(0);
        sql.SetActual(actual);
        sql.SetPredicted(predicted);
        sql.SetReplaceWhere("");
        if (browseType == 0) {
            sql.SetKeyMin("");
            sql.SetKeyMax("");
        } else {
            sql.SetKeyMin(Project().GetConfig("TestKeyMin"));
            sql.SetKeyMax(Project().GetConfig("TestKeyMax"));
        }
        grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
        if (grid->DataBrowse()) grid->Refresh();
        else grid->SetDataBrowse(NewBrowseView(int16_t(browseType)));
        ShowRowCountOf(sql, *grid);
    });
}

void SetupBrowseNode(int32_t node, bool training) {
    base::ShowErrors("MTessary::SetupBrowse", [&] {
        base::IGridPanel* grid = GridPanel();
        if (!grid || !Globals().gTRX) return;
        PrepareBrowse(*grid);
        CSqlMachine& sql = *Globals().gSqlMachine;
        if (grid->DataBrowse() && sql.BrowseType() != 0) grid->SetDataBrowse(nullptr);
        const int16_t type = training ? 0 : 1;
        sql.SetBrowseType(type);
        sql.SetMarkView(0);
        sql.SetPredictType(0);
        sql.SetReplaceWhere(Globals().gTRX->GetSQLLogic(node));
        sql.SetKeyMin(Project().GetConfig(training ? "TrainKeyMin" : "TestKeyMin"));
        sql.SetKeyMax(Project().GetConfig(training ? "TrainKeyMax" : "TestKeyMax"));
        grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
        grid->SetDataBrowse(NewBrowseView(type));
        ShowRowCountOf(sql, *grid);
    });
}

void ShowMatrix() {
    const int32_t low = ToLong(Project().GetConfig("LastTestLow"));
    const int32_t high = ToLong(Project().GetConfig("LastTestHigh"));
    auto* matrix = Main().Panels().matrix;
    if (matrix) matrix->Intitalize(Globals().gProject, Globals().gDataDef, low, high);
    ShowPanel(QStringLiteral("Matrix"));
    if (matrix) MMenu::StatusRecordCount(matrix->RecordCount());
    CheckViewTool(QStringLiteral("mnuViewMatrix"));
}

void ShowFieldStats() {
    if (auto* view = Main().Panels().fieldView) view->Initialize(Globals().gProject, Globals().gDataDef);
    ShowPanel(QStringLiteral("FieldView"));
    CheckViewTool(QStringLiteral("mnuViewFieldStats"));
}

void ShowClassList() {
    if (auto* view = Main().Panels().classView) {
        view->Initialize(Globals().gProject);
        view->SetField();
    }
    ShowPanel(QStringLiteral("ClassView"));
    CheckViewTool(QStringLiteral("mnuViewClassList"));
}

void ShowInteractRow(const QVariant& key) {
    // A driver that cannot be made has shown its box: no view without it.
    if (!LoadCurrentTree()) return;
    if (auto* view = Main().Panels().interact) {
        view->Initialize(Globals().gProject, Globals().gDataDef, Globals().gTRX);
        view->SetRow(key);
    }
    ShowPanel(QStringLiteral("IMode"));
    Main().Bar()->BandMain()->updateGeometry();
}

void ShowInteract() {
    base::ShowErrors("MTessary::ShowInteract", [] { ShowInteractRow(QVariant()); });
}

void MENU_SFFindError() {
    base::ShowErrors("modMenu::MENU_SFFindError", [] {
        base::IGridPanel* grid = GridPanel();
        RecordsetPtr rs = grid ? grid->RecordSet() : nullptr;
        if (!rs || (rs->Bof() && rs->Eof())) return;
        const int64_t mark = rs->Bookmark();
        const std::string n = rs->Fields(1).Name();
        const std::string criterion = "[" + n + "]>0 AND [" + n + "]<>[Predicted]";
        rs->FindNext(criterion);
        if (rs->NoMatch()) rs->FindFirst(criterion);
        if (rs->NoMatch()) {
            MMenu::StatusText(QStringLiteral("There are no incorect predictions in this test data."));
            rs->SetBookmark(mark);
        }
    });
}

}  // namespace MTessary
