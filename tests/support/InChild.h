// Runs a test body in a child process, for input that may crash or hang it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// f returns the child's exit code and must end by itself within `seconds`.
// Returns that code (99 when f threw), -1 when the child crashed or hung, -2
// when no child could be made.
template <class F>
int InChild(F&& f, unsigned seconds = 20) {
    const pid_t child = ::fork();
    if (child < 0) return -2;
    if (child == 0) {
        ::alarm(seconds);
        int rc = 0;
        try {
            rc = f();
        } catch (...) {
            rc = 99;
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
