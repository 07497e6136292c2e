#include "MSwallow.h"

#include "AppErrors.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

namespace app {

namespace {

// The test hook; guarded because the export writer's thread may swallow too.
std::mutex sinkLock;
SwallowSink& Sink() {
    static SwallowSink sink;
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

Swallowed Describe(const char* where) {
    Swallowed s{where ? where : "?", 0, {}};
    try {
        throw;
    } catch (const std::exception&) {
        const ErrInfo e = CurrentError();
        s.number = e.number;
        s.description = e.description;
    } catch (...) {
        s.description = "unknown";  // thrown by something that is no exception class
    }
    return s;
}

}  // namespace

void SwallowCurrent(const char* where) noexcept {
    try {
        const Swallowed s = Describe(where);
        if (Tracing())
            std::fprintf(stderr, "swallowed at %s: %ld %s\n", s.where.c_str(), s.number, s.description.c_str());
        std::lock_guard<std::mutex> hold(sinkLock);
        if (Sink()) Sink()(s);
    } catch (...) {
        // Recording must never turn a dropped error into a new one.
    }
}

SwallowSink SetSwallowSink(SwallowSink sink) {
    std::lock_guard<std::mutex> hold(sinkLock);
    SwallowSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

}  // namespace app
