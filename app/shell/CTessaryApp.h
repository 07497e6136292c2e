// What the program sets up at start-up, held by one object: the single
// instances, the main window, the splash window, the progress window, the
// single-instance lock. The caller of MTessary::Main makes one (tests one per
// test); it installs itself and the shell services, and uninstalls them when
// it goes.
#pragma once

#include "AppGlobals.h"
#include "AppServices.h"
#include "PanelSet.h"

#include <QLockFile>
#include <QPointer>
#include <QStringList>

#include <memory>

class FMain;
class FSplash;
class FStatus;

class CTessaryApp : public app::IForms {
public:
    explicit CTessaryApp(PanelSet::Factory factory = PanelSet::Program);
    ~CTessaryApp() override;
    CTessaryApp(const CTessaryApp&) = delete;
    CTessaryApp& operator=(const CTessaryApp&) = delete;

    // The one instance; null when none exists.
    static CTessaryApp* Instance();

    app::AppGlobals globals;
    PanelSet::Factory factory;
    QPointer<FMain> main;
    QPointer<FSplash> splash;
    QPointer<FStatus> status;
    std::unique_ptr<QLockFile> lock;
    bool frameInactive = false;
    // Start-up steps in the order they ran.
    QStringList trace;

    // A long operation is running: closing the main window cancels it first
    // and closes once it has returned.
    int operations = 0;
    bool closePending = false;

    // app::IForms. The main window is never created here: once closed it stays closed.
    app::IMainWindow* MainWindow(bool create) override;
    bool IsFormLoaded(const QString& name) const override;
};
