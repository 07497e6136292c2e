// Start-up, shutdown, the program's folders and the progress protocol.
#include "MTessary.h"

#include "AppErrors.h"
#include "CCommandTable.h"
#include "CDataDef.h"
#include "CMRUList.h"
#include "CProject.h"
#include "CRegSettings.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "CTessaryApp.h"
#include "ErrorGuard.h"
#include "FMain.h"
#include "FSplash.h"
#include "FStatus.h"
#include "IShell.h"
#include "MException.h"
#include "MFileUtils.h"
#include "MMenu.h"
#include "MUtilities.h"
#include "UAppFrame.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace MTessary {

namespace {

CTessaryApp& App() {
    CTessaryApp* app = CTessaryApp::Instance();
    if (!app) app::RaiseError(91);
    return *app;
}

QString EnvPath(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? QString::fromLocal8Bit(v) : QString();
}

void InitSettings(CTessaryApp& app) {
    auto settings = std::make_shared<CRegSettings>();
    settings->SetCompany("Tavrel");
    settings->SetAppName(ProgramTitle().toStdString());
    app.globals.gRegSettings = settings;
    app.trace << QStringLiteral("settings");
    // Reaching the File band makes the main window.
    auto* main = new FMain(app.factory);
    app.main = main;
    base::SetShell(main);
    app::SetStatusTextSink(main);
    main->Load();
    app.trace << QStringLiteral("load");
    auto mru = std::make_shared<CMRUList>();
    mru->Initialize(main->Bar(), main->Bar()->Band(QStringLiteral("popFile")));
    // The size chosen in the preferences holds from one start to the next.
    bool stored = false;
    const double numRecents =
        QString::fromStdString(MUtilities::GetRegSetting("Config", "NumRecents", "")).trimmed().toDouble(&stored);
    if (stored && std::isfinite(numRecents))
        mru->SetMaxItems(int16_t(std::clamp<double>(std::nearbyint(numRecents), 0, 16)));
    app.globals.gMRUList = mru;
    app.trace << QStringLiteral("recent");
    app.globals.gTreeMode = -1;
}

void OpenStartupProject(const QStringList& args) {
    const QString line = args.join(QLatin1Char(' ')).trimmed();
    if (!line.isEmpty()) {
        QString path = line;
        if (!path.contains(QStringLiteral(".txp"), Qt::CaseInsensitive)) path += QStringLiteral(".txp");
        if (!path.contains(QLatin1Char('/'))) path = QDir::currentPath() + QLatin1Char('/') + path;
        if (!MFileUtils::FileExists(path.toStdString()))
            path = ProgramDir() + QStringLiteral("/Projects/") +
                   QString::fromStdString(MFileUtils::GetFileName(path.toStdString()));
        if (!MFileUtils::FileExists(path.toStdString())) {
            MMenu::StatusText(QStringLiteral("Could not load command line project: ") + line);
            return;
        }
        const QString longPath = QString::fromStdString(MFileUtils::GetLongFileName(path.toStdString()));
        if (!longPath.isEmpty()) {
            LoadProject(longPath);
            return;
        }
    }
    if (!TextToBool(MUtilities::GetRegSetting("Config", "AutoLoad", "False"))) return;
    const QString newest = App().globals.gMRUList ? App().globals.gMRUList->Item(1) : QString();
    if (newest.isEmpty()) return;
    if (MFileUtils::FileExists(newest.toStdString())) LoadProject(newest);
}

}  // namespace

QString ProgramTitle() { return QStringLiteral("Tessary"); }

QString ProgramDir() {
    const QString dir = EnvPath("TESSARY_PROGRAM_DIR");
    if (!dir.isEmpty()) return QDir::cleanPath(dir);
    return QCoreApplication::applicationDirPath();
}

QString ClassStore() {
    const QString env = EnvPath("TESSARY_CLASSES");
    if (!env.isEmpty()) return env;
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {exeDir + QStringLiteral("/classes.reg"), QDir::cleanPath(exeDir + QStringLiteral("/../classes.reg"))})
        if (QFileInfo::exists(candidate)) return candidate;
    return QString();
}

