// What the engine's tests share beside the client: a seeded generator for their data
// and the count of the process's threads.
#pragma once

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace trxtest {

// splitmix64: the same rows on every machine.
struct Rng {
    uint64_t s;
    uint64_t Next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

// Threads of the process now. A sanitizer starts a thread of its own with the first
// other thread, so a baseline is taken once that has happened.
inline int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// A thread just joined can still be listed for a moment: the count a test
// compares against is the one that stays, read until it equals want (or
// settles at the least seen, for the baseline).
inline int SettledThreadCount(int want) {
    int n = ThreadCount();
    for (int i = 0; i < 400 && n != want; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        n = ThreadCount();
    }
    return n;
}

}  // namespace trxtest
