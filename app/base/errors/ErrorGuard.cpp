#include "ErrorGuard.h"

#include "ui/dialogs.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

namespace base {

namespace {

// The test hook; guarded because the export writer's thread may record too.
std::mutex sinkLock;
RecordSink& Sink() {
    static RecordSink sink;
    return sink;
}

bool Tracing() {
#ifndef NDEBUG
    return true;
#else
    // Read each time so a test or a debugging session can switch it on late.
    const char* v = std::getenv("TESSARY_TRACE");
    return v && *v && std::string(v) != "0";
#endif
}

RecordedError Describe(std::string_view where) {
    RecordedError s{std::string(where), 0, {}};
    try {
        throw;
    } catch (const std::exception&) {
        const app::ErrInfo e = app::CurrentError();
        s.number = e.number;
        s.description = e.description;
    } catch (...) {
        s.description = "unknown";  // thrown by something that is no exception class
    }
    return s;
}

}  // namespace

void ShowError(const std::string& where, const app::ErrInfo& err) {
    ui::ShowError(QString::fromStdString(where), err.number, QString::fromStdString(err.description));
}

void ShowCaught(std::string_view where) noexcept {
    try {
        ShowError(std::string(where), app::CurrentError());
    } catch (...) {
        // The box itself failed (no dialog possible): the text still goes somewhere.
        std::fprintf(stderr, "%.*s: unreported error\n", int(where.size()), where.data());
    }
}

void RecordCaught(std::string_view where) noexcept {
    try {
        const RecordedError s = Describe(where);
        if (Tracing())
            std::fprintf(stderr, "swallowed at %s: %ld %s\n", s.where.c_str(), s.number, s.description.c_str());
        std::lock_guard<std::mutex> hold(sinkLock);
        if (Sink()) Sink()(s);
    } catch (...) {
        // Recording must never turn a dropped error into a new one.
    }
}

RecordSink SetRecordSink(RecordSink sink) {
    std::lock_guard<std::mutex> hold(sinkLock);
    RecordSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

}  // namespace base