QString LockPath() {
    // Beside the user store in use, so that each test's scratch store has its own.
    const QString store = EnvPath("TESSARY_REGISTRY");
    if (!store.isEmpty()) return QFileInfo(store).absolutePath() + QStringLiteral("/tessary.lock");
    QString dir = EnvPath("XDG_CONFIG_HOME");
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.config");
    QDir().mkpath(dir + QStringLiteral("/tessary"));
    return dir + QStringLiteral("/tessary/tessary.lock");
}

bool Main(const QStringList& args) {
    CTessaryApp& app = App();
    bool up = false;
    base::ShowErrors("MTessary::Main", [&] {
        MException::InstallFilter();
        app.trace << QStringLiteral("filter");
        // The program's modules are found without any setting by the user.
        const QString store = ClassStore();
        if (!store.isEmpty() && EnvPath("TESSARY_CLASSES").isEmpty())
            ::setenv("TESSARY_CLASSES", store.toLocal8Bit().constData(), 1);
        app.lock = std::make_unique<QLockFile>(LockPath());
        app.lock->setStaleLockTime(0);  // stale only when its process is gone
        if (!app.lock->tryLock(0)) {
            app.trace << QStringLiteral("other instance");
            app.lock.reset();
            return;
        }
        app.trace << QStringLiteral("lock");
        auto* splash = new FSplash;
        app.splash = splash;
        splash->Load();
        app.trace << QStringLiteral("splash");
        InitSettings(app);
        FMain* main = app.main;
        // The splash stays above the main window.
        splash->setParent(main, splash->windowFlags());
        splash->show();
        main->SetActivationHook(true);
        app.trace << QStringLiteral("hook");
        InitToolbar();
        app.trace << QStringLiteral("toolbar");
        main->show();
        app.trace << QStringLiteral("show");
        up = true;
        splash->Timer()->stop();
        splash->SetWaitTime(8000);
        splash->Timer()->start();
        MMenu::StatusText(QStringLiteral("Welcome to Tessary."));
        app.trace << QStringLiteral("welcome");
        OpenStartupProject(args);
        app.trace << QStringLiteral("project");
    });
    return up;
}

void AppCleanup() {
    base::ShowErrors("MTessary::AppCleanup", [] {
        CTessaryApp& app = App();
        if (app.main) app.main->SetActivationHook(false);
        MException::RemoveFilter();
        app.globals.gTRX.reset();
        app.globals.gSqlMachine.reset();
        app.globals.gDataDef.reset();
        if (app.globals.gProject) app.globals.gProject->CloseProject();
        app.globals.gProject.reset();
        app.globals.gMRUList.reset();
        app.globals.gRegSettings.reset();
    });
}

void MainWindowProc(bool activated) {
    CTessaryApp& app = App();
    if (!app.main) return;
    if (activated) {
        if (app.frameInactive) app.main->Frame()->SetFocusX();
        app.frameInactive = false;
    } else {
        if (!app.frameInactive) app.main->Frame()->UnSetFocusX();
        app.frameInactive = true;
    }
}

FMain* MainWindow() {
    CTessaryApp* app = CTessaryApp::Instance();
    return app ? app->main.data() : nullptr;
}

FStatus* Status() {
    CTessaryApp& app = App();
    if (!app.status) app.status = new FStatus(app.main);
    return app.status;
}

void ReleaseStatus() {
    CTessaryApp& app = App();
    if (app.status) app.status->deleteLater();
    app.status.clear();
}

bool RunWithProgress(const QString& caption, std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CTRX> trx,
                     const std::function<void()>& operation) {
    CTessaryApp& app = App();
    FStatus* status = Status();
    status->Initialize(caption, std::move(dataDef), std::move(trx), app.main);
    status->show();
    status->repaint();
    ++app.operations;
    struct Done {
        CTessaryApp& app;
        QPointer<FStatus> status;
        ~Done() {
            --app.operations;
            // Hidden on every way out, errors included.
            if (status) status->hide();
            if (app.operations == 0 && app.closePending && app.main) {
                app.closePending = false;
                QTimer::singleShot(0, app.main, [main = app.main] {
                    if (main) main->close();
                });
            }
        }
    } done{app, status};
    operation();
    const bool canceled = status->Canceled();
    if (canceled) MMenu::StatusText(QStringLiteral("Operation canceled by user."));
    return canceled;
}

bool TextToBool(const std::string& text) {
    const QString t = QString::fromStdString(text).trimmed();
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok) app::RaiseError(13);
    return v != 0;
}

}  // namespace MTessary
