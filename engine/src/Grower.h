// Tree growth and pruning over the rows of one engine object.
//
// The rows are held by the object as one column of 4-byte slots per field position;
// a growth reads them through per-row work arrays made here (class codes, discrete
// values, weights). Instead of re-sorting a node's rows for every continuous
// attribute, each node keeps, per continuous attribute, its rows with unknown values
// first and the known ones in ascending order; a split distributes these lists to the
// branches in one stable pass (rows with an unknown value of the tested attribute go
// to every branch), so the order is kept without sorting below the root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "TreeNode.h"

namespace trx {

inline constexpr uint32_t kMissingBits = 0xC479C000u;  // -999.0f

struct GrowInput {
    const std::vector<std::vector<uint32_t>>* slots;  // column per field position; class in the last
    int32_t rowCount = 0;
    int lastAttr = 0;                  // attributes are 0..lastAttr
    std::vector<uint8_t> attrKind;     // per attribute
    std::vector<int16_t> valueCount;   // per attribute; 0 = continuous
    int16_t maxClass = 0;
    int32_t minItems = 2;
};

class ProgressSink {
public:
    virtual void Progress(int16_t percent) = 0;

protected:
    ~ProgressSink() = default;
};

class Grower {
public:
    // Makes the work arrays; throws std::bad_alloc.
    explicit Grower(GrowInput input);
    ~Grower();
    Grower(const Grower&) = delete;
    Grower& operator=(const Grower&) = delete;

    // Grows over all rows. Stops early (returning the partial tree) once *cancel is
    // non-zero after a branch. Throws std::bad_alloc.
    std::unique_ptr<TreeNode> Grow(ProgressSink* sink, const int16_t* cancel);
    // Pessimistic-error pruning of `root` in place at confidence cf.
    void Prune(TreeNode* root, float cf);

    int32_t LargestBranchCount() const { return largestBranch_; }

private:
    struct Entry {
        float value;
        uint32_t id;
    };
    // A node's lists live in one of two arena sets; its branches' lists are built in
    // the other one, after which the node's own are popped. So the lists of pending
    // branches never sit below a dead region, and nothing is moved.
    struct Frame {
        size_t idOff = 0, entOff = 0, unkOff = 0;
        uint32_t n = 0;
        int side = 0;
    };
    template <class T>
    struct Arena {
        std::unique_ptr<T[]> data;
        size_t cap = 0, top = 0;
        void Ensure(size_t need);
        void Free() { data.reset(); cap = top = 0; }
    };

    float W(uint32_t id) const { return nonUnit_ ? weight_[id] : 1.0f; }
    void Scale(const uint32_t* ids, size_t n, float factor, bool multiply);
    uint16_t DiscreteValue(uint32_t id, int attr) const {
        return dval_[size_t(id) * nDisc_ + size_t(discIndex_[attr])];
    }
    uint32_t SlotBits(uint32_t id, int attr) const { return (*in_.slots)[attr][id]; }
    int BranchOf(uint32_t id, const TreeNode& node) const;

    void BuildRoot();
    std::unique_ptr<TreeNode> GrowNode(const Frame& f);
    std::unique_ptr<TreeNode> Leaf(std::vector<float> dist, int16_t cls, float items, float errors);
    void LeafProgress(const TreeNode& node);
    void Evaluate(const Frame& f, float cases);
    void EvalDiscrete(int attr, float cases);
    void EvalContinuous(int attr, int c, const Frame& f, float cases);
    float FindCut(int c, float midpoint) const;
    void BuildChildren(const Frame& f, int forks, const std::vector<uint32_t>& groups, uint32_t unknowns,
                       std::vector<Frame>& kids);
    void Release(const Frame& f) {
        ids_[f.side].top = f.idOff;
        ents_[f.side].top = f.entOff;
        unks_[f.side].top = f.unkOff;
    }
    // Bit 31 of a list item marks a row that had an unknown value at some node above:
    // only such rows can weigh other than exactly 1.
    static constexpr uint32_t kWeighted = 0x80000000u;
    static uint32_t RowId(uint32_t item) { return item & ~kWeighted; }
    float RowW(uint32_t item) const { return (item & kWeighted) && nonUnit_ ? weight_[RowId(item)] : 1.0f; }
    uint32_t EntryId(const Entry& e) const { return e.id & idMask_; }
    int EntryClass(const Entry& e) const {
        return packed_ ? int((e.id & ~kWeighted) >> classShift_) : cls_[e.id & idMask_];
    }
    float EntryW(const Entry& e) const { return (e.id & kWeighted) && nonUnit_ ? weight_[EntryId(e)] : 1.0f; }

    float Estimate(TreeNode* t, int32_t first, int32_t last, bool update);
    float ExtraErrors(double n, double e) const;

    GrowInput in_;
    int nAttr_ = 0, nClass_ = 0, nDisc_ = 0, nCont_ = 0;
    std::vector<int> discIndex_, contIndex_;   // per attribute, -1 when not of that type
    std::vector<int> discAttr_, contAttr_;     // index -> attribute
    std::vector<uint8_t> testCount_;
    std::vector<float> gain_, info_, bestCut_, unknownRate_;
    std::vector<float> weight_;
    std::vector<uint16_t> cls_;
    std::vector<uint16_t> dval_;       // rowCount x nDisc, values outside 0..count read as 0
    std::vector<uint16_t> branchOf_;   // scratch per row for the split in hand
    std::vector<std::vector<float>> sortedValues_;  // all known values per continuous attribute
    std::vector<std::vector<float>> freq_, valueTotal_;
    std::vector<float> row0_, row1_, row2_;
    std::vector<double> f1_, f2_;
    std::vector<uint8_t> dirty1_, dirty2_;
    Arena<uint32_t> ids_[2];
    Arena<Entry> ents_[2];
    Arena<uint32_t> unks_[2];
    // Entries carry the row's class above the row id when both fit in 32 bits.
    bool packed_ = false;
    uint32_t idMask_ = ~kWeighted;
    int classShift_ = 0;
    std::vector<uint32_t> unknownStack_;
    // Scratch reused across nodes (per depth where it must outlive the recursion).
    std::vector<std::vector<Frame>> kidsAt_;
    std::vector<std::vector<uint32_t>> groupsAt_;
    std::vector<int> active_, live_;
    std::vector<float*> tables_;
    std::vector<uint32_t> pos_, upos_;
    std::vector<Entry*> dst_;
    bool allOne_ = true;
    size_t nonUnit_ = 0;   // rows whose weight is not exactly 1
    bool manyValues_ = false;
    int depth_ = -1;
    float covered_ = 0;
    int32_t largestBranch_ = 0;
    const int16_t* cancel_ = nullptr;
    ProgressSink* sink_ = nullptr;
    std::vector<uint32_t> order_;       // row order used by pruning
    std::vector<uint32_t> pruneStack_;  // rows of the nodes being pruned, by branch
    int pruneDepth_ = -1;
    std::vector<std::vector<uint32_t>> pruneCounts_;
    std::vector<std::vector<size_t>> pruneAt_;
    float cf_ = 0.25f;
};

}  // namespace trx
