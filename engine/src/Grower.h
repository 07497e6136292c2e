// Tree growth over the rows of one engine object.
//
// The rows are held by the object as one column of 4-byte slots per field position;
// a growth reads them through per-row work arrays made here (class codes, discrete
// values). Instead of re-sorting a node's rows for every continuous attribute, each
// node keeps, per continuous attribute, its rows with unknown values first and the
// known ones in ascending order; a split distributes these lists to the branches in
// one stable pass (rows with an unknown value of the tested attribute go to every
// branch), so the order is kept without sorting below the root.
//
// Classes and discrete values are numbered densely over those present in the rows,
// so the work tables follow the data, not the declared counts.
//
// With more than one thread, the large nodes near the root are grown by the calling
// thread with their attributes evaluated in parallel, and every smaller subtree is a
// job of its own. A subtree depends only on its rows, their weights and the tests on
// its path (every branch starts from its node's own weights), so it comes out the
// same whoever grows it; its leaves' progress is recorded and replayed on the calling
// thread in the serial order.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Arena.h"
#include "Budget.h"
#include "Brancher.h"
#include "Pruner.h"
#include "ThreadPool.h"
#include "TreeNode.h"

namespace trx {

struct GrowInput {
    const std::vector<std::vector<uint32_t>>* slots;  // column per field position; class in the last
    int32_t rowCount = 0;
    int lastAttr = 0;                  // attributes are 0..lastAttr
    std::vector<uint8_t> attrKind;     // per attribute
    std::vector<int16_t> valueCount;   // per attribute; 0 = continuous
    int16_t maxClass = 0;
    int32_t minItems = 2;
    Budget* budget = nullptr;  // what the growth's large blocks and its tree are charged to
};

class ProgressSink {
public:
    virtual void Progress(int16_t percent) = 0;

protected:
    ~ProgressSink() = default;
};

class Grower {
public:
    // Growths and prunings of fewer rows stay on one thread.
    static constexpr int32_t kParallelRows = 20000;

    // Makes the work arrays; throws std::bad_alloc (OverBudget past the budget).
    explicit Grower(GrowInput input);
    ~Grower();
    Grower(const Grower&) = delete;
    Grower& operator=(const Grower&) = delete;

    // Grows over all rows with up to `threads` threads. Stops early (returning the
    // partial tree) once *cancel is non-zero after a progress event; no thread is left
    // running on return. Throws std::bad_alloc.
    std::unique_ptr<TreeNode> Grow(ProgressSink* sink, const int16_t* cancel, int threads);
    // The charge for the tree the last Grow returned, for its owner to keep.
    Held TakeTreeCharge() { return std::move(treeHeld_); }
    int32_t RowCount() const { return in_.rowCount; }
    // What a pruning of the grown tree reads of the rows.
    PruneInput ForPruning() const;

    int32_t LargestBranchCount() const { return largestBranch_; }

private:
    struct Entry {
        float value;
        uint32_t id;
    };
    // The lists are stacks: a node's lists are on top of its thread's stacks (its ids
    // and every continuous attribute's entries at the same offset), and its branches'
    // lists take their place, branch 1 on top. So the lists of pending branches never
    // sit below a dead region, and a split needs room for one branch aside only.
    struct Frame {
        size_t off = 0, unkOff = 0;
        uint32_t n = 0;
    };
    // Tables of one continuous evaluation.
    struct Scratch {
        std::vector<float> row0, row1, row2;
        std::vector<double> f1, f2;
        std::vector<uint8_t> dirty1, dirty2;
    };
    struct Task;
    // A node's rows split by its test: per branch the count of its own rows and its
    // lists, and the rows of unknown value, at unknownStack[unknownBase, ...) with their
    // own weights in savedWeight, which go down every branch.
    struct Split {
        const std::vector<uint32_t>& groups;
        const std::vector<Frame>& kids;
        size_t unknownBase;
        uint32_t unknowns;
        float known;  // the weight of the rows of known value
    };
    // Everything a growth changes, one per thread.
    struct Work {
        std::vector<uint8_t> testCount;
        std::vector<float> gain, info, bestCut, unknownRate;
        std::unique_ptr<float[]> weight;      // per row; read only for rows marked weighted
        std::unique_ptr<uint16_t[]> branchOf;  // per row, for the split in hand
        size_t nonUnit = 0;                   // rows whose weight is not exactly 1
        std::vector<std::vector<float>> freq, valueTotal;
        Scratch scratch;
        Arena<uint32_t> ids;
        std::vector<Arena<Entry>> ents;  // per continuous attribute
        Arena<uint32_t> unks;
        Arena<Entry> spill;    // a split's branches that are not written in place
        Arena<uint32_t> idSpill;  // a split node's ids
        Arena<uint32_t> order;    // a job's ids by row
        std::vector<uint32_t> unknownStack;
        std::vector<float> savedWeight;
        std::vector<std::vector<Frame>> kidsAt;
        std::vector<std::vector<uint32_t>> groupsAt;
        std::vector<int> active, live;
        std::vector<float*> tables;
        std::vector<float> classDist;  // of the node in hand
        std::vector<double> classSum;  // its sums, before they are stored
        Held tablesHeld, rowsHeld;
        // Bytes of the nodes this thread made, less those it freed, against what it
        // has charged for them in advance: one charge per chunk, not per node.
        int64_t nodeBytes = 0;
        Held nodesHeld;
        std::vector<uint32_t> pos, upos;
        std::vector<Entry*> dst;
        bool allOne = true;
        int depth = -1;
        int32_t largestBranch = 0;
        bool skeleton = false;           // the calling thread's part of a parallel growth
        std::vector<float>* leaves = nullptr;  // recorded leaf items, when not reporting
    };
    // A leaf's progress, or the subtree of a job, in the serial order of the events.
    struct Step {
        float items;
        int task;  // -1 for a leaf
    };
    struct Pending {  // a node of the skeleton, finished once its jobs are in
        TreeNode* node;
        float leafErrors;
        std::vector<int> grown;  // branches that got rows
    };

