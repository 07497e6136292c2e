// Several processes on one store: re-reading, locking, and writers killed mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "registry/registry.h"
#include "test_util.h"

namespace {

// Runs fn in a child process; returns the child's pid.
template <class Fn>
pid_t Spawn(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int code = fn() ? 0 : 1;
        ::_exit(code);
    }
    return pid;
}

bool Succeeded(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class RegistryProcesses : public ::testing::Test {
protected:
    testutil::TempDir dir;
    testutil::ScopedEnv user{"TESSARY_REGISTRY", dir.File("user.reg")};
};

TEST_F(RegistryProcesses, EachProcessSeesTheOthersWrites) {
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Shared", "from", "parent"));
    std::string s;
    ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Shared", "from", &s));  // cached now
    pid_t child = Spawn([] {
        std::string v;
        return reg::GetString(HKEY_CURRENT_USER, "Shared", "from", &v) && v == "parent" &&
               reg::SetString(HKEY_CURRENT_USER, "Shared", "from", "child") &&
               reg::SetDword(HKEY_CURRENT_USER, "Shared\\Sub", "n", 7);
    });
    ASSERT_TRUE(Succeeded(child));
    ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Shared", "from", &s));
    EXPECT_EQ(s, "child");
    uint32_t n = 0;
    EXPECT_TRUE(reg::GetDword(HKEY_CURRENT_USER, "Shared\\Sub", "n", &n));
    EXPECT_EQ(n, 7u);
}

TEST_F(RegistryProcesses, ConcurrentWritersLoseNoUpdate) {
    constexpr int kWriters = 4, kEach = 25;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w)
        pids.push_back(Spawn([w] {
            for (int i = 0; i < kEach; ++i)
                if (!reg::SetDword(HKEY_CURRENT_USER, "Counters", "w" + std::to_string(w) + "_" + std::to_string(i),
                                   uint32_t(i)))
                    return false;
            return true;
        }));
    for (pid_t p : pids) EXPECT_TRUE(Succeeded(p));
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Counters", 0, KEY_READ, &k), ERROR_SUCCESS);
    std::string name;
    uint32_t count = 0;
    while (RegEnumValue(k, count, &name) == ERROR_SUCCESS) ++count;
    RegCloseKey(k);
    EXPECT_EQ(count, uint32_t(kWriters * kEach));
}

// Replaces the store file every 100 ms for as long as stop stays open, first
// with text and then with what the file holds, holding the lock throughout or
// only while it writes, with gaps of 50 ms between. Writes "x" to ready once
// it has the lock and has written.
bool KeepWriting(const std::string& file, std::string text, bool throughout, int ready, int stop) {
    const int fd = ::open((file + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (bool first = true; std::chrono::steady_clock::now() < end; first = false) {
        if (!first) {
            std::stringstream now;
            now << std::ifstream(file, std::ios::binary).rdbuf();
            text = now.str();
        }
        std::ofstream(file + ".next", std::ios::binary) << text;
        if (::rename((file + ".next").c_str(), file.c_str()) != 0) return false;
        if (ready >= 0) {
            (void)!::write(ready, "x", 1);
            ::close(ready);
            ready = -1;
        }
        pollfd pfd{stop, POLLIN, 0};
        if (throughout) {
            if (::poll(&pfd, 1, 100) != 0) return true;
        } else {
            ::poll(&pfd, 1, 50);
            ::flock(fd, LOCK_UN);
            if (::poll(&pfd, 1, 50) != 0) return true;
            if (::flock(fd, LOCK_EX) != 0) return false;
        }
    }
    return false;
}

// What the other process writes: the store as it is with one value more, put
// back as it was before the other starts.
std::string TextWith(const std::string& file, const char* name) {
    std::stringstream before, with;
    before << std::ifstream(file, std::ios::binary).rdbuf();
    EXPECT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Busy", name, "theirs"));
    with << std::ifstream(file, std::ios::binary).rdbuf();
    std::ofstream(file + ".next", std::ios::binary) << before.str();
    EXPECT_EQ(::rename((file + ".next").c_str(), file.c_str()), 0);
    return with.str();
}

// A process that keeps the lock and keeps replacing the file costs a change
// one wait, and later ones the brief wait, whatever it does meanwhile; the
// change made once it lets go keeps what it wrote.
TEST_F(RegistryProcesses, AChangeWaitsABoundedTimeWhileAnotherKeepsTheLockAndWrites) {
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "before"));
    const std::string file = reg::StorePath(HKEY_CURRENT_USER);
    const std::string theirs = TextWith(file, "held");
    int ready[2], stop[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(stop), 0);
    pid_t holder = Spawn([&] {
        ::close(ready[0]);
        ::close(stop[1]);
        return KeepWriting(file, theirs, true, ready[1], stop[0]);
    });
    ::close(ready[1]);
    ::close(stop[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    Clock::time_point t = Clock::now();
    EXPECT_FALSE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "after"));
    EXPECT_GT(since(t), 1.5);
    EXPECT_LT(since(t), 3.5);
    t = Clock::now();
    EXPECT_FALSE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "after"));
    EXPECT_LT(since(t), 1.0);
    std::string s;
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Busy", "v", &s));
    EXPECT_EQ(s, "before");
    ::close(stop[1]);
    EXPECT_TRUE(Succeeded(holder));
    EXPECT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "after"));
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Busy", "v", &s));
    EXPECT_EQ(s, "after");
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Busy", "held", &s));
    EXPECT_EQ(s, "theirs");
}

