// The program's single instances, as members of one object that the start-up
// code owns and installs; created and released in the order of start-up and
// clean-up. Tests install a fresh one each.
#pragma once

#include <cstdint>
#include <memory>

class CDataDef;
class CMRUList;
class CProject;
class CRegSettings;
class CSqlMachine;
class CTRX;

namespace shell {

class AppGlobals {
public:
    AppGlobals();
    ~AppGlobals();
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
};

// Installation (not owned; nullptr uninstalls); returns the one it replaces.
AppGlobals* SetGlobals(AppGlobals* globals);
// The installed instances; error 91 (object variable not set) when none is installed.
AppGlobals& Globals();
bool HasGlobals();

}  // namespace shell
