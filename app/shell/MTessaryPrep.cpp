// The project checks of the open road (is it a project, is its data still
// there), the data-source dialog's hook, and the statistics step that turns a
// chosen table into a prepared project.
#include "MTessary.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "CMRUList.h"
#include "CProject.h"
#include "CTessaryApp.h"
#include "ErrorGuard.h"
#include "FSplash.h"
#include "FStatus.h"
#include "MFileUtils.h"
#include "MFormat.h"
#include "MMenu.h"
#include "MTessaryGlobals.h"

#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace MTessary {

namespace {

// The link's connect text and source table of a project file; false when the
// file does not open or has no link.
bool ReadLink(const QString& projectPath, std::string& connect, std::string& table) {
    DatabasePtr db = dao::DBEngine::OpenDatabase(projectPath.toStdString(), false, true);
    dao::TableDefs& defs = db->TableDefs();
    bool found = false;
    for (int i = 0; i < defs.Count() && !found; ++i) {
        dao::TableDef t = defs[i];
        if (t.Name() != "LinkDataSource") continue;
        connect = t.Connect();
        table = t.SourceTableName();
        found = true;
    }
    db->Close();
    return found;
}

// An ODBC text cut to its data-source name; any other text as it is.
QString DataSourceKey(const QString& text) {
    if (!text.contains(QLatin1String("DSN="))) return text;
    return MFormat::DsnName(text.toStdString());
}

// ODBC data-source names match whatever their case; file paths only exactly,
// as the file system tells names apart by case.
bool SameDataSource(const QString& linkedText, const QString& storedText) {
    const QString linked = DataSourceKey(linkedText), stored = DataSourceKey(storedText);
    if (linked.isEmpty() || stored.isEmpty()) return false;
    if (linkedText.contains(QLatin1String("DSN=")) && storedText.contains(QLatin1String("DSN=")))
        return linked.toUpper() == stored.toUpper();
    return linked == stored;
}

void RefuseProject(const QString& text, ui::Icon icon, const QString& title) {
    HideSplash();
    ui::MsgBox(text, ui::Buttons::OK, icon, title);
    CloseCurrentProject();
}

void InvalidProject() {
    RefuseProject(QStringLiteral("Invalid or corrupt project file."), ui::Icon::Critical,
                  QStringLiteral("Unable to Open Project"));
}

}  // namespace

void HideSplash() {
    if (CTessaryApp* app = CTessaryApp::Instance())
        if (app->splash) app->splash->hide();
}

QString ResolveDataPath(const QString& stored, const QString& projectPath) {
    if (stored.isEmpty() || QDir::isAbsolutePath(stored)) return stored;
    return QDir::cleanPath(QFileInfo(projectPath).absolutePath() + QLatin1Char('/') + stored);
}

ProjectFileCheck IsProjectFile(const QString& path) {
    ProjectFileCheck check;
    try {
        DatabasePtr db = CProject::OpenToRead(path.toStdString(), false);
        int count = 0;
        std::string connect;
        dao::TableDefs& defs = db->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            dao::TableDef t = defs[i];
            const std::string name = t.Name();
            if (name == "FieldConfig" || name == "Config" || name == "LinkDataSource") ++count;
            if (name == "LinkDataSource") connect = t.Connect();
        }
        if (count != 3) return check;
        const QString linked = MMenu::OdbcDatabaseName(QString::fromStdString(connect));
        auto rs = db->OpenRecordset("SELECT * FROM Config;", dao::RecordsetType::Snapshot);
        rs->FindFirst("Property='DataSourceName'");
        if (rs->NoMatch()) return check;
        const com::Variant v = rs->Fields("sValue").Value();
        const QString stored = v.IsNull() ? QString() : QString::fromStdString(dao::VarToString(v));
        rs->Close();
        if (!SameDataSource(linked, stored)) return check;
        db->Close();
        check.project = true;
    } catch (...) {
        // The error goes back with the check; the caller says it.
        check.error = app::CurrentError();
    }
    return check;
}

