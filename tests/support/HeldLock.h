// Another process holding an exclusive flock on a file, through the stock
// flock(1) tool, until the object goes. Held() is false when the tool is
// missing or never got the lock; Why() then says why.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testsupport {

class HeldLock {
public:
    explicit HeldLock(const std::string& path, int seconds = 60) {
        if (::access("/usr/bin/flock", X_OK) != 0) {
            mWhy = "no flock tool at /usr/bin/flock";
            return;
        }
        // The command flock runs says its pid once the lock is held; ending it ends flock.
        const std::string command = "exec /usr/bin/flock -x '" + path + "' /bin/sh -c 'echo $$; exec sleep " +
                                    std::to_string(seconds) + "'";
        mPipe = ::popen(command.c_str(), "r");
        long pid = 0;
        if (!mPipe || std::fscanf(mPipe, "%ld", &pid) != 1 || pid <= 0) {
            mWhy = "flock did not take " + path;
            return;
        }
        mPid = pid_t(pid);
    }
    ~HeldLock() { Release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

    bool Held() const { return mPid > 0; }
    const std::string& Why() const { return mWhy; }
    // Ends the holder and waits until flock has let go.
    void Release() {
        if (mPid > 0) ::kill(mPid, SIGKILL);
        mPid = 0;
        if (mPipe) ::pclose(mPipe);
        mPipe = nullptr;
    }

private:
    FILE* mPipe = nullptr;
    pid_t mPid = 0;
    std::string mWhy;
};

}  // namespace testsupport
