// Trees worked out by hand from small data sets, the progress sequence, cancelling,
// re-pruning and regrowth, and the limits (depth 30, 32000 nodes).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "EngineClient.h"
#include "TestSupport.h"
#include "InChild.h"

using namespace trxtest;

namespace {

struct Session {
    com::ComPtr<ITRXTree> trx;
    ProgressSink sink;
    DWORD cookie = 0;
    explicit Session(SHORT fields, bool byProgId = false) {
        if (byProgId) EXPECT_EQ(com::CreateInstance("TRXTree.TRXTree", IID_ITRXTree, trx.PutVoid()), S_OK);
        else trx = Create();
        EXPECT_EQ(trx->Initialize(fields), S_OK);
        EXPECT_EQ(com::Advise(trx.Get(), DIID_ITRXEvents, &sink, &cookie), S_OK);
    }
    ~Session() {
        if (trx) com::Unadvise(trx.Get(), DIID_ITRXEvents, cookie);
    }
    Tree Run(std::vector<int>* progress = nullptr) {
        sink.values.clear();
        Tree t = Build(trx.Get());
        if (progress) *progress = sink.values;
        return t;
    }
};

void ExpectNode(const Node& n, int type, int forks, int field, float cut, int disclass, int cls, float items,
                float errors) {
    EXPECT_EQ(n.type, type);
    EXPECT_EQ(n.forks, forks);
    EXPECT_EQ(n.field, field);
    EXPECT_FLOAT_EQ(n.cut, cut);
    EXPECT_EQ(n.disclass, disclass);
    EXPECT_EQ(n.cls, cls);
    EXPECT_FLOAT_EQ(n.items, items);
    EXPECT_FLOAT_EQ(n.errors, errors);
}

// One continuous field 1..8, classes 0 0 0 0 1 1 1 1.
void LoadEight(ITRXTree* trx) {
    ASSERT_EQ(Add(trx, {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 1}, {6, 1}, {7, 1}, {8, 1}}), S_OK);
}

// One discrete field: value 1 three times class 0, value 2 three times class 1, one
// unknown of class 0.
void LoadUnknown(ITRXTree* trx) {
    ASSERT_EQ(trx->put_FieldType(0, 2), S_OK);
    ASSERT_EQ(Add(trx, {{1, 0}, {1, 0}, {1, 0}, {2, 1}, {M, 0}, {2, 1}, {2, 1}}), S_OK);
}

}  // namespace

// Root: BaseInfo 1; candidates at Low 2..6 (MinSplit 2), the best at x <= 4 with gain
// 1 - log2(5)/8; midpoint 4.5, cut 4. Both branches pure.
TEST(EngineTrees, ThresholdTreeAtRateZero) {
    Session s(2);
    s.trx->put_PruneRate(0);
    LoadEight(s.trx.Get());
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.width, 2);
    ExpectNode(t.nodes[0], -1, 2, -1, 4.0f, 0, 0, 8, 0);
    ExpectNode(t.nodes[1], 2, 0, 0, 4.0f, 1, 0, 4, 0);
    ExpectNode(t.nodes[2], 2, 0, 0, 4.0f, 2, 1, 4, 0);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 2}));
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 100}));  // 4/8 x 95 = 47.5, 8/8 x 95
}

// CF(75) = 0.0041159; a pure leaf of 4 rows gets 4 (1 - CF^(1/4)) = 2.9868419 extra
// errors; the root as a leaf 4 + 3.0090280 and the branch on all rows the same, both
// above the subtree's 5.9736838 + 0.1, so the tree stays.
TEST(EngineTrees, ThresholdTreeAtRate75) {
    Session s(2, true);
    LoadEight(s.trx.Get());
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 3u);
    ExpectNode(t.nodes[0], -1, 2, -1, 4.0f, 0, 0, 8, 5.9736838f);
    ExpectNode(t.nodes[1], 2, 0, 0, 4.0f, 1, 0, 4, 2.9868419f);
    ExpectNode(t.nodes[2], 2, 0, 0, 4.0f, 2, 1, 4, 2.9868419f);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 95, 100}));
}

// At rate 100 (CF 3.9e-9, coefficient 16.0) the root as a leaf (7.4241362) beats the
// subtree (7.9366364): a one-node tree that still shows the grown root's cut, and a
// ChildIndex as wide as the growth's widest node.
TEST(EngineTrees, PruningToOneLeafKeepsTheGrownRootsCut) {
    Session s(2);
    s.trx->put_PruneRate(100);
    LoadEight(s.trx.Get());
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.width, 2);
    ExpectNode(t.nodes[0], -1, 0, -1, 4.0f, 0, 0, 8, 7.4241362f);
    EXPECT_TRUE(t.nodes[0].children.empty());
}

