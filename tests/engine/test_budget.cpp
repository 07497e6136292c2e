// The build's memory budget inside the engine: the limit and the thread count are the
// test's own, not the host's. Fewer threads give way before a build is refused, the
// tree does not change with them, and every charge is given back.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
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

namespace {

const int16_t kNoCancel = 0;

// Four continuous fields with unknown values, three discrete ones, three classes.
struct Table {
    std::vector<std::vector<uint32_t>> slots;
    GrowInput input;
    explicit Table(int rows) {
        slots.assign(8, std::vector<uint32_t>(size_t(rows)));
        trxtest::Rng rng{11};
        for (int r = 0; r < rows; ++r) {
            double score = 0;
            for (int i = 0; i < 4; ++i) {
                const float x = float(std::round(rng.Uniform() * 1000.0) / 10.0);
                score += i == 0 ? x / 100.0 : 0.0;
                slots[size_t(i)][size_t(r)] = rng.Uniform() < 0.05 ? kMissingBits : std::bit_cast<uint32_t>(x);
            }
            for (int k = 0; k < 3; ++k) slots[size_t(4 + k)][size_t(r)] = uint32_t(1 + rng.Next() % uint64_t(2 + 2 * k));
            const int cls = rng.Uniform() < 0.3 ? int(rng.Next() % 3) : std::min(2, int(score * 1.5));
            slots.back()[size_t(r)] = uint32_t(cls);
        }
        input.slots = &slots;
        input.rowCount = rows;
        input.lastAttr = 6;
        input.attrKind = {0, 0, 0, 0, 2, 2, 2};
        input.valueCount = {0, 0, 0, 0, 2, 4, 6};
        input.maxClass = 2;
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
