// The two ways an error that no caller handles ends, both going on afterwards:
// shown, as the standard error box titled with the handler's location
// ("FMain::mnuFileOpen_Click"), for every slot, event handler, timer and the
// dispatcher; or recorded, for a step the program lets fail (layout, paint,
// courtesy counts, clean-up): with TESSARY_TRACE set (any value but "0"), and
// always in a debug build, the error is written to stderr with where it
// happened, and a test may collect it.
#pragma once

#include "AppErrors.h"

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace base {

// Shows the box for the exception being handled; call inside a catch block.
// Never throws.
void ShowCaught(std::string_view where) noexcept;

// Records the exception being handled; call inside a catch block. Never throws.
void RecordCaught(std::string_view where) noexcept;

// Shows the box for an error taken earlier (and perhaps explained since).
void ShowError(const std::string& where, const app::ErrInfo& err);

namespace detail {
// A body may answer for itself (true when it did what it was asked).
template <class F>
bool RunBody(F&& body) {
    if constexpr (std::is_same_v<std::invoke_result_t<F>, bool>) {
        return std::forward<F>(body)();
    } else {
        std::forward<F>(body)();
        return true;
    }
}

template <void (*Caught)(std::string_view) noexcept, class F>
bool Run(const char* where, F&& body) noexcept {
    try {
        return RunBody(std::forward<F>(body));
    } catch (...) {
        Caught(where);
        return false;
    }
}
}  // namespace detail

// Runs body; an error it raises shows the box. False when one did, else the
// body's own answer when it gives one.
template <class F>
bool ShowErrors(const char* where, F&& body) noexcept {
    return detail::Run<ShowCaught>(where, std::forward<F>(body));
}

// Runs body; an error it raises is recorded and dropped. False when one was,
// else the body's own answer when it gives one.
template <class F>
bool RecordErrors(const char* where, F&& body) noexcept {
    return detail::Run<RecordCaught>(where, std::forward<F>(body));
}

// A callable for QObject::connect whose body runs under ShowErrors; the
// signal's arguments (references included) are passed on, or none to a body
// that takes none (a button's clicked(bool) to a plain handler).
template <class F>
auto ShowingErrors(const char* where, F body) {
    return [where, body = std::move(body)](auto&&... args) mutable {
        ShowErrors(where, [&] {
            if constexpr (std::is_invocable_v<F&, decltype(args)...>)
                body(std::forward<decltype(args)>(args)...);
            else
                body();
        });
    };
}

struct RecordedError {
    std::string where;        // "UClassView::UserControl_Resize"
    long number = 0;          // database/runtime number; 0 for an exception of no known kind
    std::string description;  // what() or the error's description; "unknown" when there is none
};

// Where recorded errors go besides stderr; for tests. Returns the previous sink.
using RecordSink = std::function<void(const RecordedError&)>;
RecordSink SetRecordSink(RecordSink sink);

}  // namespace base