// The unknown row goes down both branches with weight 3/6: items 3.5 each, the second
// leaf with 0.5 errors; the root's errors are the sum.
TEST(EngineTrees, UnknownValuesAreSplitByBranchWeight) {
    Session s(2);
    s.trx->put_PruneRate(0);
    LoadUnknown(s.trx.Get());
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 3u);
    ExpectNode(t.nodes[0], -1, 2, -1, 0, 0, 0, 7, 0.5f);
    ExpectNode(t.nodes[1], 1, 0, 0, 0, 1, 0, 3.5f, 0);
    ExpectNode(t.nodes[2], 1, 0, 0, 0, 2, 1, 3.5f, 0.5f);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 100}));

    // Rate 75: leaves 3.5 (1 - CF^(1/3.5)) = 2.7714026 and 0.5 + 2.4361503 (extra errors
    // interpolated below one error); the root as a leaf (5.9965506) loses to 5.7076058.
    s.trx->put_PruneRate(75);
    t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 3u);
    ExpectNode(t.nodes[0], -1, 2, -1, 0, 0, 0, 7, 5.7076058f);
    ExpectNode(t.nodes[1], 1, 0, 0, 0, 1, 0, 3.5f, 2.7714026f);
    ExpectNode(t.nodes[2], 1, 0, 0, 0, 2, 1, 3.5f, 2.9362032f);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));  // pruned again, not regrown

    s.trx->put_PruneRate(100);
    t = s.Run();
    ASSERT_EQ(t.nodes.size(), 1u);
    ExpectNode(t.nodes[0], -1, 0, -1, 0, 0, 0, 7, 6.4192009f);
}

TEST(EngineTrees, SmallRootsStayLeaves) {
    // Two rows of different classes: 2 x MinItems > 2.
    Session two(2);
    two.trx->put_PruneRate(0);
    ASSERT_EQ(Add(two.trx.Get(), {{1, 0}, {2, 1}}), S_OK);
    std::vector<int> progress;
    Tree t = two.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.width, 0);  // zero-width first dimension
    ExpectNode(t.nodes[0], -1, 0, -1, 0, 0, 0, 2, 1);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));

    // All rows of one class.
    Session one(3);
    ASSERT_EQ(Add(one.trx.Get(), {{1, 5, 2}, {2, 6, 2}, {3, 7, 2}, {4, 8, 2}, {5, 9, 2}}), S_OK);
    t = one.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.width, 0);
    EXPECT_EQ(t.nodes[0].cls, 2);
    EXPECT_FLOAT_EQ(t.nodes[0].items, 5);
    EXPECT_EQ(progress, (std::vector<int>{95, 95, 100}));

    // Known values all equal: no candidate threshold.
    Session flat(2);
    ASSERT_EQ(Add(flat.trx.Get(), {{3, 0}, {3, 1}, {3, 0}, {3, 1}, {3.000001f, 0}}), S_OK);
    t = flat.Run();
    EXPECT_EQ(t.nodes.size(), 1u);
}

// A split that does not lower the errors by 0.001 collapses: both branches hold three
// of class 0 and one of class 1. Its leaves still reported progress, and ChildIndex is
// as wide as the collapsed node was.
TEST(EngineTrees, UselessSplitCollapses) {
    Session s(2);
    s.trx->put_PruneRate(0);
    s.trx->put_FieldType(0, 2);
    ASSERT_EQ(Add(s.trx.Get(), {{1, 0}, {1, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 0}, {2, 0}, {2, 1}}), S_OK);
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.width, 2);
    ExpectNode(t.nodes[0], -1, 0, -1, 0, 0, 0, 8, 2);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 100}));
}

// A value the rows never take gives an empty branch: a leaf with the parent's class,
// no items, no progress, and the parent's test on its edge.
TEST(EngineTrees, EmptyBranchCarriesItsParentsTest) {
    Session s(2);
    s.trx->put_PruneRate(0);
    s.trx->put_MinItems(1);
    s.trx->put_FieldType(0, 2);
    s.trx->put_MaxClass(0, 3);
    ASSERT_EQ(Add(s.trx.Get(), {{1, 0}, {2, 1}, {1, 0}, {2, 1}}), S_OK);
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    ASSERT_EQ(t.nodes.size(), 4u);
    EXPECT_EQ(t.width, 3);
    ExpectNode(t.nodes[0], -1, 3, -1, 0, 0, 0, 4, 0);
    ExpectNode(t.nodes[1], 1, 0, 0, 0, 1, 0, 2, 0);
    ExpectNode(t.nodes[2], 1, 0, 0, 0, 2, 1, 2, 0);
    ExpectNode(t.nodes[3], 1, 0, 0, 0, 3, 0, 0, 0);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 100}));
}

