#include "IShell.h"

namespace base {

namespace {
IShell* gShell = nullptr;
}

IShell* SetShell(IShell* shell) {
    IShell* previous = gShell;
    gShell = shell;
    return previous;
}

IShell* Shell() { return gShell; }

}  // namespace base
