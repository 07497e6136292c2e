// The one error trap of every slot, event handler, timer and the dispatcher:
// an error that escapes the body shows the standard error box titled with the
// handler's location ("FMain::mnuFileOpen_Click") and the program goes on.
#pragma once

#include <utility>

namespace base {

// Shows the box for the exception being handled; call inside a catch block.
// Never throws.
void ReportTrapped(const char* location) noexcept;

// Runs body under the trap; false when an error was trapped.
template <class F>
bool Guard(const char* location, F&& body) noexcept {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        ReportTrapped(location);
        return false;
    }
}

// A callable for QObject::connect whose body runs under the trap; the signal's
// arguments (references included) are passed on.
template <class F>
auto Guarded(const char* location, F body) {
    return [location, body = std::move(body)](auto&&... args) mutable {
        Guard(location, [&] { body(std::forward<decltype(args)>(args)...); });
    };
}

}  // namespace base