// The root splits on the discrete field (gain 1 against 0.686 for x, which falls below
// the average gain); under value 1 the best threshold lies between 2 and 4, midpoint 3,
// and the cut is the greatest value of x in the whole table not above 3: 2.9, a value
// of the other branch's rows.
TEST(EngineTrees, CutIsTakenFromAllRows) {
    Session s(3);
    s.trx->put_PruneRate(0);
    s.trx->put_FieldType(0, 2);
    std::vector<std::vector<float>> rows;
    for (int k = 0; k < 2; ++k) {
        for (float x : {1.0f, 2.0f}) rows.push_back({1, x, 0});
        for (float x : {4.0f, 5.0f}) rows.push_back({1, x, 1});
        for (int j = 0; j < 4; ++j) rows.push_back({2, 2.9f, 2});
    }
    ASSERT_EQ(Add(s.trx.Get(), rows), S_OK);
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 5u);
    ExpectNode(t.nodes[0], -1, 2, -1, 0, 0, 2, 16, 0);
    ExpectNode(t.nodes[1], 1, 2, 0, 0, 1, 0, 8, 0);
    ExpectNode(t.nodes[2], 2, 0, 1, 2.9f, 1, 0, 4, 0);
    ExpectNode(t.nodes[3], 2, 0, 1, 2.9f, 2, 1, 4, 0);
    ExpectNode(t.nodes[4], 1, 0, 0, 0, 2, 2, 8, 0);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 4}));
    EXPECT_EQ(t.nodes[1].children, (std::vector<int>{2, 3}));
}

TEST(EngineTrees, CancelAtTheFirstEventLeavesTheArraysAndRegrowsNextTime) {
    Session s(2);
    LoadEight(s.trx.Get());
    s.sink.cancelAt = 1;
    SAFEARRAY* nt = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    SAFEARRAY* ci = SafeArrayCreateVector(VT_I2, 0, 1);
    SAFEARRAY* ntIn = nt;
    SAFEARRAY* ciIn = ci;
    EXPECT_EQ(s.trx->BuildTree(&nt, &ci), S_OK);
    EXPECT_EQ(nt, ntIn);
    EXPECT_EQ(ci, ciIn);
    EXPECT_EQ(SafeArrayGetDim(nt), 1u);
    EXPECT_EQ(s.sink.values, (std::vector<int>{47}));  // nothing after the cancel
    SafeArrayDestroy(nt);
    SafeArrayDestroy(ci);

    s.sink.cancelAt = 0;
    std::vector<int> progress;
    Tree t = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 95, 100}));  // grown again
    EXPECT_EQ(t.nodes.size(), 3u);

    // Any non-zero Cancel counts.
    s.sink.cancelAt = 2;
    s.sink.cancelValue = 1;
    s.trx->put_MinItems(1);
    SAFEARRAY* nt2 = nullptr;
    SAFEARRAY* ci2 = nullptr;
    s.sink.values.clear();
    EXPECT_EQ(s.trx->BuildTree(&nt2, &ci2), S_OK);
    EXPECT_EQ(nt2, nullptr);
    EXPECT_EQ(s.sink.values, (std::vector<int>{47, 95}));
}

TEST(EngineTrees, PruneRateChangesRepruneFromTheGrownTree) {
    Session s(2);
    LoadEight(s.trx.Get());
    std::vector<int> progress;
    Tree first = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 95, 100}));
    Tree again = s.Run(&progress);  // nothing changed: export only
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));
    ASSERT_EQ(again.nodes.size(), 3u);

    s.trx->put_PruneRate(100);
    Tree leaf = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));
    EXPECT_EQ(leaf.nodes.size(), 1u);

    s.trx->put_PruneRate(75);  // from the grown tree again, not from the one-leaf tree
    Tree back = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));
    ASSERT_EQ(back.nodes.size(), 3u);
    EXPECT_FLOAT_EQ(back.nodes[0].errors, first.nodes[0].errors);

    s.trx->put_PruneRate(0);  // the grown tree itself
    Tree grown = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{100}));
    ASSERT_EQ(grown.nodes.size(), 3u);
    EXPECT_FLOAT_EQ(grown.nodes[0].errors, 0);
}

