// The process-wide fault handler: a fatal signal is named the way the
// platform names its exceptions, written to standard error, and the process
// ends with that signal. No Qt here: the handler must be async-signal-safe.
#pragma once

#include <cstdint>
#include <string>

namespace MException {

// "Exception Error: " and the name of an exception code.
std::string ExceptionName(uint32_t code);
// The exception code a signal stands for (signal number and si_code).
uint32_t CodeOfSignal(int signal, int code, bool nearStackGuard);

// Installs or removes the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP.
void InstallFilter();
void RemoveFilter();
bool FilterInstalled();

}  // namespace MException
