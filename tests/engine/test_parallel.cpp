// Growth on several threads gives the tree and the progress of one thread; a cancel
// from any event stops it with no thread left behind. Work tables follow the classes
// and values present, not the declared counts.
#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <thread>

#include "EngineClient.h"
#include "TestSupport.h"

using namespace trxtest;

namespace {

struct Spec {
    int rows, cont, disc, classes;
    double missing;  // share of unknown input values
    double grid;     // continuous values are multiples of this (ties)
    uint64_t seed;
    float prune;
    long minItems;
};


// Rows whose class follows a few inputs, with a tenth of the labels random.
std::vector<std::vector<float>> Generate(const Spec& s) {
    Rng rng{s.seed};
    std::vector<std::vector<float>> rows;
    for (int r = 0; r < s.rows; ++r) {
        std::vector<float> row;
        double score = 0;
        for (int i = 0; i < s.cont; ++i) {
            double x = std::floor(rng.Uniform() * 100.0 / s.grid) * s.grid;
            if (i == 0) score += x / 100.0;
            if (i == 1) score += x > 60 ? 0.5 : 0.0;
            row.push_back(rng.Uniform() < s.missing ? M : float(x));
        }
        for (int k = 0; k < s.disc; ++k) {
            int d = 1 + int(rng.Next() % uint64_t(2 + k % 5));
            if (k == 0) score += d == 1 ? 0.3 : 0.0;
            if (k == 1) score += 0.2 * (d % 2);
            row.push_back(rng.Uniform() < s.missing ? M : float(d));
        }
        int cls = std::min(s.classes - 1, int(score / 2.0 * s.classes));
        if (rng.Uniform() < 0.10) cls = int(rng.Next() % uint64_t(s.classes));
        row.push_back(float(cls));
        rows.push_back(row);
    }
    return rows;
}

int Baseline() {
    std::thread([] {}).join();
    int least = ThreadCount();
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        least = std::min(least, ThreadCount());
    }
    return least;
}

// A sink that also notes the most threads the process had during an event.
class CountingSink : public ProgressSink {
public:
    int most = 0;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                   UINT* u) override {
        if (values.size() % 50 == 0) most = std::max(most, ThreadCount());
        return ProgressSink::Invoke(id, riid, lcid, flags, p, r, e, u);
    }
};

struct Engine {
    com::ComPtr<ITRXTree> trx;
    CountingSink sink;
    DWORD cookie = 0;
    explicit Engine(const Spec& s) {
        trx = Create();
        const int fields = s.cont + s.disc + 1;
        EXPECT_EQ(trx->Initialize(SHORT(fields)), S_OK);
        for (int k = 0; k < s.disc; ++k) EXPECT_EQ(trx->put_FieldType(SHORT(s.cont + k), 2), S_OK);
        EXPECT_EQ(trx->put_PruneRate(s.prune), S_OK);
        EXPECT_EQ(trx->put_MinItems(s.minItems), S_OK);
        std::vector<std::vector<float>> rows = Generate(s);
        for (size_t first = 0; first < rows.size(); first += 100) {
            std::vector<std::vector<float>> batch(rows.begin() + long(first),
                                                  rows.begin() + long(std::min(rows.size(), first + 100)));
            EXPECT_EQ(Add(trx.Get(), batch), S_OK);
        }
        EXPECT_EQ(com::Advise(trx.Get(), DIID_ITRXEvents, &sink, &cookie), S_OK);
    }
    ~Engine() { com::Unadvise(trx.Get(), DIID_ITRXEvents, cookie); }
};

