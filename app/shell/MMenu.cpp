#include "MMenu.h"

#include "AppGlobals.h"
#include "CCommonDialog.h"
#include "CProject.h"
#include "ErrorGuard.h"
#include "FMain.h"
#include "MFileUtils.h"
#include "MTessary.h"
#include "MUtilities.h"
#include "UStatusBar.h"

#include "dao/odbc.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

namespace MMenu {

namespace {

const QString kExt = QStringLiteral(".txp");

void PrepareProjectDialog(base::CCommonDialog& cd, const QString& initialDir, const QString& title) {
    cd.Filter = QStringLiteral("Project (*") + kExt + QStringLiteral(")|*") + kExt;
    cd.DefaultExt = QStringLiteral("*") + kExt;
    cd.InitDir = initialDir.isEmpty() ? MTessary::ProgramDir() : initialDir;
    cd.DialogTitle = title;
    cd.flags = cd.flags | 4;
    cd.hWnd = QApplication::activeWindow();
}

bool HasProjectExtension(const QString& path) { return path.toUpper().contains(kExt.toUpper()); }

void ExtensionRequired(const QString& title) {
    ui::MsgBox(QStringLiteral("Unreconized file type.  A ") + kExt + QStringLiteral(" file extention is required."),
               ui::Buttons::OK, ui::Icon::Exclamation, title);
}

bool Exists(const QString& path) { return MFileUtils::FileExists(path.toStdString()); }

}  // namespace

void StatusText(const QString& text) {
    if (FMain* main = MTessary::MainWindow()) main->StatusBar()->SetMainText(text);
}

void StatusRecordCount(int32_t count) {
    base::RecordErrors("MMenu::StatusRecordCount", [&] {
        if (FMain* main = MTessary::MainWindow()) main->StatusBar()->MsgRecordCount(count);
    });
}


std::shared_ptr<CProject> NewProject(const QString& initialDir) {
    std::shared_ptr<CProject> result;
    base::ShowErrors("MMenu::NewProject", [&] {
        for (;;) {
            base::CCommonDialog cd;
            PrepareProjectDialog(cd, initialDir, QStringLiteral("Create New Project"));
            for (int n = 1;; ++n) {
                const QString name = QStringLiteral("Project") + QString::number(n) + kExt;
                if (!Exists(cd.InitDir + QLatin1Char('/') + name)) {
                    cd.FileName = name;
                    break;
                }
            }
            cd.ShowOpen();
            if (cd.UserCancel()) return;
            const QString path = cd.FileName;
            // The extension is looked for in the file's own name: a folder called
            // "x.txp" must not make any file acceptable (and deletable below).
            if (!HasProjectExtension(QFileInfo(path).fileName())) {
                ExtensionRequired(QStringLiteral("Create New Project"));
                continue;
            }
            if (Exists(path)) {
                if (ui::MsgBox(path + QStringLiteral(" exists.  Overwrite?"), ui::Buttons::YesNo,
                               ui::Icon::Exclamation, QStringLiteral("New Project")) != ui::Answer::Yes)
                    continue;
                MTessary::CloseCurrentProject();
                QFile::remove(path);
            }
            result = std::make_shared<CProject>();
            result->SetFileName(path.toStdString());
            return;
        }
    });
    return result;
}

std::shared_ptr<CProject> OpenProjectFile(const QString& initialDir, const QString& pathIn) {
    std::shared_ptr<CProject> result;
    base::ShowErrors("MMenu::OpenProjectFile", [&] {
        QString path = pathIn;
        for (;;) {
            if (path.isEmpty()) {
                base::CCommonDialog cd;
                PrepareProjectDialog(cd, initialDir, QStringLiteral("Open Project"));
                cd.ShowOpen();
                if (cd.UserCancel()) return;
                path = cd.FileName;
                QCoreApplication::processEvents();
            } else if (!Exists(path)) {
                const QString other = MTessary::ProgramDir() + QStringLiteral("/Projects/") +
                                      QString::fromStdString(MFileUtils::GetFileName(path.toStdString()));
                if (Exists(other)) path = other;
            }
            if (!HasProjectExtension(path)) {
                ExtensionRequired(QStringLiteral("Open Project"));
                path.clear();
                continue;
            }
            break;
        }
        if (!Exists(path)) {
            ui::MsgBox(QStringLiteral("File: ") + path + QStringLiteral(" could not be found."), ui::Buttons::OK,
                       ui::Icon::Exclamation, QStringLiteral("File Open"));
            return;
        }
        const MTessary::ProjectFileCheck check = MTessary::IsProjectFile(path);
        if (!check) {
            MTessary::HideSplash();
            // A file that could not be read says why (in use, read-only, the disk
            // full); one that was read, or is damaged, is no project.
            const long number = check.error.number;
            if (number == 3049 || number == 3343 || !CProject::ReportError(path.toStdString(), number))
                ui::MsgBox(QStringLiteral("Invalid or corrupt project file. '") + path + QStringLiteral("'."),
                           ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Open Project Failed"));
            return;
        }
        // Before the relink, which writes to the file.
        if (!CProject::CheckTables(path.toStdString(), MTessary::HideSplash)) return;
        if (!MTessary::RelinkDataSource(path)) return;
        auto project = std::make_shared<CProject>();
        project->Initialize(path.toStdString());
        if (project->FileName().empty()) return;
        result = project;
    });
    return result;
}

QString SelectDataSource() {
    QString result;
    base::ShowErrors("MMenu::SelectDataSource", [&] {
        base::CCommonDialog cd;
        cd.Filter = QStringLiteral("MS Access Database (*.mdb)|*.mdb") +
                    QStringLiteral("|Cortexa Pro Sample (*.cxs)|*.cxs") + QStringLiteral("|Any (*.*)|*.*") +
                    QStringLiteral("|ODBC () |");
        cd.DefaultExt = QStringLiteral("*.mdb;*.cxs");
        cd.FileName = QStringLiteral("*.mdb;*.cxs");
        cd.InitDir = QString::fromStdString(
            MUtilities::GetRegSetting("Config", "LastDatabasePath", MTessary::ProgramDir().toStdString()));
        if (cd.InitDir.isEmpty()) cd.InitDir = MTessary::ProgramDir();
        cd.DialogTitle = QStringLiteral("Select Data Source");
        cd.flags = cd.flags | 4;
        cd.hWnd = QApplication::activeWindow();
        cd.SetUserHook(MTessary::OpenDialogHook);
        app::Globals().gOdbcChosen = false;
        cd.ShowOpen();
        if (app::Globals().gOdbcChosen) {
            result = SelectOdbcSource();
            return;
        }
        if (cd.UserCancel()) return;
        const QString path = cd.FileName;
        if (!Exists(path)) {
            ui::MsgBox(path + QStringLiteral(" does not exist."), ui::Buttons::OK, ui::Icon::Exclamation,
                       QStringLiteral("Select Data Source"));
            return;
        }
        MUtilities::SaveRegSetting("Config", "LastDatabasePath", MFileUtils::GetFileDir(path.toStdString()));
        result = path;
    });
    return result;
}

QString SelectOdbcSource() {
    // The driver manager here has no prompt of its own: the user picks one of
    // its data sources, which is then opened as the prompt's choice would be.
    ui::ItemRequest request;
    request.title = QStringLiteral("Select Data Source");
    request.label = QStringLiteral("Machine Data Source:");
    for (const dao::OdbcDataSource& dsn : dao::OdbcDataSources())
        request.items << QString::fromStdString(dsn.name);
    const std::optional<QString> chosen = ui::ChooseItem(request);
    if (!chosen || chosen->isEmpty()) return QString();
    DatabasePtr db = MdbUtils::OpenDataSource("ODBC;DSN=" + chosen->toStdString(), true);
    if (!db) return QString();
    const QString connect = QString::fromStdString(db->Connect());
    db->Close();
    return connect;
}

DatabasePtr OpenQuietly(const std::string& source, bool readOnly) {
    try {
        if (source.find("ODBC;") != std::string::npos) return dao::DBEngine::OpenDatabase("", false, readOnly, source);
        return dao::DBEngine::OpenDatabase(source, false, readOnly);
    } catch (...) {
        // Not openable: the caller goes on without it.
        base::RecordCaught("MMenu::OpenQuietly");
        return nullptr;
    }
}

bool ReportFullDisk(const QString& path) {
    try {
        dao::DBEngine::OpenDatabase(path.toStdString(), false, true)->Close();
    } catch (const dao::DaoError& e) {
        if (e.Number() != 3035) return false;  // the checks that follow report it
        MTessary::HideSplash();
        ui::MsgBox(path + QStringLiteral(" cannot be opened: the disk is full (no space left on the device).  The "
                                         "file is not changed; it opens once space is freed."),
                   ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Open Project Failed"));
        return true;
    } catch (...) {
        // Not a full disk: the checks that follow report it.
        base::RecordCaught("MMenu::ReportFullDisk");
    }
    return false;
}

QString OdbcDatabaseName(const QString& connect) {
    if (connect.contains(QLatin1String("ODBC;"))) return connect;
    const qsizetype at = connect.indexOf(QLatin1String("DATABASE="), 0, Qt::CaseInsensitive);
    if (at < 0) return QString();
    const qsizetype from = at + 9;
    const qsizetype end = connect.indexOf(QLatin1Char(';'), from);
    return connect.mid(from, end < 0 ? -1 : end - from);
}

bool TableRecordCount(const QString& source, const QString& tableName) {
    return base::RecordErrors("MMenu::TableRecordCount", [&] {
        DatabasePtr db = OpenQuietly(source.toStdString(), true);
        if (!db) return false;
        auto rs = db->OpenRecordset("SELECT COUNT(*) FROM " + MdbUtils::BracketName(tableName.toStdString()) + ";",
                                    dao::RecordsetType::ForwardOnly);
        (void)rs->Fields(0).AsLong();
        rs->Close();
        db->Close();
        return true;
    });
}

void PutProperty(const DatabasePtr& db, const QString& name, const QString& value) {
    base::ShowErrors("MMenu::PutProperty", [&] {
        if (!db || name.isEmpty()) return;
        auto rs = db->OpenRecordset("Config", dao::RecordsetType::Dynaset);
        rs->FindFirst("Property = " + MdbUtils::SqlText(name.toStdString()));
        if (rs->NoMatch()) {
            rs->AddNew();
            rs->Fields("Property").SetValue(com::Variant::Str(name.toStdString()));
        } else {
            rs->Edit();
        }
        rs->Fields("sValue").SetValue(com::Variant::Str(value.toStdString()));
        rs->Update();
        rs->Close();
    });
}

}  // namespace MMenu
