// The server module: live-object count for DllCanUnloadNow.
#pragma once

namespace nodars {
void ModuleLock();
void ModuleUnlock();
}  // namespace nodars
