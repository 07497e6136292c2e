// Pruning the grown tree again at a new rate gives, field by field, the tree a first
// pruning at that rate gives, with one thread or several, on data with unknown values
// (so fractional weights) and branches raised into their parent's place.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Grower.h"
#include "Pruner.h"
#include "TestSupport.h"

using namespace trx;
using trxtest::Rng;
using trxtest::SettledThreadCount;
using trxtest::ThreadCount;

namespace {

struct Data {
    int rows, cont, disc, classes;
    double missing, noise;
    uint64_t seed;
    int threads, rateStep;
};


// Columns as the engine keeps them: float bits (or the unknown mark) for continuous
// fields, codes 1..n (0 unknown) for discrete ones, the class last.
struct Table {
    std::vector<std::vector<uint32_t>> slots;
    GrowInput input;
};

Table Generate(const Data& d) {
    Table t;
    const int fields = d.cont + d.disc + 1;
    t.slots.assign(size_t(fields), std::vector<uint32_t>(size_t(d.rows)));
    Rng rng{d.seed};
    for (int r = 0; r < d.rows; ++r) {
        double score = 0;
        for (int i = 0; i < d.cont; ++i) {
            const float x = float(std::round(rng.Uniform() * 1000.0) / 10.0);
            if (i == 0) score += x / 100.0;
            if (i == 1) score += x > 60 ? 0.5 : 0.0;
            t.slots[size_t(i)][size_t(r)] = rng.Uniform() < d.missing ? kMissingBits : std::bit_cast<uint32_t>(x);
        }
        for (int k = 0; k < d.disc; ++k) {
            const int v = 1 + int(rng.Next() % uint64_t(2 + k * 2));
            if (k == 0) score += v == 1 ? 0.3 : 0.0;
            t.slots[size_t(d.cont + k)][size_t(r)] = rng.Uniform() < d.missing ? 0u : uint32_t(v);
        }
        int cls = std::min(d.classes - 1, int(score / 2.0 * d.classes));
        if (rng.Uniform() < d.noise) cls = int(rng.Next() % uint64_t(d.classes));
        t.slots.back()[size_t(r)] = uint32_t(cls);
    }
    GrowInput& in = t.input;
    in.slots = &t.slots;
    in.rowCount = d.rows;
    in.lastAttr = fields - 2;
    in.attrKind.assign(size_t(fields - 1), 0);
    in.valueCount.assign(size_t(fields - 1), 0);
    for (int k = 0; k < d.disc; ++k) {
        in.attrKind[size_t(d.cont + k)] = 2;
        in.valueCount[size_t(d.cont + k)] = int16_t(2 + k * 2);
    }
    in.maxClass = int16_t(d.classes - 1);
    in.minItems = 2;
    return t;
}

// A pruner of its own for a tree grown from t.
std::unique_ptr<Pruner> FreshPruner(const Table& t) { return std::make_unique<Pruner>(Grower(t.input).ForPruning()); }

// The confidence the engine prunes with at a prune rate.
float Confidence(int rate) { return float(std::pow(-std::log10(0.1 + 0.00899 * rate), 2.5)); }

bool Same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectSame(const TreeNode& a, const TreeNode& b, const std::string& path) {
    EXPECT_EQ(a.kind, b.kind) << path;
    EXPECT_EQ(a.cls, b.cls) << path;
    EXPECT_TRUE(Same(a.items, b.items)) << path << ": " << a.items << " " << b.items;
    EXPECT_TRUE(Same(a.errors, b.errors)) << path << ": " << a.errors << " " << b.errors;
    EXPECT_EQ(a.attr, b.attr) << path;
    EXPECT_EQ(a.forks, b.forks) << path;
    EXPECT_TRUE(Same(a.cut, b.cut)) << path;
    ASSERT_EQ(a.branches.size(), b.branches.size()) << path;
    for (size_t v = 1; v < a.branches.size(); ++v) {
        ASSERT_TRUE(a.branches[v] && b.branches[v]) << path;
        EXPECT_EQ(a.branches[v]->parent, &a) << path;
        EXPECT_EQ(b.branches[v]->parent, &b) << path;
        ExpectSame(*a.branches[v], *b.branches[v], path + "/" + std::to_string(v));
    }
}

// A node of the pruned tree that tests something else than the grown node in its place
// was raised there.
bool Raised(const TreeNode& pruned, const TreeNode& grown) {
    if (pruned.kind == kLeaf) return false;
    if (pruned.attr != grown.attr || !Same(pruned.cut, grown.cut) || grown.kind == kLeaf) return true;
    for (size_t v = 1; v < pruned.branches.size(); ++v)
        if (Raised(*pruned.branches[v], *grown.branches[v])) return true;
    return false;
}

bool Fractional(const TreeNode& n) {
    if (n.items != std::floor(n.items)) return true;
    for (const auto& b : n.branches)
        if (b && Fractional(*b)) return true;
    return false;
}

void Check(const Data& d) {
    Table t = Generate(d);
    Grower grower(t.input);
    int16_t cancel = 0;
    const std::unique_ptr<TreeNode> grown = grower.Grow(nullptr, &cancel, d.threads);
    const std::unique_ptr<TreeNode> before = CopyTree(*grown);
    ASSERT_TRUE(Fractional(*grown));
    Pruner pruner(grower.ForPruning());
    pruner.Prune(*grown, Confidence(75), d.threads);
    int raised = 0;
    for (int rate = 1; rate <= 100; rate += d.rateStep) {
        SCOPED_TRACE("rate " + std::to_string(rate));
        const std::unique_ptr<TreeNode> again = pruner.Prune(*grown, Confidence(rate), d.threads);
        // A first pruning, on one thread: nothing of the last one is reused.
        const std::unique_ptr<TreeNode> first = FreshPruner(t)->Prune(*grown, Confidence(rate), 1);
        ExpectSame(*again, *first, "root");
        EXPECT_EQ(again->parent, grown->parent);
        raised += Raised(*first, *grown);
    }
    EXPECT_GT(raised, 0);
    ExpectSame(*grown, *before, "grown");
}

}  // namespace

