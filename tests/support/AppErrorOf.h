// The number of the program error a call raises, 0 when it raises none.
#pragma once

#include <functional>
#include <string>

#include "AppErrors.h"

inline long ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
    try {
        f();
    } catch (const app::RuntimeError& e) {
        if (text) *text = e.what();
        return e.Number();
    }
    return 0;
}
