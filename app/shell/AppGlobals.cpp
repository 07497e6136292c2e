#include "AppGlobals.h"

#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CRegSettings.h"
#include "CSqlMachine.h"
#include "CTRX.h"

namespace shell {

namespace {
AppGlobals* gGlobals = nullptr;
}

AppGlobals::AppGlobals() = default;
AppGlobals::~AppGlobals() = default;

AppGlobals* SetGlobals(AppGlobals* globals) {
    AppGlobals* previous = gGlobals;
    gGlobals = globals;
    return previous;
}

AppGlobals& Globals() {
    if (!gGlobals) app::RaiseError(91);
    return *gGlobals;
}

bool HasGlobals() { return gGlobals != nullptr; }

}  // namespace shell
