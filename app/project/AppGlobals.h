// The program's single instances and the services the layers above install,
// as members of one object that the start-up code owns and installs; created
// and released in the order of start-up and clean-up. Tests install a fresh
// one each. It lives in the lowest app layer so that the data model reaches
// settings, status and windows without including what sits above it: the
// members of higher layers are only declared here (a shared_ptr is released
// without its complete type, a service is a pointer it does not own).
#pragma once

#include <cstdint>
#include <memory>

class CDataDef;
class CMRUList;
class CProject;
class CRegSettings;
class CSqlMachine;
class CTRX;
class CTessaryApp;

namespace base {
class IShell;
}
namespace shell {
class IBrowseCommands;
}

namespace app {

class IForms;
class IScreen;
class IScreenPrint;
class IStatusText;

class AppGlobals {
public:
    AppGlobals() = default;
    AppGlobals(const AppGlobals&) = delete;
    AppGlobals& operator=(const AppGlobals&) = delete;

    std::shared_ptr<CRegSettings> gRegSettings;
    std::shared_ptr<CMRUList> gMRUList;
    std::shared_ptr<CProject> gProject;
    std::shared_ptr<CDataDef> gDataDef;
    std::shared_ptr<CSqlMachine> gSqlMachine;
    std::shared_ptr<CTRX> gTRX;
    int32_t gTreeMode = -1;  // -1 no view chosen yet, 0 rule tree, 1 flow chart
    bool gOdbcChosen = false;  // the data-source dialog's ODBC entry was picked

    // The start-up object that holds this one; null for one a test builds.
    CTessaryApp* owner = nullptr;
    // The services, installed by the layers that implement them (not owned;
    // null: none), each through the Set function beside its interface.
    IStatusText* statusText = nullptr;
    IForms* forms = nullptr;
    IScreen* screen = nullptr;
    IScreenPrint* screenPrint = nullptr;
    base::IShell* shell = nullptr;
    shell::IBrowseCommands* browseCommands = nullptr;
};

// Installation (not owned; nullptr uninstalls); returns the one it replaces.
AppGlobals* SetGlobals(AppGlobals* globals);
// The installed instances; error 91 (object variable not set) when none is installed.
AppGlobals& Globals();
bool HasGlobals();
// Where the services are installed and read: the installed instances, or with
// none the process's own, so that panels, the data model and their tests run
// without the program.
AppGlobals& Services();

}  // namespace app