TEST(EngineTrees, MinItemsAndNewRowsRegrow) {
    Session s(2);
    LoadEight(s.trx.Get());
    std::vector<int> progress;
    s.Run(&progress);
    s.trx->put_MinItems(2);  // the same value: no regrowth
    s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));

    s.trx->put_MinItems(5);  // 2 x 5 > 8: the root stays a leaf
    Tree t = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{95, 95, 100}));
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_FLOAT_EQ(t.nodes[0].errors, 7.0090280f);  // 4 + ExtraErrors(8, 4)

    s.trx->put_MinItems(2);
    ASSERT_EQ(Add(s.trx.Get(), {{0.5f, 0}, {9, 1}}), S_OK);
    s.trx->put_PruneRate(0);
    t = s.Run(&progress);
    EXPECT_EQ(progress, (std::vector<int>{47, 95, 100}));
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_FLOAT_EQ(t.nodes[0].items, 10);
    EXPECT_FLOAT_EQ(t.nodes[1].cut, 4.0f);
}

// 36 rows pairs, each pair its own class and its own binary field set to 2: every field
// splits one pair off and all tie, so the lowest field wins at each depth, giving a chain
// that stops at depth 30 with the last 12 rows in one leaf.
TEST(EngineTrees, NoSplitAtDepthThirty) {
    const int k = 36;
    Session s(SHORT(k + 1));
    s.trx->put_PruneRate(0);
    for (SHORT i = 0; i < k; ++i) s.trx->put_FieldType(i, 2);
    std::vector<std::vector<float>> rows;
    for (int j = 0; j < k; ++j)
        for (int copy = 0; copy < 2; ++copy) {
            std::vector<float> r(size_t(k), 1.0f);
            r[size_t(j)] = 2;
            r.push_back(float(j));
            rows.push_back(r);
        }
    ASSERT_EQ(Add(s.trx.Get(), rows), S_OK);
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 61u);
    std::vector<int> depth(t.nodes.size(), 0);
    int deepest = 0, deepNode = -1;
    for (size_t n = 0; n < t.nodes.size(); ++n) {
        for (int c : t.nodes[n].children) depth[size_t(c)] = depth[n] + 1;
        if (depth[n] > deepest) {
            deepest = depth[n];
            deepNode = int(n);
        }
        if (t.nodes[n].forks) {
            EXPECT_EQ(depth[n], t.nodes[size_t(t.nodes[n].children[0])].field);  // field d at depth d
            const Node& off = t.nodes[size_t(t.nodes[n].children[1])];
            EXPECT_EQ(off.cls, depth[n]);
            EXPECT_FLOAT_EQ(off.items, 2);
        }
    }
    EXPECT_EQ(deepest, 30);
    ASSERT_GE(deepNode, 0);
    EXPECT_EQ(t.nodes[size_t(deepNode)].forks, 0);
    EXPECT_FLOAT_EQ(t.nodes[size_t(deepNode)].items, 12);
    EXPECT_FLOAT_EQ(t.nodes[size_t(deepNode)].errors, 10);
    EXPECT_EQ(t.nodes[size_t(deepNode)].cls, 30);
}

// Thirteen binary fields, every combination once, class = parity. All fields tie until
// the last, so field i is tested at depth i-1 by all 2^(i-1) nodes there: a full binary
// tree of 16383 nodes. Declaring more values than occur adds empty branches:
// (MaxClass - 2) x 2^(i-1) nodes per field; 32000 = 16383 + 1 + 256 + 1024 + 2048 + 3 x 4096.
void LoadParity(ITRXTree* trx, const std::vector<int>& valueCounts) {
    for (SHORT i = 0; i < 13; ++i) {
        trx->put_FieldType(i, 2);
        trx->put_MaxClass(i, SHORT(valueCounts[size_t(i)]));
    }
    trx->put_PruneRate(0);
    trx->put_MinItems(1);
    std::vector<std::vector<float>> rows;
    for (int mask = 0; mask < 8192; ++mask) {
        std::vector<float> r;
        int ones = 0;
        for (int i = 0; i < 13; ++i) {
            int bit = (mask >> i) & 1;
            ones += bit;
            r.push_back(float(1 + bit));
        }
        r.push_back(float(ones % 2));
        rows.push_back(r);
    }
    for (size_t first = 0; first < rows.size(); first += 100)
        ASSERT_EQ(Add(trx, std::vector<std::vector<float>>(rows.begin() + long(first),
                                                           rows.begin() + long(std::min(rows.size(), first + 100)))),
                  S_OK);
}

