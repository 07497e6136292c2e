#include "CTessaryApp.h"

#include "FMain.h"
#include "FSplash.h"
#include "FStatus.h"
#include "IShell.h"
#include "MUtilities.h"

#include <QApplication>

namespace {
CTessaryApp* gInstance = nullptr;
}

CTessaryApp::CTessaryApp(PanelSet::Factory f) : factory(std::move(f)) {
    gInstance = this;
    shell::SetGlobals(&globals);
    mPreviousForms = app::SetForms(this);
}

CTessaryApp::~CTessaryApp() {
    delete status.data();
    delete splash.data();
    delete main.data();
    main.clear();
    base::SetShell(nullptr);
    app::SetStatusTextSink(nullptr);
    app::SetForms(mPreviousForms);
    MUtilities::SetRegSettings(nullptr);
    shell::SetGlobals(nullptr);
    gInstance = nullptr;
}

CTessaryApp* CTessaryApp::Instance() { return gInstance; }

app::IMainWindow* CTessaryApp::MainWindow(bool) { return main.data(); }

bool CTessaryApp::IsFormLoaded(const QString& name) const {
    if (main && main->objectName() == name) return !main->Unloaded();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w != main) return true;
    return false;
}