// A writer that lets go between its turns lets a waiting change in, on top
// of the file it last wrote.
TEST_F(RegistryProcesses, AChangeGetsInBetweenAnotherWritersTurnsAndKeepsTheirFile) {
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "before"));
    const std::string file = reg::StorePath(HKEY_CURRENT_USER);
    const std::string theirs = TextWith(file, "turns");
    int ready[2], stop[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(stop), 0);
    pid_t writer = Spawn([&] {
        ::close(ready[0]);
        ::close(stop[1]);
        return KeepWriting(file, theirs, false, ready[1], stop[0]);
    });
    ::close(ready[1]);
    ::close(stop[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    EXPECT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Busy", "v", "after"));
    ::close(stop[1]);
    EXPECT_TRUE(Succeeded(writer));
    std::string s;
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Busy", "turns", &s));
    EXPECT_EQ(s, "theirs");
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Busy", "v", &s));
    EXPECT_EQ(s, "after");
}

TEST_F(RegistryProcesses, AWriterKilledAnywhereLeavesOldOrNewContent) {
    // Every write stores generation g and a payload made of g, so a reader can
    // tell a whole write from a torn one.
    auto payload = [](uint32_t g) { return std::string(48 * 1024, char('a' + g % 26)) + std::to_string(g); };
    ASSERT_TRUE(reg::SetDword(HKEY_CURRENT_USER, "Crash", "gen", 0));
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Crash", "payload", payload(0)));
    // Kills are spread over about two writes, whatever this machine's speed.
    auto span = std::max<long>(200, long(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::steady_clock::now() - t0).count()) * 4);
    std::mt19937 rng(12345);
    uint32_t lastSeen = 0;
    int interrupted = 0, torn = 0;
    auto asideNow = [&] {
        size_t n = 0;
        for (auto& e : std::filesystem::directory_iterator(dir.Path()))
            n += e.path().filename().string().rfind(".user.reg.", 0) == 0;
        return n;
    };
    size_t leftAside = asideNow();
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = Spawn([&] {
            ::close(ready[0]);
            for (uint32_t g = lastSeen + 1;; ++g) {
                // The payload first, then the generation: a payload newer than the
                // generation is fine, an older one would mean a lost write.
                reg::SetString(HKEY_CURRENT_USER, "Crash", "payload", payload(g));
                reg::SetDword(HKEY_CURRENT_USER, "Crash", "gen", g);
                if (ready[1] >= 0) {  // the writer is up to speed
                    (void)!::write(ready[1], "x", 1);
                    ::close(ready[1]);
                    ready[1] = -1;
                }
            }
            return true;
        });
        ::close(ready[1]);
        pollfd pfd{ready[0], POLLIN, 0};
        bool started = ::poll(&pfd, 1, 30000) == 1;
        ::close(ready[0]);
        if (started)
            std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, span)(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(started) << "the writer never completed a write";
        if (WIFSIGNALED(status)) ++interrupted;
        // A new private folder of the writer left behind means the kill landed inside a write.
        const size_t aside = asideNow();
        if (aside > leftAside) ++torn;
        leftAside = aside;

        uint32_t gen = 0;
        std::string body;
        ASSERT_TRUE(reg::GetDword(HKEY_CURRENT_USER, "Crash", "gen", &gen)) << "round " << round;
        ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Crash", "payload", &body)) << "round " << round;
        uint32_t bodyGen = uint32_t(std::stoul(body.substr(48 * 1024)));
        EXPECT_EQ(body, payload(bodyGen));
        EXPECT_GE(bodyGen, gen);
        EXPECT_LE(bodyGen, gen + 1);
        EXPECT_GE(gen, lastSeen);
        lastSeen = gen;
    }
    EXPECT_EQ(interrupted, 40);
    std::printf("kills inside a write: %d of 40\n", torn);
    EXPECT_GT(torn, 0);  // otherwise the rounds above proved nothing
    for (auto& e : std::filesystem::directory_iterator(dir.Path().string()))
        EXPECT_EQ(e.path().filename().string().find("damaged"), std::string::npos) << e.path();
}

}  // namespace
