#include "CTessaryApp.h"

#include "FMain.h"
#include "FSplash.h"
#include "FStatus.h"

#include <QApplication>

CTessaryApp::CTessaryApp(PanelSet::Factory f) : factory(std::move(f)) {
    globals.owner = this;
    app::SetGlobals(&globals);
    app::SetForms(this);
}

CTessaryApp::~CTessaryApp() {
    delete status.data();
    delete splash.data();
    delete main.data();
    main.clear();
    // The services and the settings go with the globals.
    app::SetGlobals(nullptr);
}

CTessaryApp* CTessaryApp::Instance() { return app::HasGlobals() ? app::Globals().owner : nullptr; }

app::IMainWindow* CTessaryApp::MainWindow(bool) { return main.data(); }

bool CTessaryApp::IsFormLoaded(const QString& name) const {
    if (main && main->objectName() == name) return !main->Unloaded();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w != main) return true;
    return false;
}
