// Entry points of the panels (mouse, key, timer, paint) never let an error
// escape into the event loop: Trap shows the standard error box titled with
// the handler's location, Skip drops the failing step as the layout rules ask.
#pragma once

#include "AppErrors.h"

#include <string>

namespace MPanelTrap {

template <typename F>
void Trap(const std::string& location, F&& body) noexcept {
    try {
        body();
    } catch (...) {
        try {
            app::ShowCurrentError(location);
        } catch (...) {
        }
    }
}

template <typename F>
void Skip(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace MPanelTrap
