// Entry points of the panels (mouse, key, timer, paint) never let an error
// escape into the event loop: Trap runs the body under the shell's error
// guard (the standard error box titled with the handler's location). A step
// the layout and paint rules let fail goes through app::Swallow instead.
#pragma once

#include "ErrorGuard.h"

namespace MPanelTrap {

template <typename F>
void Trap(const char* location, F&& body) noexcept {
    base::Guard(location, std::forward<F>(body));
}

}  // namespace MPanelTrap