TEST(EnginePrune, AgainAtEveryRateAsAtFirst) {
    Check({6000, 8, 3, 4, 0.03, 0.10, 6, 1, 1});
}

TEST(EnginePrune, ManyBranchesAndUnknowns) {
    Check({4000, 6, 5, 5, 0.15, 0.10, 7, 1, 1});
}

// Large enough for branches judged in pieces and subtrees pruned by jobs.
TEST(EnginePrune, SeveralThreadsAsOne) {
    Check({70000, 8, 3, 4, 0.02, 0.10, 3, 4, 9});
}

// Two engines pruning at once, each at rates of its own: neither sees what the other
// works out for its rate.
TEST(EnginePrune, TwoEnginesAtOnce) {
    const Table t = Generate({3000, 4, 2, 3, 0.03, 0.10, 11, 1, 1});
    Grower grower(t.input);
    int16_t cancel = 0;
    const std::unique_ptr<TreeNode> grown = grower.Grow(nullptr, &cancel, 1);
    const int rates[2][4] = {{5, 90, 20, 60}, {95, 10, 75, 40}};
    std::vector<std::unique_ptr<TreeNode>> alone[2];
    for (int e = 0; e < 2; ++e)
        for (int rate : rates[e]) alone[e].push_back(FreshPruner(t)->Prune(*grown, Confidence(rate), 1));
    std::vector<std::unique_ptr<TreeNode>> together[2];
    std::atomic<int> ready{0};
    auto run = [&](int e) {
        Pruner pruner(grower.ForPruning());
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        for (int round = 0; round < 25; ++round)
            for (int rate : rates[e]) {
                std::unique_ptr<TreeNode> p = pruner.Prune(*grown, Confidence(rate), 1);
                if (round == 24) together[e].push_back(std::move(p));
            }
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    for (int e = 0; e < 2; ++e)
        for (size_t k = 0; k < alone[e].size(); ++k) {
            SCOPED_TRACE("engine " + std::to_string(e) + " rate " + std::to_string(rates[e][k]));
            ExpectSame(*together[e][k], *alone[e][k], "root");
        }
}

namespace {

// operator new fails once this count of calls reaches zero; below zero it never does.
std::atomic<long> gFailIn{-1};

// Prunes with the allocation number `failAt` failing; true when it failed.
bool PruneFailing(Pruner& g, const TreeNode& grown, int rate, long failAt, const TreeNode& expected) {
    gFailIn = failAt;
    try {
        const std::unique_ptr<TreeNode> p = g.Prune(grown, Confidence(rate), 8);
        gFailIn = -1;
        ExpectSame(*p, expected, "root");
        return false;
    } catch (const std::bad_alloc&) {
        gFailIn = -1;
        return true;
    }
}

}  // namespace

// Not inlined, so that the compiler sees no free() of what a new expression returned.
[[gnu::noinline]] void* operator new(size_t n) {
    if (gFailIn.load(std::memory_order_relaxed) >= 0 && gFailIn.fetch_sub(1) == 0) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

// Memory running out anywhere in a pruning, with jobs under way on several threads:
// it fails with std::bad_alloc once they are all done, and the next one is right.
TEST(EnginePrune, RunningOutOfMemoryAnywhere) {
    Table t = Generate({24000, 3, 1, 3, 0.05, 0.03, 4, 8, 1});
    int16_t cancel = 0;
    Grower grower(t.input);
    const std::unique_ptr<TreeNode> grown = grower.Grow(nullptr, &cancel, 8);
    Pruner pruner(grower.ForPruning());
    const std::unique_ptr<TreeNode> at75 = FreshPruner(t)->Prune(*grown, Confidence(75), 1);
    const std::unique_ptr<TreeNode> at30 = FreshPruner(t)->Prune(*grown, Confidence(30), 1);
    const int before = ThreadCount();
    // The first pruning of a tree, then one again at another rate.
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "again" : "first");
        const int rate = again ? 30 : 75;
        const TreeNode& expected = again ? *at30 : *at75;
        if (again) pruner.Prune(*grown, Confidence(75), 8);
        gFailIn = 1l << 40;
        if (again) pruner.Prune(*grown, Confidence(rate), 8);
        else FreshPruner(t)->Prune(*grown, Confidence(rate), 8);
        const long calls = (1l << 40) - gFailIn.exchange(-1);
        int failed = 0;
        for (long at = 0; at < calls; at += 3) {
            SCOPED_TRACE("allocation " + std::to_string(at) + " of " + std::to_string(calls));
            const std::unique_ptr<Pruner> fresh = FreshPruner(t);
            Pruner& g = again ? pruner : *fresh;
            failed += PruneFailing(g, *grown, rate, at, expected);
            EXPECT_EQ(SettledThreadCount(before), before);
            EXPECT_FALSE(PruneFailing(g, *grown, rate, -1, expected));
        }
        EXPECT_GT(failed, 0);
    }
}
