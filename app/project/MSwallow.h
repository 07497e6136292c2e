// The one way to drop an error on purpose. Layout, paint, courtesy counts and
// clean-up steps go on after a failure without a box; the failure still leaves
// a trace: with TESSARY_TRACE set (any value but "0"), and always in a debug
// build, each swallowed error is written to stderr with where it happened.
#pragma once

#include <functional>
#include <string>

namespace app {

struct Swallowed {
    std::string where;        // "UClassView::UserControl_Resize"
    long number = 0;          // database/runtime number; 0 for an exception of no known kind
    std::string description;  // what() or the error's description; "unknown" when there is none
};

// Records the exception being handled; call inside a catch block. Never throws.
void SwallowCurrent(const char* where) noexcept;

// Runs body; an error it raises is recorded and dropped. False when one was.
template <class F>
bool Swallow(const char* where, F&& body) noexcept {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        SwallowCurrent(where);
        return false;
    }
}

// Where recorded errors go besides stderr; for tests. Returns the previous sink.
using SwallowSink = std::function<void(const Swallowed&)>;
SwallowSink SetSwallowSink(SwallowSink sink);

}  // namespace app
