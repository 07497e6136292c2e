// The pessimistic-error pruning of a grown tree, at any confidence, as often as asked.
//
// Most of a pruning does not depend on the rate: the grown tree sorts its rows the same
// way each time. The first pruning of a tree notes, per node, the estimate of its own
// rows and, for a node with a test, its rows in the order the test leaves them; a
// pruning at another rate then works on the nodes alone and walks rows only where a
// branch is judged on all its parent's rows through a subtree that kept a test, or
// takes its parent's place. Each sum is made over the same rows in the same order as
// in the first pruning, so the trees come out the same.
//
// With more than one thread, small subtrees are jobs; large levels of a judgement are
// cut in pieces. Every sum still runs over the same rows in the same order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Arena.h"
#include "Budget.h"
#include "Brancher.h"
#include "ThreadPool.h"
#include "TreeNode.h"

namespace trx {

// What a pruning reads of the rows: the engine's columns, and the classes as the
// growth numbered them.
struct PruneInput {
    const std::vector<std::vector<uint32_t>>* slots = nullptr;  // column per field position
    int32_t rowCount = 0;
    std::vector<int16_t> valueCount;  // per attribute; 0 = continuous
    std::vector<uint16_t> cls;        // dense class per row
    std::vector<int16_t> classCode;   // dense class -> class code
    std::vector<uint16_t> classDense;  // class code -> dense class
    Budget* budget = nullptr;  // what the pruning's large blocks and its tree are charged to
};

class Pruner {
public:
    // Prunings of fewer rows stay on one thread.
    static constexpr int32_t kParallelRows = 20000;

    explicit Pruner(PruneInput input);
    ~Pruner();
    Pruner(const Pruner&) = delete;
    Pruner& operator=(const Pruner&) = delete;

    // The pruning of `grown` (which stays as it is, and must outlive this object or the
    // next call with another tree) at confidence cf, with up to `threads` threads.
    // Throws std::bad_alloc (OverBudget past the budget).
    std::unique_ptr<TreeNode> Prune(const TreeNode& grown, float cf, int threads);
    // The charge for the tree the last Prune returned, for its owner to keep.
    Held TakeTreeCharge() { return std::move(treeHeld_); }
    int32_t RowCount() const { return in_.rowCount; }

private:
    // The rows of one thread: weights, the rows in order, their split by branch, and
    // scratch per level. The items of order and stack are the table's rows or, with
    // `rows`, places in it (a job's rows, a node's noted rows): weights follow the items.
    struct Work {
        Arena<float> weights;
        float* weight = nullptr;  // weights' block
        const uint32_t* rows = nullptr;
        std::vector<uint32_t> jobRows;  // a job's rows, while it runs
        Arena<uint16_t> branchAt;  // the branch of each row of the node being sorted
        size_t nonUnit = 0;  // rows whose weight is not exactly 1
        bool allOne = true;
        std::vector<uint32_t> order, stack;
        int depth = -1;
        std::vector<std::vector<uint32_t>> counts;
        std::vector<std::vector<size_t>> at;
        std::vector<std::vector<float>> saved, results;
        Held rowsHeld, stackHeld;
    };
    struct PruneTask;
    template <class Task>
    class Jobs;
    // Rows judged at a node: those with an unknown value of the test above, their
    // weights times `factor`, then the node's own; ids and weights side by side.
    struct JudgeInput {
        const uint32_t* unknownIds = nullptr;
        const float* unknownWeights = nullptr;
        uint32_t unknowns = 0;
        float factor = 1.0f;
        const uint32_t* ids = nullptr;
        const float* weights = nullptr;  // none: all of weight one
        const uint8_t* codes = nullptr;   // given: a row's weight is weights[codes[i]]
        uint32_t n = 0;
        bool allOne = true;
    };
    struct JudgeLevel;
    struct JudgeScratch;
    struct JudgePass;
    class ScratchLease;
    struct JudgeTask;
    struct PieceTask;
    // What the first pruning of a tree keeps of a node (pre-order index).
    struct Seen {
        uint32_t rows = 0;  // 0: no rows reach it
        int32_t size = 1;   // nodes in its subtree
        float cases = 0, leafErrors = 0;
        int16_t cls = 0;
        int16_t largest = 0;  // the branch judged on all the rows
        bool allOne = true;
        int32_t sorted = -1;  // index in sorted_, for a node with a test
        const TreeNode* grown = nullptr;  // the node in the grown tree
    };
    // The weights of a node's rows are products of a few factors, so few distinct ones:
    // a row's weight is weights[codes[i]] while there are at most 256.
    // A node whose largest branch was grown as a leaf (or that has none) keeps no rows:
    // that branch judged on them, or raised, is a leaf of figures noted here.
    struct Sorted {
        float cases = 0, leafErrors = 0;  // the leaf estimate of the rows in this order
        bool rowsKept = true;
        int16_t raisedCls = 0;  // without rows: the class of the largest branch raised
        std::vector<uint32_t> rows;
        std::vector<float> weights;  // none: all of weight one; else one per row, or per code
        std::vector<uint8_t> codes;
        Held held;
        float Weight(size_t i) const {
            return weights.empty() ? 1.0f : codes.empty() ? weights[i] : weights[codes[i]];
        }
    };
    // A subtree pruned at the rate in hand: its errors and its node, or the grown node
    // that becomes a leaf, made only once a kept node takes it in.
    struct Pruned {
        float errors = 0;
        std::unique_ptr<TreeNode> node;
        const TreeNode* grown = nullptr;
        int32_t seen = 0;
        bool IsLeaf() const { return !node || node->kind == kLeaf; }
    };
    struct ReplayTask;
    // A tested node's rows in Estimate, sorted by its test at stack[base, end): those of
    // unknown value first, then each branch's (counts per group). The unknowns are also at
    // order[first, firstOwn), where each branch's own rows follow them in turn; every
    // branch starts from their own weights, ownWeight.
    struct TestedRows {
        TestedRows(std::vector<uint32_t>& c, std::vector<float>& w) : counts(c), ownWeight(w) {}
        std::vector<uint32_t>& counts;
        std::vector<float>& ownWeight;
        size_t base = 0, end = 0;
        uint32_t unknowns = 0;
        int32_t first = 0, firstOwn = 0;
        float known = 0;  // the weight of the rows of known value
    };
    // A branch judged on its parent's rows comes to the figures of the leaves its rows
    // reach, which do not depend on the rate. They are kept by the branch's shape, so
    // that a later pruning whose branch has the same shape only sums them at its own
    // rate, in the order Judge sums them.
    struct Judged {
        bool test = false;
        bool reached = false;  // a branch: rows reach it
        float cases = 0, leafErrors = 0;  // a leaf
        std::vector<Judged> kids;  // a test: per branch, 1..forks
    };
    struct JudgedShape {
        std::string shape;
        Judged judged;
    };

