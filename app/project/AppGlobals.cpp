// The one installed AppGlobals, and the process's own for the services while none is.
#include "AppGlobals.h"

#include "AppErrors.h"

#include <utility>

namespace app {

namespace {

AppGlobals* gGlobals = nullptr;

// The services' home while the start-up code has installed none.
AppGlobals& Alone() {
    static AppGlobals alone;
    return alone;
}

}  // namespace

AppGlobals* SetGlobals(AppGlobals* globals) { return std::exchange(gGlobals, globals); }

AppGlobals& Globals() {
    if (!gGlobals) RaiseError(91);
    return *gGlobals;
}

bool HasGlobals() { return gGlobals != nullptr; }

AppGlobals& Services() { return gGlobals ? *gGlobals : Alone(); }

}  // namespace app
