// A test body run in a child process confined as a person's program may be:
// in a mount namespace of its own where a folder is seen through a read-only
// bind mount, or as an unprivileged user. What the body returns comes back to
// the test as text, so that a failure says what the child saw.
#pragma once

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace testsupport {

// Runs f (returning a string) in a child; its text, or why there is none.
template <class F>
std::string InChildText(F&& f, unsigned seconds = 30) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child < 0) return "no child";
    if (child == 0) {
        ::close(out[0]);
        ::alarm(seconds);
        std::string text;
        try {
            text = f();
        } catch (const std::exception& e) {
            text = std::string("threw: ") + e.what();
        } catch (...) {
            text = "threw";
        }
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(out[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) text += " (the child was killed)";
    return text;
}

// In a child: shows the folder `from` at `at` (an empty folder) read-only, in
// a mount namespace of the child's own. "" when done, else why not.
inline std::string BindReadOnly(const std::string& from, const std::string& at) {
    if (::geteuid() != 0) return "a bind mount needs root";
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mount namespace: ") + std::strerror(errno);
    if (::mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return std::string("no read-only bind mount: ") + std::strerror(errno);
    return {};
}

// In a child: goes on as the unprivileged user nobody. "" when done.
inline std::string BecomeNobody() {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        return std::string("cannot become nobody: ") + std::strerror(errno);
    return {};
}

}  // namespace testsupport