bool RelinkDataSource(const QString& path) {
    try {
        std::string connect, table;
        if (!ReadLink(path, connect, table)) return false;
        const QString source = MMenu::OdbcDatabaseName(QString::fromStdString(connect));
        const QString tableName = QString::fromStdString(table);
        if (source.contains(QLatin1String("ODBC;"))) {
            if (MMenu::TableRecordCount(path, QStringLiteral("LinkDataSource"))) return true;
            InvalidProject();
            return false;
        }
        // A relative link names its file from the project's folder, wherever the program was started.
        QString dataPath = ResolveDataPath(source, path);
        if (!MFileUtils::FileExists(dataPath.toStdString())) {
            // A link written elsewhere may use either separator.
            const QString name = source.mid(std::max(source.lastIndexOf(QLatin1Char('/')),
                                                     source.lastIndexOf(QLatin1Char('\\'))) + 1);
            const QString moved = ProgramDir() + QStringLiteral("/data/") + name;
            if (name.isEmpty() || !MFileUtils::FileExists(moved.toStdString()) ||
                !MMenu::TableRecordCount(moved, tableName)) {
                RefuseProject(QStringLiteral("Cannot Locate Database File: ") + QLatin1Char('\n') + source,
                              ui::Icon::Exclamation, QStringLiteral("Project Open Error"));
                return false;
            }
            DatabasePtr db = dao::DBEngine::OpenDatabase(path.toStdString(), false, false);
            MMenu::PutProperty(db, QStringLiteral("DataSourceName"), moved);
            dao::TableDef link = db->TableDefs()["LinkDataSource"];
            link.SetConnect(";DATABASE=" + moved.toStdString());
            link.RefreshLink();
            db->Close();
            dataPath = moved;
        }
        if (MMenu::TableRecordCount(dataPath, tableName)) return true;
        if (MMenu::ReportFullDisk(dataPath)) {
            CloseCurrentProject();
            return false;
        }
        InvalidProject();
        return false;
    } catch (...) {
        // The project itself could not be read: said once, as the open's other refusals are.
        const app::ErrInfo error = app::CurrentError();
        HideSplash();
        if (!CProject::ReportError(path.toStdString(), error.number)) base::ShowError("MTessary::RelinkDataSource", error);
        CloseCurrentProject();
        return false;
    }
}

bool OpenDialogHook(int16_t fileType) {
    // The fourth file type is the ODBC entry: the dialog closes as if cancelled.
    if (fileType != 3) return false;
    Globals().gOdbcChosen = true;
    return true;
}

bool StatCollect() {
    bool collected = false;
    CHourglass hold;
    hold.SetPointerType(13);
    hold.SetValue(true);
    base::ShowErrors("MTessary::StatCollect", [&] {
        MMenu::StatusText(QStringLiteral("Collecting Statistics..."));
        if (!Globals().gProject) app::RaiseError(91);
        CProject& project = *Globals().gProject;
        const std::string database = project.GetConfig("DatabaseName");
        const std::string table = project.GetConfig("TableName");
        if (project.IsOpen()) project.CloseProject();
        // Each step has said why it failed; the project is not made then.
        if (!project.Create()) return;
        // Stored into the file being replaced when the project had one already.
        if (project.GetConfig("DatabaseName").empty() && !project.SaveConfig("DatabaseName", database)) return;
        if (!project.AttachDataSource(database, table)) return;
        auto dataDef = std::make_shared<CDataDef>();
        Globals().gDataDef = dataDef;
        dataDef->Initialize(project.OpenProject(false), "LinkDataSource");
        bool failed = true;
        const bool canceled = RunWithProgress(QStringLiteral("Collecting Statistics..."), dataDef, nullptr, [&] {
            // Keys Test could not hold are said before the statistics, not after.
            MdbUtils::RefuseUnfitKeys(project.OpenProject(false), *dataDef);
            dataDef->CollectStats(project.OpenProject(false));
            // A run that stopped on an error is no success: nothing more is written.
            if (Status()->Canceled() || !dataDef->InitDone()) return;
            MdbUtils::CreateTestTable(project, *dataDef, true);
            failed = false;
        });
        hold.SetPointerType(11);
        if (canceled || failed) {
            Globals().gDataDef.reset();
            return;
        }
        ReleaseStatus();
        if (!dataDef->Save(project.OpenProject(false)) ||
            !project.SaveConfig("RecordCount", int32_t(dataDef->RecordCount())) ||
            !project.SaveConfig("LastState", int16_t(2))) {
            Globals().gDataDef.reset();
            return;
        }
        MMenu::StatusText(QStringLiteral("Stats Collected."));
        EnableByState();
        if (Globals().gMRUList) Globals().gMRUList->Add(QString::fromStdString(project.FileName()));
        QCoreApplication::processEvents();
        collected = true;
    });
    // An error part-way leaves no field definitions behind.
    if (!collected && app::HasGlobals()) Globals().gDataDef.reset();
    return collected;
}

}  // namespace MTessary
