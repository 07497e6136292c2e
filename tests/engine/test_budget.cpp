// The build's memory budget inside the engine: the limit and the thread count are the
// test's own, not the host's. Fewer threads give way before a build is refused, the
// tree does not change with them, and every charge is given back.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "BuildBudget.h"
#include "TempDir.h"
#include "TestSupport.h"

using namespace trx;

// The bytes the process holds from new, and their peak since the last Reset: what
// a build's budget stands for.
namespace heap {
std::atomic<int64_t> live{0}, peak{0};
void Reset() { peak.store(live.load()); }
void* Take(size_t n) {
    void* p = std::malloc(n + 16);
    if (!p) throw std::bad_alloc();
    *static_cast<size_t*>(p) = n;
    const int64_t now = live.fetch_add(int64_t(n)) + int64_t(n);
    int64_t was = peak.load();
    while (now > was && !peak.compare_exchange_weak(was, now)) {
    }
    return static_cast<char*>(p) + 16;
}
void Give(void* p) noexcept {
    if (!p) return;
    char* block = static_cast<char*>(p) - 16;
    live.fetch_sub(int64_t(*reinterpret_cast<size_t*>(block)));
    std::free(block);
}
}  // namespace heap

void* operator new(size_t n) { return heap::Take(n); }
void* operator new[](size_t n) { return heap::Take(n); }
void operator delete(void* p) noexcept { heap::Give(p); }
void operator delete[](void* p) noexcept { heap::Give(p); }
void operator delete(void* p, size_t) noexcept { heap::Give(p); }
void operator delete[](void* p, size_t) noexcept { heap::Give(p); }

namespace {

const int16_t kNoCancel = 0;

// `cont` continuous fields with unknown values, `disc` discrete ones of 2, 4, 6 ...
// values (some unknown too), `classes` classes; by default four, three and three.
struct Table {
    std::vector<std::vector<uint32_t>> slots;
    GrowInput input;
    explicit Table(int rows, int cont = 4, int disc = 3, int classes = 3, double missing = 0.05) {
        const int fields = cont + disc + 1;
        slots.assign(size_t(fields), std::vector<uint32_t>(size_t(rows)));
        trxtest::Rng rng{11};
        for (int r = 0; r < rows; ++r) {
            double score = 0;
            for (int i = 0; i < cont; ++i) {
                const float x = float(std::round(rng.Uniform() * 1000.0) / 10.0);
                score += i == 0 ? x / 100.0 : 0.0;
                slots[size_t(i)][size_t(r)] = rng.Uniform() < missing ? kMissingBits : std::bit_cast<uint32_t>(x);
            }
            for (int k = 0; k < disc; ++k) {
                const uint32_t v = uint32_t(1 + rng.Next() % uint64_t(2 + 2 * k));
                slots[size_t(cont + k)][size_t(r)] = k > 2 && rng.Uniform() < missing ? 0u : v;
            }
            const int cls =
                rng.Uniform() < 0.3 ? int(rng.Next() % uint64_t(classes)) : std::min(classes - 1, int(score * classes * 0.5));
            slots.back()[size_t(r)] = uint32_t(cls);
        }
        input.slots = &slots;
        input.rowCount = rows;
        input.lastAttr = int16_t(fields - 2);
        input.attrKind.assign(size_t(cont), 0);
        input.attrKind.insert(input.attrKind.end(), size_t(disc), 2);
        for (int i = 0; i < cont; ++i) input.valueCount.push_back(0);
        for (int k = 0; k < disc; ++k) input.valueCount.push_back(int16_t(2 + 2 * k));
        input.maxClass = int16_t(classes - 1);
    }
};

void ExpectSame(const TreeNode& a, const TreeNode& b) {
    ASSERT_EQ(a.kind, b.kind);
    ASSERT_EQ(a.forks, b.forks);
    EXPECT_EQ(a.cls, b.cls);
    EXPECT_EQ(std::bit_cast<uint32_t>(a.items), std::bit_cast<uint32_t>(b.items));
    EXPECT_EQ(std::bit_cast<uint32_t>(a.errors), std::bit_cast<uint32_t>(b.errors));
    EXPECT_EQ(a.attr, b.attr);
    EXPECT_EQ(std::bit_cast<uint32_t>(a.cut), std::bit_cast<uint32_t>(b.cut));
    ASSERT_EQ(a.branches.size(), b.branches.size());
    for (size_t v = 1; v < a.branches.size(); ++v)
        if (a.branches[v] || b.branches[v]) ExpectSame(*a.branches[v], *b.branches[v]);
}

// A growth and a pruning at rate 75 within `budget`, as the engine runs them; `within`:
// with fewer threads when the budget is passed, else with `threads` only.
std::unique_ptr<TreeNode> Build(const Table& t, Budget& budget, int threads, bool within) {
    GrowInput in = t.input;
    in.budget = &budget;
    Grower grower(in);
    std::unique_ptr<TreeNode> grown =
        within ? GrowWithin(grower, nullptr, &kNoCancel, threads) : grower.Grow(nullptr, &kNoCancel, threads);
    Held grownHeld = grower.TakeTreeCharge();
    PruneInput p = grower.ForPruning();
    p.budget = &budget;
    Pruner pruner(std::move(p));
    const float cf = float(std::pow(-std::log10(0.1 + 0.00899 * 75), 2.5));
    std::unique_ptr<TreeNode> pruned =
        within ? PruneWithin(pruner, *grown, cf, threads) : pruner.Prune(*grown, cf, threads);
    Held prunedHeld = pruner.TakeTreeCharge();
    return pruned;
}

}  // namespace