TEST(EngineTrees, ExactlyThirtyTwoThousandNodesIsTheLimit) {
    Session ok(14);
    LoadParity(ok.trx.Get(), {3, 2, 2, 2, 2, 2, 2, 2, 3, 2, 3, 3, 5});
    Tree t = ok.Run();
    ASSERT_EQ(t.nodes.size(), 32000u);
    EXPECT_EQ(t.width, 5);
    long leaves = 0, empty = 0;
    for (const Node& n : t.nodes) {
        if (n.forks) continue;
        ++leaves;
        if (n.items == 0) ++empty;
        else EXPECT_FLOAT_EQ(n.errors, 0);
    }
    EXPECT_EQ(leaves - empty, 8192);

    Session over(14);
    LoadParity(over.trx.Get(), {4, 2, 2, 2, 2, 2, 2, 2, 3, 2, 3, 3, 5});
    SAFEARRAY* nt = nullptr;
    SAFEARRAY* ci = nullptr;
    EXPECT_EQ(over.trx->BuildTree(&nt, &ci), E_FAIL);
    EXPECT_EQ(ErrorText(over.trx.Get()), "BuildTree: Tree size exceeds 32000 nodes.  Try pruning.");
    EXPECT_EQ(nt, nullptr);
    EXPECT_EQ(ci, nullptr);
}

namespace {

// TESSARY_ENGINE_MEMORY_MB for the scope; none: the machine's own budget.
class MemoryBudget {
public:
    explicit MemoryBudget(std::optional<int> mb) {
        if (mb) setenv("TESSARY_ENGINE_MEMORY_MB", std::to_string(*mb).c_str(), 1);
        else unsetenv("TESSARY_ENGINE_MEMORY_MB");
    }
    ~MemoryBudget() { unsetenv("TESSARY_ENGINE_MEMORY_MB"); }
};

// One discrete field with values 1..n, each twice, value v of class v - 1.
void LoadOneClassPerValue(ITRXTree* trx, int n) {
    ASSERT_EQ(trx->put_FieldType(0, 2), S_OK);
    std::vector<std::vector<float>> rows;
    for (int v = 1; v <= n; ++v) rows.insert(rows.end(), 2, {float(v), float(v - 1)});
    ASSERT_EQ(Add(trx, rows), S_OK);
}

}  // namespace

