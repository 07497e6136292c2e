// The stored tree's reader against seeded mutations of real blobs: it loads a
// well-formed tree, ignores what is not a tree, or refuses with error 13; it
// never reads past the bytes, loops, or sizes memory by a damaged count.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "CTreeBlob.h"
#include "CTreeError.h"
#include "LargestAllocation.h"

namespace {

// A random well-formed tree in pre-order: each node gets 0, 2 or up to 5 branches.
CTreeModel RandomTree(std::mt19937& rng, int maxNodes) {
    std::vector<TRXNode> nodes;
    std::vector<std::vector<int16_t>> kids;
    std::vector<int> stack;  // nodes whose branches are still to be made
    auto add = [&](int16_t type) {
        TRXNode t;
        t.NodeType = type;
        t.FieldNum = int16_t(rng() % 6);
        t.Cut = float(rng() % 1000) / 10.0f;
        t.DisClass = int16_t(1 + rng() % 5);
        t.Class = int16_t(rng() % 4);
        t.Items = float(rng() % 500);
        t.Errors = t.Items / 4;
        nodes.push_back(t);
        kids.emplace_back();
        return int(nodes.size() - 1);
    };
    std::function<void(int)> grow = [&](int n) {
        const bool leaf = int(nodes.size()) + 5 > maxNodes || rng() % 3 == 0;
        if (leaf) return;
        const int forks = rng() % 2 ? 2 : 2 + int(rng() % 4);
        for (int b = 0; b < forks && int(nodes.size()) < maxNodes; ++b) {
            const int c = add(forks == 2 ? 2 : 1);
            kids[size_t(n)].push_back(int16_t(c));
            nodes[size_t(n)].Forks = int16_t(kids[size_t(n)].size());
            grow(c);
        }
    };
    add(-1);
    grow(0);
    int slots = 1;
    for (const auto& k : kids) slots = std::max(slots, int(k.size()));
    slots += int(rng() % 3);  // the engine's width may exceed the widest node kept
    std::vector<int16_t> children(nodes.size() * size_t(slots), 0);
    for (size_t n = 0; n < kids.size(); ++n)
        for (size_t b = 0; b < kids[n].size(); ++b) children[n * size_t(slots) + b] = kids[n][b];
    CTreeModel tree;
    tree.Assign(std::move(nodes), slots, std::move(children));
    return tree;
}

void Mutate(std::string& b, std::mt19937& rng) {
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 7) {
        case 0:  // flip bits
            if (!b.empty()) b[at] = char(b[at] ^ char(1u << (rng() % 8)));
            break;
        case 1:  // any byte
            if (!b.empty()) b[at] = char(rng());
            break;
        case 2:  // cut short
            b.resize(at);
            break;
        case 3:  // bytes removed from the middle
            b.erase(at, 1 + rng() % 6);
            break;
        case 4:  // bytes added
            b.insert(at, 1 + rng() % 6, char(rng()));
            break;
        case 5: {  // a header count set to an extreme
            const size_t field = 12 + 2 * (rng() % 2);
            const uint16_t v = rng() % 2 ? uint16_t(0x7FFF) : uint16_t(rng());
            if (b.size() >= field + 2) {
                b[field] = char(v & 0xFF);
                b[field + 1] = char(v >> 8);
            }
            break;
        }
        default: {  // a record's 16-bit field (forks, links) set to an extreme
            if (b.size() > 34) {
                const size_t pos = 32 + 2 * (rng() % ((b.size() - 32) / 2));
                const int16_t v = rng() % 2 ? int16_t(-1) : int16_t(rng() % 40);
                b[pos] = char(uint16_t(v) & 0xFF);
                b[pos + 1] = char(uint16_t(v) >> 8);
            }
            break;
        }
        }
    }
}

}  // namespace

TEST(TreeBlobFuzz, MutatedBlobsLoadSoundlyOrAreRefused) {
    std::mt19937 rng(20261209);
    int loaded = 0, refused = 0, ignored = 0;
    for (int round = 0; round < 3000; ++round) {
        const CTreeModel original = RandomTree(rng, 3 + int(rng() % 200));
        std::string blob = CTreeBlob::Pack(original);
        Mutate(blob, rng);
        CTreeModel tree = original;
        gLargest = 0;
        try {
            const CTreeBlob::Result r = CTreeBlob::Unpack(blob, &tree);
            if (r == CTreeBlob::Result::Loaded) {
                ++loaded;
                // What loaded packs to the counts and records read (version,
                // marker and reserved bytes are not kept).
                const std::string again = CTreeBlob::Pack(tree);
                ASSERT_EQ(again.substr(12, 2), blob.substr(12, 2)) << round;
                ASSERT_GE(tree.Slots(), 1);
                ASSERT_EQ(again.substr(32), blob.substr(32)) << round;
                for (int32_t n = 1; n < tree.Nodes(); ++n) {
                    const int16_t p = tree.Parent(n);
                    ASSERT_LT(p, n);
                    ASSERT_EQ(tree.Child(p, tree.ParentSlot(n)), n);
                }
            } else {
                ++ignored;
                ASSERT_TRUE(tree == original) << "a refused blob changed the tree";
            }
        } catch (const CTreeError& e) {
            ++refused;
            ASSERT_EQ(e.Number(), 13) << e.what();
            ASSERT_TRUE(tree == original) << "a refused blob changed the tree";
        }
        // Memory follows the bytes (a narrow child index aside), never the counts they claim.
        ASSERT_LT(gLargest.load(), 64 * blob.size() + (size_t(4) << 20)) << round << ": " << blob.size() << " bytes";
    }
    EXPECT_GT(loaded, 50);
    EXPECT_GT(refused, 500);
    EXPECT_GT(ignored, 5);
}
