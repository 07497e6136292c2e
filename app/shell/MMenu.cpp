#include "MMenu.h"

#include "CCommonDialog.h"
#include "CProject.h"
#include "ErrorGuard.h"
#include "FMain.h"
#include "MFileUtils.h"
#include "MTessary.h"
#include "MUtilities.h"
#include "UStatusBar.h"

#include "ui/dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

namespace MMenu {

namespace {

const QString kExt = QStringLiteral(".txp");

void PrepareProjectDialog(shell::CCommonDialog& cd, const QString& initialDir, const QString& title) {
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
    try {
        if (FMain* main = MTessary::MainWindow()) main->StatusBar()->MsgRecordCount(count);
    } catch (...) {
    }
}

int16_t LongToInt(int32_t value) { return int16_t(uint16_t(uint32_t(value) & 0xFFFFu)); }
int16_t LoWord(int32_t value) { return LongToInt(int32_t(uint32_t(value) & 0xFFFFu)); }

std::shared_ptr<CProject> NewProject(const QString& initialDir) {
    std::shared_ptr<CProject> result;
    shell::Guard("MMenu::NewProject", [&] {
        for (;;) {
            shell::CCommonDialog cd;
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
    shell::Guard("MMenu::OpenProjectFile", [&] {
        QString path = pathIn;
        for (;;) {
            if (path.isEmpty()) {
                shell::CCommonDialog cd;
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
        auto project = std::make_shared<CProject>();
        project->Initialize(path.toStdString());
        if (project->FileName().empty()) return;
        result = project;
    });
    return result;
}

QString SelectDataSource() {
    QString result;
    shell::Guard("MMenu::SelectDataSource", [&] {
        shell::CCommonDialog cd;
        cd.Filter = QStringLiteral("MS Access Database (*.mdb)|*.mdb|Cortexa Pro Sample (*.cxs)|*.cxs|Any (*.*)|*.*");
        cd.DefaultExt = QStringLiteral("*.mdb;*.cxs");
        cd.FileName = QStringLiteral("*.mdb;*.cxs");
        cd.InitDir = QString::fromStdString(
            MUtilities::GetRegSetting("Config", "LastDatabasePath", MTessary::ProgramDir().toStdString()));
        cd.DialogTitle = QStringLiteral("Select Data Source");
        cd.flags = cd.flags | 4;
        cd.hWnd = QApplication::activeWindow();
        cd.ShowOpen();
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

}  // namespace MMenu