// Shapes whose tables, trees or pruning notes once went far past a small budget: each is
// refused under it, on one thread and on four, and the build's peak stays near it. The
// child's address space is capped, so that a build that ignores the budget cannot take
// the machine.
namespace {

struct Shape {
    const char* name;
    std::vector<int> declared;  // per input: 0 continuous, else its declared value count
    std::function<std::vector<float>(int row)> row;
    int rows;
    int budgetMB;
};

// A sanitizer's shadow memory needs the address space, and its own allocations blur the
// peak: there only the refusal is checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasured = false;
#else
constexpr bool kMeasured = true;
#endif

// The process's peak resident size, and its current one, in KB.
long PeakKB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
long NowKB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

TEST(EngineTrees, BuildBeyondTheMemoryBudgetIsRefusedAtOnce) {
    const std::vector<Shape> shapes = {
        // 300 values by 6,000 classes, each value's rows split again by a second input.
        {"300 values x 6,000 classes", {300, 300},
         [](int r) { return std::vector<float>{float((r / 2) % 300 + 1), float((r / 600) * 7 % 300 + 1), float(r / 2)}; },
         12000, 16},
        {"one continuous input, 8,000 classes", {0}, [](int r) { return std::vector<float>{float(r), float(r / 2)}; },
         16000, 4},
        {"three discrete inputs, 400 classes", {40, 40, 40},
         [](int r) {
             Rng g{uint64_t(r) * 7919};
             return std::vector<float>{float(1 + g.Next() % 40), float(1 + g.Next() % 40), float(1 + g.Next() % 40),
                                       float((r * 13) % 400)};
         },
         20000, 4},
        {"256 declared values, 2 present, 256 classes", {40, 40, 256},
         [](int r) {
             Rng g{uint64_t(r) * 104729};
             return std::vector<float>{float(1 + g.Next() % 40), float(1 + g.Next() % 40),
                                       g.Next() % 2 ? 256.0f : 1.0f, float(g.Next() % 256)};
         },
         6400, 4},
        // Its value-by-class tables alone would take gigabytes.
        {"32,767 classes", {32767}, [](int r) { return std::vector<float>{float(r / 2 + 1), float(r / 2)}; }, 65534,
         64},
    };
    for (const Shape& shape : shapes) {
        for (const char* threads : {"1", "4"}) {
            SCOPED_TRACE(std::string(shape.name) + ", threads " + threads);
            const int rc = testsupport::InChild(
                [&] {
                    setenv("TESSARY_ENGINE_THREADS", threads, 1);
                    MemoryBudget budget(shape.budgetMB);
                    const SHORT fields = SHORT(shape.declared.size() + 1);
                    Session s(fields);
                    std::vector<std::vector<float>> rows;
                    for (int r = 0; r < shape.rows; ++r) rows.push_back(shape.row(r));
                    for (size_t i = 0; i < shape.declared.size(); ++i)
                        if (shape.declared[i]) s.trx->put_FieldType(SHORT(i), 2);
                    if (Add(s.trx.Get(), rows) != S_OK) return 2;
                    for (size_t i = 0; i < shape.declared.size(); ++i)
                        if (shape.declared[i] && s.trx->put_MaxClass(SHORT(i), SHORT(shape.declared[i])) != S_OK)
                            return 3;
                    rows = {};
                    const long before = NowKB();
                    rlimit cap{};
                    getrlimit(RLIMIT_AS, &cap);
                    cap.rlim_cur = rlim_t(1) << 31;
                    if (kMeasured) setrlimit(RLIMIT_AS, &cap);
                    SAFEARRAY* nt = nullptr;
                    SAFEARRAY* ci = nullptr;
                    const HRESULT hr = s.trx->BuildTree(&nt, &ci);
                    const long grewMB = (PeakKB() - before) >> 10;
                    std::printf("%s, threads %s: %ld MB over the start under %d MB\n", shape.name, threads, grewMB,
                                shape.budgetMB);
                    std::fflush(stdout);
                    if (hr != E_OUTOFMEMORY) return 4;
                    if (nt || ci) return 5;
                    return !kMeasured || grewMB <= shape.budgetMB * 5 / 4 + 4 ? 0 : 6;
                },
                300);
            EXPECT_EQ(rc, 0) << "2, 3: not loaded; 4: not refused; 5: arrays handed back; 6: peak past the budget";
        }
    }
}

// About 16 MB: refused under 4, the same tree under 64 as under the machine's budget,
// and a refusal does not stick once the budget allows.
TEST(EngineTrees, BuildWithinTheMemoryBudgetIsUnchanged) {
    Session s(2);
    LoadOneClassPerValue(s.trx.Get(), 1000);
    ASSERT_EQ(s.trx->put_PruneRate(0), S_OK);
    Tree unbounded = s.Run();
    ASSERT_EQ(unbounded.nodes.size(), 1001u);
    ASSERT_EQ(s.trx->put_MinItems(1), S_OK);  // a change that regrows
    ASSERT_EQ(s.trx->put_MinItems(2), S_OK);
    {
        MemoryBudget budget(4);
        HRESULT hr = S_OK;
        Build(s.trx.Get(), &hr);
        EXPECT_EQ(hr, E_OUTOFMEMORY);
    }
    MemoryBudget budget(64);
    Tree bounded = s.Run();
    ASSERT_EQ(bounded.nodes.size(), unbounded.nodes.size());
    for (size_t i = 0; i < bounded.nodes.size(); ++i) {
        const Node &a = bounded.nodes[i], &b = unbounded.nodes[i];
        EXPECT_TRUE(a.type == b.type && a.forks == b.forks && a.field == b.field && a.cut == b.cut &&
                    a.disclass == b.disclass && a.cls == b.cls && a.items == b.items && a.errors == b.errors &&
                    a.children == b.children)
            << "node " << i;
    }
}

// Grown: the root splits on the discrete field; value 1 (three rows of class 1) is a
// leaf, value 2 splits at x <= 3. At rate 75 the root as a leaf estimates 6 + 4.389 =
// 10.389 and its subtree 9.804, but the threshold branch judged on all 13 rows only
// 2 + 3.4548 (7 rows, 2 errors) + 1 + 3.4106 (6 rows, 1 error) = 9.8654 <= 9.804 + 0.1:
// the branch is raised into the root's place, and its children now carry its test.
TEST(EngineTrees, SubtreeRaising) {
    Session s(3);
    s.trx->put_PruneRate(0);
    s.trx->put_FieldType(0, 2);
    ASSERT_EQ(Add(s.trx.Get(), {{1, 3, 1}, {2, 1, 0}, {1, 3, 1}, {2, 2, 0}, {1, 8, 1}, {2, 2, 0}, {2, 3, 0},
                                {2, 3, 0}, {2, 4, 0}, {2, 4, 1}, {2, 6, 1}, {2, 7, 1}, {2, 8, 1}}),
              S_OK);
    Tree grown = s.Run();
    ASSERT_EQ(grown.nodes.size(), 5u);
    ExpectNode(grown.nodes[0], -1, 2, -1, 0, 0, 1, 13, 1);
    ExpectNode(grown.nodes[1], 1, 0, 0, 0, 1, 1, 3, 0);
    ExpectNode(grown.nodes[2], 1, 2, 0, 0, 2, 0, 10, 1);
    ExpectNode(grown.nodes[3], 2, 0, 1, 3, 1, 0, 5, 0);
    ExpectNode(grown.nodes[4], 2, 0, 1, 3, 2, 1, 5, 1);

    s.trx->put_PruneRate(75);
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.width, 2);
    ExpectNode(t.nodes[0], -1, 2, -1, 0, 0, 1, 13, 9.8653736f);
    ExpectNode(t.nodes[1], 2, 0, 1, 3, 1, 0, 7, 5.4547820f);
    ExpectNode(t.nodes[2], 2, 0, 1, 3, 2, 1, 6, 4.4105921f);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 2}));
}