class ThreadsVariable {
public:
    explicit ThreadsVariable(int n) { setenv("TESSARY_ENGINE_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadsVariable() { unsetenv("TESSARY_ENGINE_THREADS"); }
};

struct Outcome {
    Tree tree;
    Tree repruned;  // the same grown tree pruned again at another rate
    std::vector<int> progress;
    int most = 0;
};

Outcome BuildWith(const Spec& s, int threads) {
    ThreadsVariable env(threads);
    Engine e(s);
    Outcome o;
    o.tree = Build(e.trx.Get());
    o.progress = e.sink.values;
    o.most = e.sink.most;
    EXPECT_EQ(e.trx->put_PruneRate(s.prune > 50 ? 20.0f : 85.0f), S_OK);
    o.repruned = Build(e.trx.Get());
    return o;
}

void ExpectSameTree(const Tree& a, const Tree& b) {
    ASSERT_TRUE(a.ok && b.ok);
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    EXPECT_EQ(a.width, b.width);
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        const Node& x = a.nodes[i];
        const Node& y = b.nodes[i];
        EXPECT_EQ(x.type, y.type) << "node " << i;
        EXPECT_EQ(x.forks, y.forks) << "node " << i;
        EXPECT_EQ(x.field, y.field) << "node " << i;
        EXPECT_EQ(std::memcmp(&x.cut, &y.cut, 4), 0) << "node " << i;
        EXPECT_EQ(x.disclass, y.disclass) << "node " << i;
        EXPECT_EQ(x.cls, y.cls) << "node " << i;
        EXPECT_EQ(std::memcmp(&x.items, &y.items, 4), 0) << "node " << i << " " << x.items << " " << y.items;
        EXPECT_EQ(std::memcmp(&x.errors, &y.errors, 4), 0) << "node " << i << " " << x.errors << " " << y.errors;
        EXPECT_EQ(x.children, y.children) << "node " << i;
    }
}

// Large enough for the threads to share the work.
const Spec kSets[] = {
    {24000, 4, 3, 3, 0.00, 0.5, 1, 75.0f, 2},   // many ties, nothing missing
    {24000, 4, 3, 3, 0.08, 0.5, 2, 0.0f, 12},   // unknowns, unpruned
    {22000, 0, 5, 4, 0.05, 1.0, 3, 40.0f, 0},   // discrete only, MinItems 0
    {22000, 6, 0, 2, 0.15, 0.1, 4, 90.0f, 5},   // continuous only, many unknowns
    {26000, 3, 3, 6, 0.03, 2.0, 5, 25.0f, 3},   // six classes
};

}  // namespace

TEST(EngineThreads, TreesAndProgressMatchOneThread) {
    const int before = Baseline();
    for (const Spec& s : kSets) {
        SCOPED_TRACE("seed " + std::to_string(s.seed));
        Outcome one = BuildWith(s, 1);
        Outcome many = BuildWith(s, 8);
        ASSERT_GT(one.tree.nodes.size(), 1u);
        ExpectSameTree(one.tree, many.tree);
        ExpectSameTree(one.repruned, many.repruned);
        EXPECT_EQ(one.progress, many.progress);
        EXPECT_EQ(one.most, before);     // one thread is the caller's
        EXPECT_GT(many.most, before);    // the helpers were there while it grew
        EXPECT_EQ(SettledThreadCount(before), before);  // and are gone
    }
}

TEST(EngineThreads, CancelFromAnyEventStopsAtOnceAndLeavesNoThread) {
    const Spec s = kSets[1];
    const int before = Baseline();
    Outcome full = BuildWith(s, 1);
    const size_t events = full.progress.size();
    ASSERT_GT(events, 10u);
    ThreadsVariable env(8);
    Engine e(s);
    // The last growth event is events-3: 95 and 100 follow it.
    for (size_t at : {size_t(1), events / 3, events / 2 + 1, events - 3}) {
        SCOPED_TRACE("cancel at event " + std::to_string(at));
        e.sink.values.clear();
        e.sink.cancelAt = int(at);
        SAFEARRAY* nt = nullptr;
        SAFEARRAY* ci = nullptr;
        EXPECT_EQ(e.trx->BuildTree(&nt, &ci), S_OK);
        EXPECT_EQ(nt, nullptr);
        EXPECT_EQ(ci, nullptr);
        EXPECT_EQ(e.sink.values, std::vector<int>(full.progress.begin(), full.progress.begin() + long(at)));
        EXPECT_EQ(SettledThreadCount(before), before);
    }
    // The next build grows the whole tree again.
    e.sink.cancelAt = 0;
    e.sink.values.clear();
    Tree t = Build(e.trx.Get());
    ExpectSameTree(full.tree, t);
    EXPECT_EQ(e.sink.values, full.progress);
}

