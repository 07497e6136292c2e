// Decision-tree node of the engine and the utilities that copy, count and free trees.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace trx {

// A grown tree splits no node deeper than this.
inline constexpr int kMaxDepth = 30;

// Test kinds of a node's own test.
enum NodeTestKind : int16_t { kLeaf = 0, kDiscreteTest = 1, kThresholdTest = 2 };

struct TreeNode {
    int16_t kind = kLeaf;
    int16_t cls = 0;           // predicted class, 0..MaxClass
    float items = 0;           // weight of rows reaching the node
    float errors = 0;
    int16_t attr = 0;          // tested attribute
    int16_t forks = 0;         // branch count
    float cut = 0;             // threshold
    std::vector<std::unique_ptr<TreeNode>> branches;  // slots 1..forks; slot 0 unused
    TreeNode* parent = nullptr;  // the root refers to itself (a pruned copy: to the grown root)
};

// Deep copy; the copy's children refer to their copied parents, the copied root keeps
// the parent reference of `node`.
std::unique_ptr<TreeNode> CopyTree(const TreeNode& node);
// The node alone: its branches' slots are there, empty.
std::unique_ptr<TreeNode> CopyNode(const TreeNode& node);
// What the nodes of the subtree take, allocator overhead included.
uint64_t TreeBytes(const TreeNode& node);
// What a node with `forks` branches takes, its subtree apart.
inline uint64_t NodeBytes(int forks) {
    return sizeof(TreeNode) + 16 + (forks > 0 ? uint64_t(forks + 1) * sizeof(std::unique_ptr<TreeNode>) + 16 : 0);
}
// 1 for a leaf (kind 0, whatever branches it still holds), else 1 + its branches' counts.
long CountNodes(const TreeNode& node);

}  // namespace trx