// MinSplit = 0.1 x Known / (MaxClass + 1): with 10 rows and two classes 0.5, so with
// MinItems 0 the one row of class 1 can be split off (gain 0.469 - log2(9)/10 > 0);
// with MinItems 2 it is raised to 2, and the best split left (x <= 8, gain 0.269) does
// not pay for log2(7)/10.
TEST(EngineTrees, MinimumSplitFollowsMinItems) {
    std::vector<std::vector<float>> rows;
    for (int x = 1; x <= 10; ++x) rows.push_back({float(x), x == 10 ? 1.0f : 0.0f});
    Session zero(2);
    zero.trx->put_PruneRate(0);
    zero.trx->put_MinItems(0);
    ASSERT_EQ(Add(zero.trx.Get(), rows), S_OK);
    Tree t = zero.Run();
    ASSERT_EQ(t.nodes.size(), 3u);
    ExpectNode(t.nodes[1], 2, 0, 0, 9, 1, 0, 9, 0);
    ExpectNode(t.nodes[2], 2, 0, 0, 9, 2, 1, 1, 0);

    Session two(2);
    two.trx->put_PruneRate(0);
    ASSERT_EQ(Add(two.trx.Get(), rows), S_OK);
    EXPECT_EQ(two.Run().nodes.size(), 1u);
}

// With 1000 rows MinSplit would be 50 and is held at 25: the 20 rows of class 1 at the
// top cannot be split off alone, the root cuts at 975 (not 950), and the 25 rows above
// split at 980.
TEST(EngineTrees, MinimumSplitIsCappedAt25) {
    Session s(2);
    s.trx->put_PruneRate(0);
    std::vector<std::vector<float>> rows;
    for (int x = 1; x <= 1000; ++x) rows.push_back({float(x), x > 980 ? 1.0f : 0.0f});
    for (size_t first = 0; first < rows.size(); first += 100)
        ASSERT_EQ(Add(s.trx.Get(), std::vector<std::vector<float>>(rows.begin() + long(first),
                                                                   rows.begin() + long(first + 100))),
                  S_OK);
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 5u);
    ExpectNode(t.nodes[1], 2, 0, 0, 975, 1, 0, 975, 0);
    ExpectNode(t.nodes[2], 2, 2, 0, 975, 2, 1, 25, 0);
    ExpectNode(t.nodes[3], 2, 0, 0, 980, 1, 0, 5, 0);
    ExpectNode(t.nodes[4], 2, 0, 0, 980, 2, 1, 20, 0);
}

// Rows arrive in batches of 100 and 50; a pure leaf of 10 rows gets 10 (1 - CF^(1/10))
// = 4.2263975 extra errors at rate 75.
TEST(EngineTrees, BatchesAndTheTenRowLeaf) {
    Session s(2);
    std::vector<std::vector<float>> first, second;
    for (int x = 1; x <= 150; ++x) (x <= 100 ? first : second).push_back({float(x % 20 + 1), x % 20 + 1 > 10 ? 1.0f : 0.0f});
    ASSERT_EQ(Add(s.trx.Get(), first), S_OK);
    ASSERT_EQ(Add(s.trx.Get(), second), S_OK);
    LONG n = 0;
    s.trx->get_RowCount(&n);
    EXPECT_EQ(n, 150);
    Tree t = s.Run();
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_FLOAT_EQ(t.nodes[0].items, 150);
    EXPECT_FLOAT_EQ(t.nodes[1].cut, 10);

    Session ten(2);
    std::vector<std::vector<float>> rows;
    for (int x = 1; x <= 20; ++x) rows.push_back({float(x), x > 10 ? 1.0f : 0.0f});
    ASSERT_EQ(Add(ten.trx.Get(), rows), S_OK);
    t = ten.Run();
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_FLOAT_EQ(t.nodes[1].errors, 4.2263975f);
    EXPECT_FLOAT_EQ(t.nodes[2].errors, 4.2263975f);
    EXPECT_FLOAT_EQ(t.nodes[0].errors, 8.4527950f);
}