// Values 2 and 5 of six, classes 3 and 7 of ten: the branches still follow the
// declared values, the classes keep their codes and the lower code wins a tie.
TEST(EngineTables, AbsentValuesAndClassesKeepTheirNumbers) {
    com::ComPtr<ITRXTree> trx = Create();
    ASSERT_EQ(trx->Initialize(2), S_OK);
    ASSERT_EQ(trx->put_FieldType(0, 2), S_OK);
    ASSERT_EQ(trx->put_MaxClass(0, 6), S_OK);
    ASSERT_EQ(trx->put_MaxClass(1, 10), S_OK);
    ASSERT_EQ(trx->put_PruneRate(0), S_OK);
    ASSERT_EQ(Add(trx.Get(), {{2, 7}, {5, 3}, {2, 7}, {5, 3}, {2, 7}, {5, 3}, {2, 7}, {5, 3}}), S_OK);
    Tree t = Build(trx.Get());
    ASSERT_EQ(t.nodes.size(), 7u);
    EXPECT_EQ(t.width, 6);
    EXPECT_EQ(t.nodes[0].forks, 6);
    EXPECT_EQ(t.nodes[0].cls, 3);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    for (int v = 1; v <= 6; ++v) {
        const Node& n = t.nodes[size_t(v)];
        EXPECT_EQ(n.type, 1);
        EXPECT_EQ(n.field, 0);
        EXPECT_EQ(n.disclass, v);
        EXPECT_EQ(n.cls, v == 2 ? 7 : 3) << "branch " << v;
        EXPECT_FLOAT_EQ(n.items, v == 2 || v == 5 ? 4.0f : 0.0f) << "branch " << v;
    }
}

// 32767 declared values on ten fields and 1000 classes, on two rows: tables sized by
// the declared counts would need more than a gigabyte; the build must fit in a few
// hundred megabytes of address space and answer with the one-node tree.
TEST(EngineTables, ExtremeDeclaredCountsOnTwoRows) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under the sanitizers";
#else
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(60);
        rlimit lim{};
        getrlimit(RLIMIT_AS, &lim);
        lim.rlim_cur = 768ul << 20;
        if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(10);
        com::ComPtr<ITRXTree> trx;
        if (FAILED(CoCreateInstance(CLSID_TRXTree, nullptr, CLSCTX_INPROC_SERVER, IID_ITRXTree, trx.PutVoid())))
            _exit(11);
        if (trx->Initialize(11) != S_OK) _exit(12);
        for (SHORT j = 0; j < 10; ++j)
            if (trx->put_FieldType(j, 2) != S_OK || trx->put_MaxClass(j, 32767) != S_OK) _exit(13);
        if (trx->put_MaxClass(10, 1000) != S_OK) _exit(14);
        std::vector<float> low(10, 1.0f), high(10, 32767.0f);
        low.push_back(999);
        high.push_back(0);
        if (Add(trx.Get(), {low, high}) != S_OK) _exit(15);
        SAFEARRAY* nt = nullptr;
        SAFEARRAY* ci = nullptr;
        if (trx->BuildTree(&nt, &ci) != S_OK) _exit(16);
        LONG hi = -1;
        SafeArrayGetUBound(nt, 2, &hi);
        VARIANT* v = nullptr;
        SafeArrayAccessData(nt, reinterpret_cast<void**>(&v));
        const int cls = v[5].iVal;  // the tie goes to the lower class
        SafeArrayUnaccessData(nt);
        _exit(hi == 0 && cls == 0 ? 0 : 17);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