    std::unique_ptr<TreeNode> PruneTree(const TreeNode& grown, float cf, int threads);
    void StartPool(int threads);
    float W(const Work& w, uint32_t id) const { return w.nonUnit ? w.weight[id] : 1.0f; }
    static uint32_t Row(const Work& w, uint32_t item) { return w.rows ? w.rows[item] : item; }
    static void WeightRoom(Work& w, size_t items) {
        w.weights.Ensure(items);
        w.weight = w.weights.data.get();
    }
    Brancher BranchesOf(const TreeNode& node) const;
    void SizeLevels(Work& w);
    void RowArrays(Work& w);
    void StackRoom(Work& w, size_t need);
    std::unique_ptr<JudgeScratch> NewScratch();
    Work& ThreadWork(int thread);

    // The first pruning.
    int32_t Number(const TreeNode& g, int32_t at);
    float Estimate(Work& m, TreeNode* node, int32_t first, int32_t last, int32_t seen);
    double EstimateAsLeaf(Work& m, TreeNode& node, int32_t first, int32_t last, int32_t seen);
    TestedRows SortByTest(Work& m, const TreeNode& node, int32_t first, int32_t last, int32_t seen);
    int EstimateBranches(Work& m, TreeNode& node, const TestedRows& rows, int32_t seen, bool spawn,
                         Jobs<PruneTask>& jobs, std::vector<PruneTask*>& jobOf);
    PruneTask& AddPruneJob(Jobs<PruneTask>& jobs, const Work& m, TreeNode* branch, int v, int32_t first, int32_t last,
                           int32_t seen);
    double JudgeOnAllRows(Work& m, const TreeNode& branch, int32_t first, int32_t last, int32_t seen, bool spawn);
    void RunPruneTask(int thread, PruneTask& t);
    void SortRows(Work& m, const TreeNode& t, int32_t first, int32_t last, std::vector<uint32_t>& counts,
                  std::vector<size_t>& at);
    void Raise(Work& m, TreeNode* b, int32_t first, int32_t last);
    void Note(Work& m, int32_t seen, int32_t first, int32_t last, float cases, int best, float leafErrors);
    void NoteSorted(Work& m, int32_t seen, size_t from, size_t to);
    void NoteHeld(Sorted& s);
    void KeepRowsFor(int32_t seen, int largest);