TEST(EngineBudget, FewerThreadsBeforeTheBuildIsRefused) {
    const Table t(40000);
    Budget unbounded;
    const std::unique_ptr<TreeNode> one = Build(t, unbounded, 1, false);
    const uint64_t oneThread = unbounded.Peak();
    EXPECT_EQ(unbounded.Used(), 0u) << "every charge is given back";
    ASSERT_GT(oneThread, uint64_t(40000) * 8) << "the per-row arrays at least";

    Budget fits(oneThread + (oneThread >> 6));
    EXPECT_THROW(Build(t, fits, 4, false), OverBudget) << "four threads need more than one";
    EXPECT_EQ(fits.Used(), 0u);
    const std::unique_ptr<TreeNode> four = Build(t, fits, 4, true);
    ExpectSame(*four, *one);
    EXPECT_LE(fits.Peak(), fits.Limit());
    EXPECT_EQ(fits.Used(), 0u);

    Budget small(oneThread / 2);
    EXPECT_THROW(Build(t, small, 4, true), OverBudget);
    EXPECT_LE(small.Peak(), small.Limit());
    EXPECT_EQ(small.Used(), 0u);
}

TEST(EngineBudget, MemoryLimitReadings) {
    struct Case {
        const char* text;
        std::optional<uint64_t> bytes;
    };
    const Case cases[] = {
        {"64", 64ull << 20},   {"64MB", 64ull << 20},    {" 64 mb ", 64ull << 20}, {"0", 0},
        {"64GB", std::nullopt}, {"lots", std::nullopt},   {"-5", std::nullopt},      {"1.5", std::nullopt},
        {"", std::nullopt},     {"MB", std::nullopt},     {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildBudget::ParseMegabytes(c.text), c.bytes) << '"' << c.text << '"';

    testsupport::TempDir dir;
    const std::string root = dir.Path().string();
    auto put = [&](const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        std::ofstream(root + path) << text << "\n";
    };
    put("/a/memory.max", "max");
    put("/a/b/memory.max", "1073741824");
    put("/memory/x/memory.limit_in_bytes", "2147483648");
    put("/memory/y/memory.limit_in_bytes", "9223372036854771712");
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "0::/a/b\n"), 1ull << 30);
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "0::/a\n"), UINT64_MAX) << "max: none";
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "0::/elsewhere\n"), UINT64_MAX);
    put("/a/memory.max", "536870912");
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "0::/a/b\n"), 512ull << 20) << "a parent's limit holds too";
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "5:cpu:/\n4:memory,hugetlb:/x\n0::/\n"), 2ull << 30);
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "4:memory:/y\n"), UINT64_MAX) << "v1's no limit";
    put("/memory.max", "268435456");
    EXPECT_EQ(BuildBudget::CgroupLimit(root, "0::/\n"), 256ull << 20) << "the namespace's own root";
}

// What the budget was charged at its peak against the most the build held from new,
// on two shapes with one thread and with four: the estimate is within a quarter of it
// either way. Where the continuous lists are most of it, four threads hold no more
// than a quarter more than one: the threads' jobs are not handed copies of them.
TEST(EngineBudget, EstimateFollowsTheHeldMemory) {
    struct Shape {
        int rows, cont, disc, classes;
        bool listsMost;
    };
    for (const Shape& shape : {Shape{60000, 4, 3, 3, false}, Shape{50000, 8, 6, 6, true}}) {
        const Table t(shape.rows, shape.cont, shape.disc, shape.classes);
        const std::string name = std::to_string(shape.cont) + "+" + std::to_string(shape.disc) + " fields";
        int64_t oneThread = 0;
        for (int threads : {1, 4}) {
            Budget budget;
            heap::Reset();
            const int64_t before = heap::live.load();
            const std::unique_ptr<TreeNode> tree = Build(t, budget, threads, false);
            const int64_t held = heap::peak.load() - before;
            const double ratio = double(budget.Peak()) / double(held);
            EXPECT_GT(ratio, 0.75) << name << ", " << threads << " threads, held " << held;
            EXPECT_LT(ratio, 1.25) << name << ", " << threads << " threads, held " << held;
            if (threads == 1) {
                oneThread = held;
            } else if (shape.listsMost) {
                EXPECT_LT(double(held), 1.25 * double(oneThread)) << name << ": " << held << " against " << oneThread;
            }
        }
    }
}
