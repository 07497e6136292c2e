#include "ErrorGuard.h"

#include "AppErrors.h"

#include <cstdio>

namespace base {

void ReportTrapped(const char* location) noexcept {
    try {
        app::ShowCurrentError(location);
    } catch (...) {
        // The box itself failed (no dialog possible): the text still goes somewhere.
        std::fprintf(stderr, "%s: unreported error\n", location);
    }
}

}  // namespace base