    // A branch judged on its parent's rows.
    // With `record`, what the estimate comes to is written there as well.
    float Judge(const TreeNode& node, const JudgeInput& rows, int thread, bool spawn, JudgeScratch& scratch,
                size_t depth, Judged* record = nullptr);
    template <class F>
    static void EachRow(const JudgeInput rows, uint32_t from, uint32_t to, F f);
    double TallyRows(const JudgePass& pass);
    double TallyRowsInPieces(const JudgePass& pass);
    void GroupRows(const JudgePass& pass);
    static float KnownWeights(const JudgePass& pass);
    JudgeInput BranchRows(const JudgePass& pass, int v, float known) const;
    float JudgeBranches(const JudgePass& pass, float known, bool spawn, JudgeScratch& scratch, size_t depth,
                        Judged* record);
    float Sum(const Judged& j) const;
    static void AppendShape(const TreeNode& t, std::string& out);
    bool Reserve(const TreeNode& b);
    float JudgeBranch(const TreeNode& b, const Seen& s, int thread);
    template <class Fill>
    float JudgeAll(const TreeNode& t, uint32_t n, bool allOne, int thread, bool spawn, Fill fill,
                   Judged* record = nullptr);
    void RunJudgeTask(int thread, JudgeTask& t);
    template <class F>
    void RunPieces(int pieces, int thread, F f);

    // A later pruning, from the notes.
    Pruned Replay(Work& m, const TreeNode& g, int32_t seen, int thread);
    void ReplayBranches(Work& m, const TreeNode& g, int32_t seen, int thread, std::vector<Pruned>& kids,
                        std::vector<int32_t>& at);
    void RunReplayTask(int thread, ReplayTask& t);
    std::unique_ptr<TreeNode> Keep(Pruned& p) const;
    std::unique_ptr<TreeNode> KeepTest(const TreeNode& g, const Seen& s, std::vector<Pruned>& kids,
                                       float treeErrors) const;
    void LoadRows(Work& m, const Seen& s) const;

    float ExtraErrors(double n, double e) const;
    // A leaf's estimate: its errors and the extra the rate adds.
    double LeafTotal(float cases, float errors) const { return double(errors) + double(ExtraErrors(cases, errors)); }
    // What a pruning makes of a node from its estimates as a leaf, with its largest
    // branch in its place, and as it is; the first pruning and a later one decide alike.
    enum class Verdict { Leaf, Raise, Keep };
    static Verdict Decide(double leafTotal, double branchErrors, double treeErrors);
    void ApplyVerdict(Work& m, TreeNode& node, Verdict verdict, int largest, int32_t first, int32_t last,
                      double leafTotal, float treeErrors);

    PruneInput in_;
    Held held_;       // the classes per row
    Held notesHeld_;  // seen_ and the places of sorted_ and judged_
    Held treeHeld_;
    int nClass_ = 0;
    Work main_;                                  // the calling thread's
    std::vector<std::unique_ptr<Work>> works_;  // per thread, for jobs
    std::unique_ptr<ThreadPool> pool_;
    uint32_t taskRows_ = 0;  // subtrees of fewer rows are jobs
    const TreeNode* seenTree_ = nullptr;  // the tree seen_ describes
    std::vector<Seen> seen_;
    std::vector<Sorted> sorted_;
    // Per node with a test, as sorted_: its largest branch judged in earlier prunings, by shape; and
    // how many judged nodes all of them hold, within kJudgedBudget.
    std::vector<std::vector<JudgedShape>> judged_;
    std::atomic<size_t> judgedNodes_{0};  // charged to the budget as they are reserved
    void ForgetJudged();
    std::mutex scratchMutex_;
    // Free for Judge; kept from one pruning to the next, whose pages are then in place.
    std::vector<std::unique_ptr<JudgeScratch>> scratch_;
    bool parallel_ = false;  // in a parallel pruning
    float cf_ = 0.25f;
    float coeff_ = 0.0f;
};

}  // namespace trx