namespace {

long AddressSpaceBytes() {
    long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * sysconf(_SC_PAGESIZE);
}

// In a child: a build on eight threads with only `room` bytes of address space to
// spare. Exit 0 when it gave the tree of one thread, 1 when it ran out of memory and
// left the arrays alone; either way no thread may be left behind. Unused where the
// sanitizers skip the test.
[[noreturn, maybe_unused]] void BuildWithLittleRoom(const Spec& s, const Tree& reference, long room,
                                                    const char* budgetMB) {
    alarm(120);
    const int before = Baseline();
    setenv("TESSARY_ENGINE_THREADS", "8", 1);
    if (budgetMB) setenv("TESSARY_ENGINE_MEMORY_MB", budgetMB, 1);
    Engine e(s);
    malloc_trim(0);  // the room is what the build gets, not what earlier builds left free
    rlimit lim{};
    getrlimit(RLIMIT_AS, &lim);
    lim.rlim_cur = rlim_t(AddressSpaceBytes() + room);
    if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(10);
    SAFEARRAY* nt = nullptr;
    SAFEARRAY* ci = nullptr;
    const HRESULT hr = e.trx->BuildTree(&nt, &ci);
    if (SettledThreadCount(before) != before) _exit(11);
    if (hr == E_OUTOFMEMORY) _exit(nt || ci ? 12 : 1);
    if (hr != S_OK) _exit(13);
    const Tree t = Decode(nt, ci);
    if (t.nodes.size() != reference.nodes.size()) _exit(14);
    for (size_t i = 0; i < t.nodes.size(); ++i)
        if (std::memcmp(&t.nodes[i].items, &reference.nodes[i].items, 4) != 0 ||
            std::memcmp(&t.nodes[i].errors, &reference.nodes[i].errors, 4) != 0 ||
            t.nodes[i].children != reference.nodes[i].children)
            _exit(15);
    _exit(0);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Armed, the first array of `g_failArrayOf` bytes that a helper thread asks for right
// after one of `g_failAfter` bytes fails, as a full address space may fail any of two
// allocations in a row.
std::atomic<size_t> g_failArrayOf{0}, g_failAfter{0};
std::atomic<bool> g_failedOnce{false};
thread_local size_t t_lastArray = 0;
thread_local bool t_arming = false;
#endif

}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void* operator new[](std::size_t n) {
    const size_t last = t_lastArray;
    t_lastArray = n;
    if (!t_arming && n == g_failArrayOf.load() && last == g_failAfter.load() && !g_failedOnce.exchange(true))
        throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
#endif

// A helper thread whose second row array could not be made takes later jobs: they must
// not find the first array alone and write through the missing one.
TEST(EngineThreads, AHelperThatRanOutOfMemoryTakesLaterJobsSafely) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers keep their own allocator";
#else
    const Spec& s = kSets[1];
    const Outcome one = BuildWith(s, 1);
    EXPECT_EXIT(
        {
            const int before = Baseline();
            setenv("TESSARY_ENGINE_THREADS", "8", 1);
            t_arming = true;  // the main thread never fails
            Engine e(s);
            g_failAfter = size_t(s.rows) * sizeof(float);
            g_failArrayOf = size_t(s.rows) * sizeof(uint16_t);
            SAFEARRAY* nt = nullptr;
            SAFEARRAY* ci = nullptr;
            const HRESULT hr = e.trx->BuildTree(&nt, &ci);
            if (!g_failedOnce) _exit(20);  // nothing was failed: the test missed its mark
            if (SettledThreadCount(before) != before) _exit(11);
            if (hr == E_OUTOFMEMORY) _exit(nt || ci ? 12 : 0);
            if (hr != S_OK) _exit(13);
            _exit(Decode(nt, ci).nodes.size() == one.tree.nodes.size() ? 0 : 14);
        },
        ::testing::ExitedWithCode(0), "");
#endif
}

// Memory or threads running out part way: the build either succeeds with the tree of
// one thread or answers E_OUTOFMEMORY, and no thread is left running either way.
TEST(EngineThreads, RunningOutOfMemoryLeavesNoThread) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under the sanitizers";
#else
    const Outcome one = BuildWith(kSets[1], 1);
    int outOfMemory = 0;
    // From too little room for the helpers' stacks, through room for them but not for
    // the work, to enough. With too little for the helpers, the build takes fewer threads;
    // the smallest rooms also get a budget that one thread does not fit in.
    for (long room = 0; room <= (120l << 20); room += room < (4l << 20) ? 256l << 10 : 2l << 20) {
        SCOPED_TRACE("room " + std::to_string(room >> 20) + " MB");
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) BuildWithLittleRoom(kSets[1], one.tree, room, room <= (1l << 20) ? "2" : nullptr);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_LE(WEXITSTATUS(status), 1);
        if (WEXITSTATUS(status) == 1) ++outOfMemory;
    }
    EXPECT_GT(outOfMemory, 0);  // the failing way out was taken at least once
#endif
}
