// The decision tree as the engine returns it: one record per node in the
// engine's pre-order (node 0 the root), the child index and the parent index.
// Every tree the driver holds went through Assign, which refuses a tree whose
// links could send a walk outside the arrays or round in a circle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SAFEARRAY;

// One node; each node carries the test on the edge into it.
struct TRXNode {
    int16_t NodeType = 0;  // -1 root, 1 categorical test, 2 threshold test
    int16_t Forks = 0;     // own branch count, 0 for a leaf
    int16_t FieldNum = 0;  // engine field the parent tests, -1 for the root
    float Cut = 0;         // parent's threshold
    int16_t DisClass = 0;  // 1-based branch number under the parent
    int16_t Class = 0;     // predicted class (class number - 1)
    float Items = 0;       // training weight reaching the node
    float Errors = 0;      // (estimated) errors at the node
};

class CTreeModel {
public:
    static constexpr int kMaxNodes = 32767;  // node numbers are 16-bit

    // Takes a tree; throws CTreeError (13) when it is not a well-formed tree:
    // every child number must lie after its parent and below the node count,
    // and every node but the root must be the child of exactly one node.
    void Assign(std::vector<TRXNode> nodes, int slots, std::vector<int16_t> children);
    // Reads the engine's NodeTree (VARIANT, 0..7 x 0..N-1) and ChildIndex
    // (16-bit, 0..B-1 x 0..N-1) arrays.
    void AssignFromEngine(SAFEARRAY* nodeTree, SAFEARRAY* childIndex);
    // Why a stored node's finite counts are no tree's, as "has ...", or "":
    // items and errors are weights of rows, never below zero, and a node
    // never misclassifies more than reaches it.
    static std::string CountsFault(const TRXNode& t);

    bool Empty() const { return mNodes.empty(); }
    int32_t Nodes() const { return int32_t(mNodes.size()); }
    int Slots() const { return mSlots; }
    // Throw CTreeError (9) for a node outside 0..Nodes-1.
    const TRXNode& Node(int32_t n) const;
    int16_t Child(int32_t n, int slot) const;
    int16_t Parent(int32_t n) const;
    int16_t ParentSlot(int32_t n) const;
    int16_t LeafCount() const;
    // Percentage of the node's training weight its class gets right, at most 99
    // for fewer than 30 items; 0 for a node with no weight.
    float Confidence(int32_t n) const;

    const std::vector<TRXNode>& AllNodes() const { return mNodes; }
    const std::vector<int16_t>& AllChildren() const { return mChildren; }

    bool operator==(const CTreeModel& o) const;

private:
    void BuildParentIndex();

    std::vector<TRXNode> mNodes;
    int mSlots = 0;                  // branch slots per node in mChildren
    std::vector<int16_t> mChildren;  // [n * mSlots + b] = child on branch b + 1
    std::vector<int16_t> mParent;    // [2n] parent, [2n + 1] 0-based slot; 0, 0 for the root
};
