// Short ways to the main window, the program's single instances and the open
// project, for the shell's sources.
#pragma once

#include "AppErrors.h"
#include "AppGlobals.h"
#include "MTessary.h"

class CProject;

namespace MTessary {

// The main window; error 91 when there is none.
inline FMain& Main() {
    FMain* main = MainWindow();
    if (!main) app::RaiseError(91);
    return *main;
}

using app::Globals;

// The open project; error 91 when none is open.
inline CProject& Project() {
    if (!Globals().gProject) app::RaiseError(91);
    return *Globals().gProject;
}

}  // namespace MTessary