    void MakeWork(Work& w, bool rowArrays);
    void CountNode(Work& w, int64_t bytes);
    void Collapse(Work& w, TreeNode& node);
    Brancher BranchesOf(const TreeNode& node) const;
    void SplitRows(Work& w, const Frame& f, const TreeNode& node, int forks, std::vector<uint32_t>& groups);

    uint32_t SortList(const uint32_t* rows, const uint32_t* tags, uint32_t m, int c, Entry* dst, Entry* tmp) const;
    void ListsOfRows(Work& w, uint32_t m);
    void BuildRoot(Work& w);
    std::unique_ptr<TreeNode> GrowNode(Work& w, const Frame& f);
    std::unique_ptr<TreeNode> LeafOfRows(Work& w, const Frame& f, float& bestWeight);
    int ChooseAttribute(Work& w, const Frame& f, float cases);
    int MakeTest(Work& w, TreeNode& node, int a);
    bool GrowBranches(Work& w, TreeNode& node, const Split& split, std::vector<int>& grown, double& errors);
    void ScaleUnknowns(Work& w, const Split& split, const Frame& kid, uint32_t count);
    std::unique_ptr<TreeNode> Leaf(Work& w, int16_t cls, float items, float errors);
    void LeafProgress(Work& w, const TreeNode& node);
    void Report(float items);
    bool Stopped(const Work& w) const;
    void Evaluate(Work& w, const Frame& f, float cases);
    void TallyDiscrete(Work& w, const Frame& f, const int* active, size_t na, std::vector<float*>& tables);
    void EvalDiscrete(Work& w, int attr, float cases);
    void EvalContinuous(Work& w, Scratch& s, int attr, int c, const Frame& f, float cases);
    float FindCut(int c, float midpoint) const;
    void BuildChildren(Work& w, const Frame& f, int forks, const std::vector<uint32_t>& groups, uint32_t unknowns,
                       std::vector<Frame>& kids);
    void SplitLists(Work& w, Work& tw, const Frame& f, int forks, const std::vector<Frame>& kids, int c, bool back,
                    Entry** dst, uint32_t* pos);
    void Release(Work& w, const Frame& f) {
        w.ids.top = f.off;
        for (Arena<Entry>& e : w.ents) e.top = f.off;
        w.unks.top = f.unkOff;
    }
    void Spawn(Work& w, const Frame& f, int kidDepth);
    void RunTask(int thread, Task& t);
    void StartPool(int threads);
    std::unique_ptr<TreeNode> GrowParallel(int threads);
    void FreeLists(Work& w);
    // Bit 31 of a list item marks a row that had an unknown value at some node above:
    // only such rows can weigh other than exactly 1.
    static constexpr uint32_t kWeighted = 0x80000000u;
    static uint32_t RowId(uint32_t item) { return item & ~kWeighted; }
    float RowW(const Work& w, uint32_t item) const {
        return (item & kWeighted) && w.nonUnit ? w.weight[RowId(item)] : 1.0f;
    }
    uint32_t EntryId(const Entry& e) const { return e.id & idMask_; }
    // A row's list item: its id, with its class above when packed, and its mark.
    uint32_t ItemOf(uint32_t item) const {
        const uint32_t id = RowId(item);
        return (packed_ ? (id | (uint32_t(cls_[id]) << classShift_)) : id) | (item & kWeighted);
    }
    int EntryClass(const Entry& e) const {
        return packed_ ? int((e.id & ~kWeighted) >> classShift_) : cls_[e.id & idMask_];
    }
    float EntryW(const Work& w, const Entry& e) const {
        return (e.id & kWeighted) && w.nonUnit ? w.weight[EntryId(e)] : 1.0f;
    }

    GrowInput in_;
    Held held_;        // the per-row arrays
    std::vector<Held> sortedHeld_;  // sortedValues_, per attribute
    Held treeHeld_;
    int nAttr_ = 0, nClass_ = 0, nDisc_ = 0, nCont_ = 0;
    std::vector<int> discIndex_, contIndex_;   // per attribute, -1 when not of that type
    std::vector<int> discAttr_, contAttr_;     // index -> attribute
    std::vector<int16_t> classCode_;           // dense class -> class code
    std::vector<uint16_t> classDense_;         // class code -> dense class
    std::vector<std::vector<uint16_t>> valueCode_;  // per discrete attribute: dense value -> value
    std::vector<int> denseCount_;              // per discrete attribute: values present
    std::vector<uint16_t> cls_;                // dense class per row
    std::vector<uint16_t> dval_;               // rowCount x nDisc dense values, 0 unknown
    std::vector<std::vector<float>> sortedValues_;  // the known values per continuous attribute, each once
    // Entries carry the row's class above the row id when both fit in 32 bits.
    bool packed_ = false;
    uint32_t idMask_ = ~kWeighted;
    int classShift_ = 0;
    bool manyValues_ = false;

    std::vector<std::unique_ptr<Work>> works_;  // [0] the calling thread's
    std::unique_ptr<ThreadPool> pool_;
    std::vector<std::unique_ptr<Task>> tasks_;
    std::vector<Step> steps_;
    std::vector<Pending> pending_;
    uint32_t taskRows_ = 0;  // subtrees of fewer rows are jobs
    std::atomic<bool> abort_{false};
    double covered_ = 0;
    int32_t largestBranch_ = 0;
    const int16_t* cancel_ = nullptr;
    ProgressSink* sink_ = nullptr;
};

}  // namespace trx