namespace {

// Rows of a node by weight: `count` rows of class `cls`, each of weight w.
struct Rows {
    int count, cls;
    float w;
};

// The weight of a node's rows (of one class, cls >= 0) summed in double and stored once.
float Weight(const std::vector<Rows>& rows, int cls = -1) {
    double sum = 0;
    for (const Rows& r : rows)
        if (cls < 0 || r.cls == cls) sum += r.count * double(r.w);
    return float(sum);
}

float Share(float part, float known) { return float(double(part) / known); }

}  // namespace

// Fields A and B (two values each) and three classes. A=2 is class 2; under A=1, B=1 is
// class 0 and B=2 class 1. Four rows lack A, and four rows (two of them among those)
// lack B, so the leaves under A=1 hold rows of weight 1, 2/3, g and 2/3 x g. Summed
// in float row after row, the weights under A=1 come out an ulp or two away from
// their sum: every node's items and errors are the sums of its row weights.
TEST(EngineTrees, FractionalWeightsAreSummedOnceInDouble) {
    std::vector<std::vector<float>> rows;
    auto add = [&](int n, float a, float b, float cls) {
        for (int i = 0; i < n; ++i) rows.push_back({a, b, cls});
    };
    add(8, 1, 1, 0);
    add(4, 1, 2, 1);
    add(2, 1, M, 0);
    add(7, 2, M, 2);
    add(1, M, 1, 0);
    add(1, M, 2, 1);
    add(2, M, M, 0);

    // A=1 gets 14 of the 21 rows that know A; A=2 the other 7.
    const float f1 = Share(14, 21), f2 = Share(7, 21);
    const std::vector<Rows> a1 = {{1, 0, f1}, {1, 1, f1}, {2, 0, f1}, {8, 0, 1}, {4, 1, 1}, {2, 0, 1}};
    const std::vector<Rows> a2 = {{1, 0, f2}, {1, 1, f2}, {2, 0, f2}, {7, 2, 1}};
    const float cases = Weight(a1);
    const float known = cases - Weight({{2, 0, f1}, {2, 0, 1}});
    const float g1 = Share(Weight({{1, 0, f1}, {8, 0, 1}}), known);
    const float g2 = Share(Weight({{1, 1, f1}, {4, 1, 1}}), known);
    const std::vector<Rows> b1 = {{2, 0, f1 * g1}, {2, 0, g1}, {1, 0, f1}, {8, 0, 1}};
    const std::vector<Rows> b2 = {{2, 0, f1 * g2}, {2, 0, g2}, {1, 1, f1}, {4, 1, 1}};
    const float b2Errors = Weight(b2) - Weight(b2, 1);
    const float a2Errors = Weight(a2) - Weight(a2, 2);
    // Pre-order: root, A=1, its B=1 and B=2, then A=2.
    const float items[5] = {25, cases, Weight(b1), Weight(b2), Weight(a2)};
    const float errors[5] = {float(double(b2Errors) + a2Errors), b2Errors, 0, b2Errors, a2Errors};

    // At rate 0 the grown tree; at rate 1 the pruning keeps every node and counts the
    // items again.
    for (float rate : {0.0f, 1.0f}) {
        SCOPED_TRACE(rate);
        Session s(3);
        s.trx->put_PruneRate(rate);
        s.trx->put_FieldType(0, 2);
        s.trx->put_FieldType(1, 2);
        ASSERT_EQ(Add(s.trx.Get(), rows), S_OK);
        Tree t = s.Run();
        ASSERT_EQ(t.nodes.size(), 5u);
        EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 4}));
        EXPECT_EQ(t.nodes[1].children, (std::vector<int>{2, 3}));
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(t.nodes[i].items, items[i]) << "node " << i;
            if (rate == 0) {
                EXPECT_EQ(t.nodes[i].errors, errors[i]) << "node " << i;
            }
        }
    }
}
