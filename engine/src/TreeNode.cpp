#include "TreeNode.h"

namespace trx {

static void CopyInto(const TreeNode& from, TreeNode& to) {
    to.kind = from.kind;
    to.cls = from.cls;
    to.items = from.items;
    to.errors = from.errors;
    to.attr = from.attr;
    to.forks = from.forks;
    to.cut = from.cut;
    if (from.kind == kLeaf) return;
    to.branches.resize(from.branches.size());
    for (size_t v = 1; v < from.branches.size(); ++v) {
        if (!from.branches[v]) continue;
        auto child = std::make_unique<TreeNode>();
        CopyInto(*from.branches[v], *child);
        child->parent = &to;
        to.branches[v] = std::move(child);
    }
}

std::unique_ptr<TreeNode> CopyNode(const TreeNode& from) {
    auto to = std::make_unique<TreeNode>();
    to->kind = from.kind;
    to->cls = from.cls;
    to->items = from.items;
    to->errors = from.errors;
    to->attr = from.attr;
    to->forks = from.forks;
    to->cut = from.cut;
    if (from.kind != kLeaf) to->branches.resize(from.branches.size());
    to->parent = from.parent;
    return to;
}

std::unique_ptr<TreeNode> CopyTree(const TreeNode& node) {
    auto copy = std::make_unique<TreeNode>();
    CopyInto(node, *copy);
    copy->parent = node.parent;
    return copy;
}

uint64_t TreeBytes(const TreeNode& node) {
    uint64_t bytes = NodeBytes(int(node.branches.size()) - 1);
    for (const auto& b : node.branches)
        if (b) bytes += TreeBytes(*b);
    return bytes;
}

long CountNodes(const TreeNode& node) {
    if (node.kind == kLeaf) return 1;
    long n = 1;
    for (int v = 1; v <= node.forks && v < int(node.branches.size()); ++v)
        if (node.branches[v]) n += CountNodes(*node.branches[v]);
    return n;
}

}  // namespace trx
