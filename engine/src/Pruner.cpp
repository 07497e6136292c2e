#include "Pruner.h"

#include "RowWeights.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace trx {
namespace {

// Normal deviates for the confidence coefficient of the error estimate.
constexpr float kConf[9] = {0.0f, 0.001f, 0.005f, 0.01f, 0.05f, 0.10f, 0.20f, 0.40f, 1.00f};
constexpr float kDev[9] = {4.0f, 3.09f, 2.58f, 2.33f, 1.65f, 1.28f, 0.84f, 0.25f, 0.0f};

// Worked out on every pruning, which needs it once: a cache shared by the module would
// be shared by engines pruning on other threads.
float Coefficient(float cf) {
    int i = 1;
    while (i < 8 && kConf[i] < cf) ++i;
    const double dev = double(kDev[i - 1]) + (double(kDev[i]) - kDev[i - 1]) * (double(cf) - kConf[i - 1]) /
                                                 (double(kConf[i]) - kConf[i - 1]);
    return float(dev * dev);
}

size_t Tests(const TreeNode& t) {
    if (t.kind == kLeaf) return 0;
    size_t n = 1;
    for (int v = 1; v <= t.forks && v < int(t.branches.size()); ++v)
        if (t.branches[size_t(v)]) n += Tests(*t.branches[size_t(v)]);
    return n;
}

// Freed memory that the allocator keeps back goes to the system.
void ReleaseFreePages() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace

// Prunings of fewer rows stay on one thread; subtrees of fewer rows than taskRows_
// are jobs, and none of fewer than kMinTaskRows.
constexpr uint32_t kMinTaskRows = 4096;
constexpr uint32_t kTasksPerThread = 8;
constexpr uint32_t kPieceRows = 32768;  // a level of Judge with twice as many rows is cut in pieces
constexpr uint32_t kExactCount = 1u << 24;  // a float sum of up to this many ones is their count
constexpr size_t kJudgedBudget = 1u << 18;  // judged nodes kept for later prunings (about 10 MB)

constexpr size_t kJudgedNodeBytes = 80;  // a judged node kept, and its part of the shape

Pruner::Pruner(PruneInput input) : in_(std::move(input)) {
    nClass_ = int(in_.classCode.size());
    held_.Use(in_.budget);
    held_.Set(in_.cls.capacity() * sizeof(uint16_t));
    notesHeld_.Use(in_.budget);
    treeHeld_.Use(in_.budget);
}

Pruner::~Pruner() {
    pool_.reset();
    ForgetJudged();
}

void Pruner::ForgetJudged() {
    judged_.clear();
    if (in_.budget) in_.budget->Release(judgedNodes_.exchange(0) * kJudgedNodeBytes);
    else judgedNodes_ = 0;
}

// The arrays a thread's rows need, charged before they are made.
void Pruner::RowArrays(Work& w) {
    if (w.stackHeld.Of() == in_.budget) return;
    w.rowsHeld.Use(in_.budget);
    w.stackHeld.Use(in_.budget);
    w.branchAt.held.Use(in_.budget);
    w.weights.held.Use(in_.budget);
}

// The rows stack of w holds `need` items; it grows as a vector does, charged first.
void Pruner::StackRoom(Work& w, size_t need) {
    std::vector<uint32_t>& stack = w.stack;
    if (need <= stack.capacity()) return;
    const size_t room = std::max(need, 2 * stack.capacity());
    w.stackHeld.Set(uint64_t(room + stack.capacity()) * sizeof(uint32_t));  // both while copying
    stack.reserve(room);
    w.stackHeld.Set(uint64_t(room) * sizeof(uint32_t));
}


// Without threads to be had, the work is done on the calling thread alone.
void Pruner::StartPool(int threads) {
    try {
        pool_ = std::make_unique<ThreadPool>(threads);
    } catch (const std::system_error&) {
        pool_.reset();
    }
}

// A tested discrete attribute reads its codes from the engine's column.
Brancher Pruner::BranchesOf(const TreeNode& node) const {
    Brancher b;
    b.threshold = node.kind == kThresholdTest;
    b.col = (*in_.slots)[size_t(node.attr)].data();
    b.cut = node.cut;
    if (!b.threshold) b.count = in_.valueCount[size_t(node.attr)];
    return b;
}

Pruner::Verdict Pruner::Decide(double leafTotal, double branchErrors, double treeErrors) {
    if (leafTotal <= branchErrors + 0.1 && leafTotal <= treeErrors + 0.1) return Verdict::Leaf;
    if (branchErrors <= treeErrors + 0.1) return Verdict::Raise;
    return Verdict::Keep;
}

float Pruner::ExtraErrors(double n, double e) const {
    if (n <= 0) return 0.0f;
    if (e < 1e-6) return float(n * (1 - std::pow(double(cf_), 1 / n)));
    if (e < 0.9999) {
        double v = n * (1 - std::pow(double(cf_), 1 / n));
        return float(v + e * (double(ExtraErrors(n, 1.0)) - v));
    }
    if (e + 0.5 >= n) return float(0.67 * (n - e));
    const double coeff = coeff_;
    double pr = (e + 0.5 + coeff / 2 + std::sqrt(coeff * ((e + 0.5) * (1 - (e + 0.5) / n) + coeff / 4))) / (n + coeff);
    return float(n * pr - e);
}

// Jobs handed out by one frame of a pruning. The frame waits for all of them before it
// is left, however it is left, so that no job outlives the nodes and rows it reads.
template <class Task>
class Pruner::Jobs {
public:
    Jobs(ThreadPool* pool, int thread) : pool_(pool), thread_(thread) {}
    ~Jobs() { Wait(); }
    Jobs(const Jobs&) = delete;
    Jobs& operator=(const Jobs&) = delete;

    template <class Run>
    Task& Add(std::unique_ptr<Task> task, Run run) {
        Task* raw = task.get();
        tasks_.push_back(std::move(task));
        try {
            pool_->Submit([raw, run](int thread) {
                try {
                    run(thread, *raw);
                } catch (const std::bad_alloc&) {
                    raw->failed = true;
                }
                raw->done.store(true, std::memory_order_release);
            });
        } catch (...) {
            tasks_.pop_back();  // never to be waited for
            throw;
        }
        return *raw;
    }
    // Waits for task `only`, or for all; throws std::bad_alloc when one waited for failed.
    void Wait(const Task* only = nullptr) {
        if (tasks_.empty()) return;
        pool_->WaitFor(
            [&] {
                for (const auto& t : tasks_)
                    if ((!only || t.get() == only) && !t->done.load(std::memory_order_acquire)) return false;
                return true;
            },
            thread_, true);
    }
    // Every task, once waited for; throws std::bad_alloc when one failed.
    template <class F>
    void ForEach(F f) {
        for (auto& t : tasks_) {
            if (t->failed) throw std::bad_alloc();
            f(*t);
        }
    }

private:
    ThreadPool* pool_;
    int thread_;
    std::vector<std::unique_ptr<Task>> tasks_;
};

// A subtree's estimate made by a job: its rows in order with their weights, and the
// flag of its path.
struct Pruner::PruneTask {
    TreeNode* node = nullptr;
    int branch = 0;
    bool allOne = true;
    int32_t seen = -1;
    std::vector<uint32_t> rows;
    std::vector<float> weights;
    Held held;  // rows and weights
    float result = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// A branch judged by a job; its rows stay with the frame that waits for it.
struct Pruner::JudgeTask {
    const TreeNode* node = nullptr;
    int branch = 0;
    JudgeInput rows;
    Judged* record = nullptr;
    float result = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// A piece of a level of Judge.
struct Pruner::PieceTask {
    int piece = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// f(p) for p in 0..pieces-1, p = 0 on this thread, the others as jobs.
template <class F>
void Pruner::RunPieces(int pieces, int thread, F f) {
    Jobs<PieceTask> jobs(pool_.get(), thread);
    for (int p = 1; p < pieces; ++p) {
        auto task = std::make_unique<PieceTask>();
        task->piece = p;
        jobs.Add(std::move(task), [&f](int, PieceTask& t) { f(t.piece); });
    }
    f(0);
    jobs.Wait();
    jobs.ForEach([](PieceTask&) {});
}

// A subtree pruned again by a job.
struct Pruner::ReplayTask {
    const TreeNode* grown = nullptr;
    int branch = 0;
    int32_t seen = 0;
    Pruned result;
    bool failed = false;
    std::atomic<bool> done{false};
};

// Scratch of one level of Judge.
struct Pruner::JudgeLevel {
    std::vector<double> classSum;
    std::vector<float> known, results;
    std::vector<uint32_t> counts, at, pieceCounts, pieceClasses;
    Arena<uint16_t> branch, cls;
    Arena<uint32_t> ids;  // the rows sorted by branch: unknown values first, then each branch's
    Arena<float> weights;
};

// Scratch of a Judge from the top: the rows it starts with, and every level's.
struct Pruner::JudgeScratch {
    Arena<uint32_t> ids;
    Arena<float> weights;
    std::vector<JudgeLevel> levels = std::vector<JudgeLevel>(kMaxDepth + 4);
};

std::unique_ptr<Pruner::JudgeScratch> Pruner::NewScratch() {
    auto s = std::make_unique<JudgeScratch>();
    s->ids.held.Use(in_.budget);
    s->weights.held.Use(in_.budget);
    for (JudgeLevel& l : s->levels) {
        l.branch.held.Use(in_.budget);
        l.cls.held.Use(in_.budget);
        l.ids.held.Use(in_.budget);
        l.weights.held.Use(in_.budget);
    }
    return s;
}

// One JudgeScratch from the free ones, given back when done with: the smallest that
// has room for `rows` already, else the largest, so that few of them grow large.
class Pruner::ScratchLease {
public:
    ScratchLease(Pruner& g, uint32_t rows) : g_(g) {
        {
            std::lock_guard<std::mutex> lock(g.scratchMutex_);
            auto& free = g.scratch_;
            auto room = [&](size_t i) { return free[i]->levels[0].ids.cap; };
            size_t pick = free.size();
            for (size_t i = 0; i < free.size(); ++i) {
                if (pick == free.size()) pick = i;
                else if (room(i) >= rows ? room(pick) < rows || room(i) < room(pick) : room(pick) < room(i)) pick = i;
            }
            if (pick < free.size()) {
                s_ = std::move(free[pick]);
                free.erase(free.begin() + long(pick));
            }
        }
        if (!s_) s_ = g.NewScratch();
    }
    ~ScratchLease() {
        std::lock_guard<std::mutex> lock(g_.scratchMutex_);
        try {
            g_.scratch_.push_back(std::move(s_));
        } catch (const std::bad_alloc&) {  // dropped
        }
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;
    JudgeScratch& operator*() { return *s_; }

private:
    Pruner& g_;
    std::unique_ptr<JudgeScratch> s_;
};

std::unique_ptr<TreeNode> Pruner::Prune(const TreeNode& grown, float cf, int threads) {
    try {
        return PruneTree(grown, cf, threads);
    } catch (...) {
        treeHeld_.Drop();  // the tree is gone
        throw;
    }
}

std::unique_ptr<TreeNode> Pruner::PruneTree(const TreeNode& grown, float cf, int threads) {
    cf_ = cf;
    coeff_ = Coefficient(cf);
    Work& m = main_;
    RowArrays(m);
    SizeLevels(m);
    m.stack.clear();
    m.rows = nullptr;
    m.rowsHeld.Set(uint64_t(in_.rowCount) * sizeof(uint32_t));  // order
    m.order.resize(size_t(in_.rowCount));
    std::unique_ptr<TreeNode> root;  // outlives the pool
    struct Cleanup {
        Pruner* p;
        ~Cleanup() {
            p->pool_.reset();
            p->works_.clear();
        }
    } cleanup{this};
    if (threads > 1 && in_.rowCount >= kParallelRows) StartPool(threads);
    if (pool_) {
        works_.resize(size_t(threads));
        for (auto& pw : works_) pw = std::make_unique<Work>();
        taskRows_ = std::max<uint32_t>(kMinTaskRows, uint32_t(in_.rowCount) / (uint32_t(threads) * kTasksPerThread));
    }
    // The pruned tree is no larger than the grown one; charged as that until it is made.
    treeHeld_.Set(TreeBytes(grown));
    if (seenTree_ == &grown) {
        Pruned p = Replay(m, grown, 0, 0);
        root = Keep(p);
        root->parent = grown.parent;
        treeHeld_.Set(TreeBytes(*root));
        return root;
    }

    // The first pruning of this tree walks all the rows and notes what the next ones reuse.
    // The growth's lists were freed by other threads too: their pages go back first.
    ReleaseFreePages();
    seenTree_ = nullptr;
    seen_.clear();
    sorted_.clear();
    ForgetJudged();
    const size_t nodes = size_t(CountNodes(grown));
    const size_t tests = Tests(grown);
    notesHeld_.Set(nodes * sizeof(Seen) + tests * (sizeof(Sorted) + sizeof(std::vector<JudgedShape>)));
    seen_.resize(nodes);
    sorted_.reserve(tests);
    Number(grown, 0);
    judged_.resize(sorted_.size());
    m.rows = nullptr;
    WeightRoom(m, size_t(in_.rowCount));
    std::fill(m.weight, m.weight + in_.rowCount, 1.0f);
    m.nonUnit = 0;
    m.allOne = true;
    for (size_t i = 0; i < m.order.size(); ++i) m.order[i] = uint32_t(i);
    // The pruned tree is copied from the grown one as the pruning reaches its nodes, so
    // that a subtree is pruned before the next is copied.
    root = CopyNode(grown);
    Estimate(m, root.get(), 0, in_.rowCount - 1, 0);
    seenTree_ = &grown;
    treeHeld_.Set(TreeBytes(*root));
    ReleaseFreePages();
    return root;
}

// Pre-order indexes of the nodes under g (g at `at`), as CountNodes counts them; a node
// with a test gets a place in sorted_. Returns the subtree's size.
int32_t Pruner::Number(const TreeNode& g, int32_t at) {
    int32_t size = 1;
    if (g.kind != kLeaf) {
        seen_[size_t(at)].sorted = int32_t(sorted_.size());
        sorted_.emplace_back();
        for (int v = 1; v <= g.forks && v < int(g.branches.size()); ++v)
            if (g.branches[size_t(v)]) size += Number(*g.branches[size_t(v)], at + size);
    }
    seen_[size_t(at)].size = size;
    seen_[size_t(at)].grown = &g;
    return size;
}

// Sized once, so that a level's scratch stays in place under deeper levels: the
// recursion goes one level deeper than the tree, whose depth is at most kMaxDepth.
void Pruner::SizeLevels(Work& w) {
    w.depth = -1;
    w.counts.resize(kMaxDepth + 4);
    w.at.resize(kMaxDepth + 4);
    w.saved.resize(kMaxDepth + 4);
    w.results.resize(kMaxDepth + 4);
}

Pruner::Work& Pruner::ThreadWork(int thread) {
    Work& w = *works_[size_t(thread)];
    RowArrays(w);
    SizeLevels(w);
    w.stack.clear();
    w.rows = nullptr;
    return w;
}

void Pruner::RunPruneTask(int thread, PruneTask& t) {
    Work& w = ThreadWork(thread);
    // The job's rows by place: its weights take as much room as its rows, not the table's.
    w.jobRows.swap(t.rows);
    const size_t n = w.jobRows.size();
    w.rows = w.jobRows.data();
    w.rowsHeld.Set(uint64_t(n) * sizeof(uint32_t));
    w.order.resize(n);
    WeightRoom(w, n);
    w.nonUnit = 0;
    for (size_t i = 0; i < n; ++i) {
        w.order[i] = uint32_t(i);
        w.weight[i] = t.weights[i];
        if (t.weights[i] != 1.0f) ++w.nonUnit;
    }
    std::vector<float>().swap(t.weights);
    w.allOne = t.allOne;
    t.result = Estimate(w, t.node, 0, int32_t(n) - 1, t.seen);
    w.rows = nullptr;
}

// The estimate of a node's own rows, as the first pruning made it.
void Pruner::Note(Work& m, int32_t seen, int32_t first, int32_t last, float cases, int best, float leafErrors) {
    Seen& s = seen_[size_t(seen)];
    s.rows = uint32_t(last - first + 1);
    s.cases = cases;
    s.leafErrors = leafErrors;
    s.cls = in_.classCode[size_t(best)];
    s.allOne = m.allOne;
}

// What a note holds.
void Pruner::NoteHeld(Sorted& s) {
    s.held.Set(uint64_t(s.rows.capacity()) * sizeof(uint32_t) + s.codes.capacity() +
               uint64_t(s.weights.capacity()) * sizeof(float));
}

// The note of node `seen`, whose largest branch is `largest` (0: none): its rows go when
// no later pruning can read them, as that branch was grown as a leaf.
void Pruner::KeepRowsFor(int32_t seen, int largest) {
    const Seen& n = seen_[size_t(seen)];
    Sorted& s = sorted_[size_t(n.sorted)];
    if (largest) {
        const std::unique_ptr<TreeNode>& b = n.grown->branches[size_t(largest)];
        if (!b || b->kind != kLeaf) return;
        // The class that branch takes raised on these rows, as EstimateAsLeaf finds it:
        // the heaviest, ties to the branch's own.
        int32_t at = seen + 1;
        for (int v = 1; v < largest; ++v) at += seen_[size_t(at)].size;
        std::vector<double> classSum(size_t(nClass_), 0.0);
        for (size_t i = 0; i < s.rows.size(); ++i) classSum[in_.cls[s.rows[i]]] += s.Weight(i);
        int best = in_.classDense[size_t(seen_[size_t(at)].cls)];
        for (int c = 0; c < nClass_; ++c)
            if (float(classSum[size_t(c)]) > float(classSum[size_t(best)])) best = c;
        s.raisedCls = in_.classCode[size_t(best)];
    }
    std::vector<uint32_t>().swap(s.rows);
    std::vector<uint8_t>().swap(s.codes);
    std::vector<float>().swap(s.weights);
    s.rowsKept = false;
    NoteHeld(s);
}

// A tested node's rows as its test sorted them (stack[from, to)), with the leaf
// estimate of them in this order: what judging its largest branch on all of them
// finds when that branch is a leaf.
void Pruner::NoteSorted(Work& m, int32_t seen, size_t from, size_t to) {
    Sorted& s = sorted_[size_t(seen_[size_t(seen)].sorted)];
    const std::vector<uint32_t>& stack = m.stack;
    s.held.Use(in_.budget);
    s.held.Set(uint64_t(to - from) * (sizeof(uint32_t) + sizeof(uint8_t)) + 256 * sizeof(float));
    s.rows.resize(to - from);
    for (size_t i = from; i < to; ++i) s.rows[i - from] = Row(m, stack[i]);
    s.weights.clear();
    std::vector<double> classSum(size_t(nClass_), 0.0);
    double total = 0;
    bool ones = true;
    for (size_t i = from; i < to; ++i) {
        const float x = W(m, stack[i]);
        total += x;
        classSum[in_.cls[Row(m, stack[i])]] += x;
        ones = ones && x == 1.0f;
    }
    s.codes.clear();
    if (!ones) {
        // Distinct weights by their bits, in a small open table.
        uint32_t slots[512];
        int16_t code[512];
        std::fill(code, code + 512, int16_t(-1));
        s.codes.resize(to - from);
        for (size_t i = from; i < to && !s.codes.empty(); ++i) {
            const float x = W(m, stack[i]);
            const uint32_t bits = std::bit_cast<uint32_t>(x);
            size_t h = (bits * 0x9E3779B1u) >> 23;
            while (code[h] >= 0 && slots[h] != bits) h = (h + 1) & 511;
            if (code[h] < 0) {
                if (s.weights.size() == 256) {
                    s.codes.clear();
                    break;
                }
                slots[h] = bits;
                code[h] = int16_t(s.weights.size());
                s.weights.push_back(x);
            }
            s.codes[i - from] = uint8_t(code[h]);
        }
        if (s.codes.empty()) {
            s.held.Set(uint64_t(to - from) * (sizeof(uint32_t) + sizeof(uint8_t) + sizeof(float)));
            s.weights.resize(to - from);
            for (size_t i = from; i < to; ++i) s.weights[i - from] = W(m, stack[i]);
        }
        s.weights.shrink_to_fit();
    }
    NoteHeld(s);
    s.cases = m.allOne ? float(to - from) : float(total);
    s.leafErrors = s.cases - float(*std::max_element(classSum.begin(), classSum.end()));
    s.rowsKept = true;
}

// A node's noted rows with their weights, at the start of m's lists.
void Pruner::LoadRows(Work& m, const Seen& s) const {
    const Sorted& sorted = sorted_[size_t(s.sorted)];
    const size_t n = sorted.rows.size();
    if (m.order.size() < n) m.order.resize(n);
    WeightRoom(m, n);
    m.rows = sorted.rows.data();
    m.nonUnit = 0;
    for (size_t i = 0; i < n; ++i) {
        const float x = sorted.Weight(i);
        m.order[i] = uint32_t(i);
        m.weight[i] = x;
        if (x != 1.0f) ++m.nonUnit;
    }
    m.allOne = s.allOne;
    m.stack.clear();
}

// Sorts the rows order[first, last] by t's test, as Estimate leaves them: the rows with
// an unknown value first, then each branch's, each group in the order it had. The
// sorted rows are at stack[base, ...), counts per branch in `counts`.
void Pruner::SortRows(Work& m, const TreeNode& t, int32_t first, int32_t last, std::vector<uint32_t>& counts,
                      std::vector<size_t>& at) {
    std::vector<uint32_t>& stack = m.stack;
    const size_t base = stack.size();
    const int forks = t.forks;
    counts.assign(size_t(forks) + 1, 0);
    StackRoom(m, base + size_t(last - first + 1));
    const Brancher branch = BranchesOf(t);
    m.branchAt.Ensure(size_t(last - first + 1));
    uint16_t* const branchAt = m.branchAt.data.get();
    for (int32_t i = first; i <= last; ++i) {
        const int b = branch(Row(m, m.order[size_t(i)]));
        branchAt[i - first] = uint16_t(b);
        ++counts[size_t(b)];
    }
    at.assign(size_t(forks) + 1, 0);
    size_t sum = base;
    for (int v = 0; v <= forks; ++v) {
        at[size_t(v)] = sum;
        sum += counts[size_t(v)];
    }
    stack.resize(sum);
    for (int32_t i = first; i <= last; ++i) stack[at[branchAt[i - first]]++] = m.order[size_t(i)];
}

// Raises branch b into its parent's place: b is estimated again, and pruned, on all the
// parent's rows (order[first, last]). Judging b on them left the rows sorted by b's
// test, when it has one; they are summed in that order.
void Pruner::Raise(Work& m, TreeNode* b, int32_t first, int32_t last) {
    if (b->kind != kLeaf) {
        const size_t base = m.stack.size();
        ++m.depth;
        SortRows(m, *b, first, last, m.counts[size_t(m.depth)], m.at[size_t(m.depth)]);
        --m.depth;
        std::copy(m.stack.begin() + long(base), m.stack.end(), m.order.begin() + first);
        m.stack.resize(base);
    }
    Estimate(m, b, first, last, -1);
}

void Pruner::RunJudgeTask(int thread, JudgeTask& t) {
    ScratchLease s(*this, t.rows.unknowns + t.rows.n);
    t.result = Judge(*t.node, t.rows, thread, true, *s, 0, t.record);
}

// Judges t on n rows that fill(ids, weights) writes, in order.
template <class Fill>
float Pruner::JudgeAll(const TreeNode& t, uint32_t n, bool allOne, int thread, bool spawn, Fill fill, Judged* record) {
    ScratchLease lease(*this, n);
    JudgeScratch& s = *lease;
    s.ids.Ensure(n);
    s.weights.Ensure(n);
    fill(s.ids.data.get(), s.weights.data.get());
    JudgeInput in;
    in.ids = s.ids.data.get();
    in.weights = s.weights.data.get();
    in.n = n;
    in.allOne = allOne;
    return Judge(t, in, thread, spawn, s, 0, record);
}

// One level of Judge: a subtree's top node, the rows judged there, and the pieces they
// are cut in among the threads.
struct Pruner::JudgePass {
    JudgePass(const TreeNode& n, const JudgeInput& r, JudgeLevel& l) : node(n), rows(r), level(l) {}
    const TreeNode& node;
    const JudgeInput& rows;
    JudgeLevel& level;
    int thread = 0;
    uint32_t n = 0;     // rows: those of unknown value above, then the node's own
    bool test = false;  // the node has a test
    int forks = 0;
    size_t width = 1;  // groups of rows: those of unknown value, then one per branch
    Brancher branch;
    uint16_t* groupOf = nullptr;  // per row
    int pieces = 1;
    // The rows [from, to) of piece p.
    std::pair<uint32_t, uint32_t> Piece(int p) const {
        return {uint32_t(uint64_t(n) * uint32_t(p) / uint32_t(pieces)),
                uint32_t(uint64_t(n) * uint32_t(p + 1) / uint32_t(pieces))};
    }
};

// Each row of rows[from, to) in order, with its id and weight: first those of unknown
// value above, their weights times the factor, then the node's own. The rows are
// taken by value, so that their fields stay put while f writes.
template <class F>
inline void Pruner::EachRow(const JudgeInput rows, uint32_t from, uint32_t to, F f) {
    for (uint32_t i = from; i < std::min(to, rows.unknowns); ++i)
        f(i, rows.unknownIds[i], rows.unknownWeights[i] * rows.factor);
    for (uint32_t i = std::max(from, rows.unknowns); i < to; ++i)
        f(i, rows.ids[i - rows.unknowns],
          rows.codes     ? rows.weights[rows.codes[i - rows.unknowns]]
          : rows.weights ? rows.weights[i - rows.unknowns]
                         : 1.0f);
}

// The estimate of the subtree under `node` on `rows` (in this order), leaving it as it
// is: the sum of its leaves' estimates. A branch with rows of its own gets the rows
// with an unknown value of the test too, their weights scaled by its share of the
// known weight. Every sum runs over the rows in the order Estimate would take them.
// With `spawn`, branches beside the largest one are jobs; their rows stay in this level.
float Pruner::Judge(const TreeNode& node, const JudgeInput& rows, int thread, bool spawn, JudgeScratch& scratch,
                    size_t depth, Judged* record) {
    JudgeLevel& level = scratch.levels[depth];
    JudgePass pass(node, rows, level);
    pass.thread = thread;
    pass.n = rows.unknowns + rows.n;
    // Sums of weights in double, each stored once as a float, as in Estimate.
    level.classSum.assign(size_t(nClass_), 0.0);
    pass.test = node.kind != kLeaf;
    pass.forks = pass.test ? node.forks : 0;
    pass.width = size_t(pass.forks) + 1;
    level.counts.assign(pass.width, 0);
    if (pass.test) {
        pass.branch = BranchesOf(node);
        level.branch.Ensure(pass.n);
        pass.groupOf = level.branch.data.get();
    }
    // A large level reads by row id and sorts in pieces, one per thread; the sums run
    // over the rows in order all the same.
    if (spawn && pool_ && pass.n >= 2 * kPieceRows)
        pass.pieces = int(std::min<uint32_t>(uint32_t(pool_->Threads()), pass.n / kPieceRows));
    const double total = pass.pieces == 1 ? TallyRows(pass) : TallyRowsInPieces(pass);
    const float cases = rows.allOne ? float(pass.n) : float(total);
    const float leafErrors = cases - float(*std::max_element(level.classSum.begin(), level.classSum.end()));
    if (record) {
        record->test = pass.test;
        record->cases = cases;
        record->leafErrors = leafErrors;
        if (pass.test) record->kids.resize(size_t(pass.forks) + 1);
    }
    if (!pass.test) return float(LeafTotal(cases, leafErrors));
    GroupRows(pass);
    const float known = KnownWeights(pass);
    return JudgeBranches(pass, known, spawn, scratch, depth, record);
}

// The weight of the level's rows per class (in level.classSum), and per row its group,
// with the count of each; returns the rows' weight.
double Pruner::TallyRows(const JudgePass& pass) {
    double* classSum = pass.level.classSum.data();
    uint32_t* counts = pass.level.counts.data();
    const bool test = pass.test;
    const Brancher branch = pass.branch;
    uint16_t* const groupOf = pass.groupOf;
    double total = 0;
    EachRow(pass.rows, 0, pass.n, [&](uint32_t i, uint32_t id, float x) {
        total += x;
        classSum[in_.cls[id]] += x;
        if (test) {
            const int b = branch(id);
            groupOf[i] = uint16_t(b);
            ++counts[size_t(b)];
        }
    });
    return total;
}

// TallyRows in pieces: each piece notes the classes and groups of its rows, then the
// weights are summed over all the rows in order, or counted when they are all one.
double Pruner::TallyRowsInPieces(const JudgePass& pass) {
    JudgeLevel& level = pass.level;
    const uint32_t n = pass.n;
    const size_t width = pass.width;
    const int pieces = pass.pieces;
    const bool test = pass.test;
    const Brancher branch = pass.branch;
    uint16_t* const groupOf = pass.groupOf;
    level.cls.Ensure(n);
    uint16_t* cls = level.cls.data.get();
    level.pieceCounts.assign(size_t(pieces) * width, 0);
    // Weights of one: a float sum of them is their count.
    const bool counted = pass.rows.allOne && n <= kExactCount;
    level.pieceClasses.assign(counted ? size_t(pieces) * size_t(nClass_) : 0, 0);
    RunPieces(pieces, pass.thread, [&](int p) {
        uint32_t* groupCounts = level.pieceCounts.data() + size_t(p) * width;
        uint32_t* classCounts = level.pieceClasses.data() + size_t(p) * size_t(nClass_);
        const auto [from, to] = pass.Piece(p);
        EachRow(pass.rows, from, to, [&](uint32_t i, uint32_t id, float) {
            cls[i] = in_.cls[id];
            if (counted) ++classCounts[cls[i]];
            if (test) {
                const int b = branch(id);
                groupOf[i] = uint16_t(b);
                ++groupCounts[b];
            }
        });
    });
    double* classSum = level.classSum.data();
    double total = 0;
    if (counted) {
        for (int c = 0; c < nClass_; ++c) {
            uint32_t count = 0;
            for (int p = 0; p < pieces; ++p) count += level.pieceClasses[size_t(p) * size_t(nClass_) + size_t(c)];
            classSum[c] = count;
        }
    } else {
        EachRow(pass.rows, 0, n, [&](uint32_t i, uint32_t, float x) {
            total += x;
            classSum[cls[i]] += x;
        });
    }
    for (int p = 0; p < pieces; ++p)
        for (size_t v = 0; v < width; ++v) level.counts[v] += level.pieceCounts[size_t(p) * width + v];
    return total;
}

// The level's rows with their weights into level.ids and level.weights by group, each
// group in row order: those of unknown value first, then each branch's.
void Pruner::GroupRows(const JudgePass& pass) {
    JudgeLevel& level = pass.level;
    const size_t width = pass.width;
    level.at.assign(width, 0);
    uint32_t sum = 0;
    for (size_t v = 0; v < width; ++v) {
        level.at[v] = sum;
        sum += level.counts[v];
    }
    level.ids.Ensure(pass.n);
    level.weights.Ensure(pass.n);
    uint32_t* ids = level.ids.data.get();
    float* weights = level.weights.data.get();
    const uint16_t* groupOf = pass.groupOf;
    auto scatter = [&](uint32_t from, uint32_t to, uint32_t* at) {
        EachRow(pass.rows, from, to, [&](uint32_t i, uint32_t id, float x) {
            const uint32_t p = at[groupOf[i]]++;
            ids[p] = id;
            weights[p] = x;
        });
    };
    if (pass.pieces == 1) {
        scatter(0, pass.n, level.at.data());
        return;
    }
    // Each piece's rows go after those of the pieces before it.
    std::vector<uint32_t>& starts = level.pieceCounts;
    for (size_t v = 0; v < width; ++v) {
        uint32_t next = level.at[v];
        for (int p = 0; p < pass.pieces; ++p) {
            const uint32_t c = starts[size_t(p) * width + v];
            starts[size_t(p) * width + v] = next;
            next += c;
        }
    }
    RunPieces(pass.pieces, pass.thread, [&](int p) {
        const auto [from, to] = pass.Piece(p);
        scatter(from, to, starts.data() + size_t(p) * width);
    });
}

// The weight of the level's rows of known value; each branch's own in level.known.
float Pruner::KnownWeights(const JudgePass& pass) {
    JudgeLevel& level = pass.level;
    const std::vector<uint32_t>& counts = level.counts;
    const uint32_t unknowns = counts[0];
    const int forks = pass.forks;
    level.known.assign(size_t(forks) + 1, 0.0f);
    if (pass.rows.allOne && pass.n <= kExactCount) {
        for (int v = 1; v <= forks; ++v) level.known[size_t(v)] = float(counts[size_t(v)]);
        return float(pass.n - unknowns);
    }
    const float* weights = level.weights.data.get();
    double knownSum = 0;
    for (uint32_t v = 1, i = unknowns; v <= uint32_t(forks); ++v) {
        double group = 0;
        for (const uint32_t end = i + counts[v]; i < end; ++i) {
            knownSum += weights[i];
            group += weights[i];
        }
        level.known[v] = float(group);
    }
    return float(knownSum);
}

// The rows branch v is judged on, from the level's groups: those of unknown value,
// their weights times the branch's share of the known weight, then its own.
Pruner::JudgeInput Pruner::BranchRows(const JudgePass& pass, int v, float known) const {
    const JudgeLevel& level = pass.level;
    const uint32_t unknowns = level.counts[0];
    JudgeInput r;
    r.unknownIds = level.ids.data.get();
    r.unknownWeights = level.weights.data.get();
    r.unknowns = unknowns;
    r.factor = float(double(level.known[size_t(v)]) / known);
    uint32_t from = unknowns;
    for (int u = 1; u < v; ++u) from += level.counts[size_t(u)];
    r.ids = level.ids.data.get() + from;
    r.weights = level.weights.data.get() + from;
    r.n = level.counts[size_t(v)];
    r.allOne = pass.rows.allOne && unknowns == 0;
    return r;
}

// The sum of the estimates of the node's branches that rows reach, each judged on
// its BranchRows; with `spawn`, large ones beside the largest are jobs.
float Pruner::JudgeBranches(const JudgePass& pass, float known, bool spawn, JudgeScratch& scratch, size_t depth,
                            Judged* record) {
    JudgeLevel& level = pass.level;
    const std::vector<uint32_t>& counts = level.counts;
    const int forks = pass.forks;
    const uint32_t unknowns = counts[0];
    int inlined = 1;
    for (int v = 2; v <= forks; ++v)
        if (counts[size_t(v)] > counts[size_t(inlined)]) inlined = v;
    auto handOut = [&](int v) {
        return spawn && pool_ && v != inlined && counts[size_t(v)] && unknowns + counts[size_t(v)] >= kMinTaskRows;
    };
    level.results.assign(size_t(forks) + 1, 0.0f);
    Jobs<JudgeTask> jobs(pool_.get(), pass.thread);
    for (int v = 1; v <= forks; ++v) {
        if (!handOut(v)) continue;
        auto job = std::make_unique<JudgeTask>();
        job->node = pass.node.branches[size_t(v)].get();
        job->branch = v;
        job->rows = BranchRows(pass, v, known);
        if (record) job->record = &record->kids[size_t(v)];
        jobs.Add(std::move(job), [this](int th, JudgeTask& j) { RunJudgeTask(th, j); });
    }
    for (int v = 1; v <= forks; ++v) {
        if (counts[size_t(v)] == 0 || handOut(v)) continue;
        level.results[size_t(v)] = Judge(*pass.node.branches[size_t(v)], BranchRows(pass, v, known), pass.thread, spawn,
                                         scratch, depth + 1, record ? &record->kids[size_t(v)] : nullptr);
    }
    if (record)
        for (int v = 1; v <= forks; ++v) record->kids[size_t(v)].reached = counts[size_t(v)] != 0;
    jobs.Wait();
    jobs.ForEach([&](JudgeTask& j) { level.results[size_t(j.branch)] = j.result; });
    double errors = 0;
    for (int v = 1; v <= forks; ++v)
        if (counts[size_t(v)]) errors += level.results[size_t(v)];
    return float(errors);
}

// Judge's sum over what it recorded, at the rate in hand.
float Pruner::Sum(const Judged& j) const {
    if (!j.test) return float(LeafTotal(j.cases, j.leafErrors));
    double total = 0;
    for (size_t v = 1; v < j.kids.size(); ++v)
        if (j.kids[v].reached) total += Sum(j.kids[v]);
    return float(total);
}

// All that Judge reads of a subtree: which nodes test what, and how.
void Pruner::AppendShape(const TreeNode& t, std::string& out) {
    out.push_back(char(t.kind));
    if (t.kind == kLeaf) return;
    const auto put = [&](const auto& x) { out.append(reinterpret_cast<const char*>(&x), sizeof x); };
    put(t.attr);
    put(t.forks);
    put(t.cut);
    for (int v = 1; v <= t.forks; ++v) AppendShape(*t.branches[size_t(v)], out);
}

// Room for what judging b comes to, within the budget of all that is kept.
// Past the budget it is not kept, which only costs the later prunings time.
bool Pruner::Reserve(const TreeNode& b) {
    const size_t nodes = size_t(CountNodes(b));
    if (judgedNodes_.fetch_add(nodes) + nodes > kJudgedBudget) {
        judgedNodes_.fetch_sub(nodes);
        return false;
    }
    if (in_.budget) {
        try {
            in_.budget->Charge(nodes * kJudgedNodeBytes);
        } catch (const OverBudget&) {
            judgedNodes_.fetch_sub(nodes);
            return false;
        }
    }
    return true;
}

// The estimate of branch b on all the rows of the node s notes, in their noted order; from
// an earlier pruning whose branch there had the same shape, when one is kept.
float Pruner::JudgeBranch(const TreeNode& b, const Seen& s, int thread) {
    std::string shape;
    AppendShape(b, shape);
    std::vector<JudgedShape>& kept = judged_[size_t(s.sorted)];
    for (const JudgedShape& k : kept)
        if (k.shape == shape) return Sum(k.judged);
    const Sorted& sorted = sorted_[size_t(s.sorted)];
    ScratchLease lease(*this, s.rows);
    JudgeInput in;
    in.ids = sorted.rows.data();
    in.weights = sorted.weights.empty() ? nullptr : sorted.weights.data();
    in.codes = sorted.codes.empty() ? nullptr : sorted.codes.data();
    in.n = s.rows;
    in.allOne = s.allOne;
    if (!Reserve(b)) return Judge(b, in, thread, true, *lease, 0);
    JudgedShape k;
    k.shape = std::move(shape);
    const float errors = Judge(b, in, thread, true, *lease, 0, &k.judged);
    kept.push_back(std::move(k));
    return errors;
}

std::unique_ptr<TreeNode> Pruner::Keep(Pruned& p) const {
    if (p.node) return std::move(p.node);
    // A leaf in place of the grown node: its test fields stay, as on any node pruned
    // to a leaf.
    const TreeNode& g = *p.grown;
    auto n = std::make_unique<TreeNode>();
    const Seen& s = seen_[size_t(p.seen)];
    n->kind = kLeaf;
    n->cls = s.cls;
    n->items = s.cases;
    n->errors = p.errors;
    n->attr = g.attr;
    n->forks = g.kind == kLeaf ? g.forks : 0;
    n->cut = g.cut;
    n->parent = n.get();
    return n;
}

void Pruner::RunReplayTask(int thread, ReplayTask& t) {
    t.result = Replay(ThreadWork(thread), *t.grown, t.seen, thread);
}

// The pruning of the subtree of grown node g from what the first pruning noted. Every
// decision compares the same figures as that pruning did: the node's own estimate and
// its branches' from the notes, and a largest branch that kept a test is judged on the
// rows again, in their noted order. m serves a branch that takes its parent's place.
Pruner::Pruned Pruner::Replay(Work& m, const TreeNode& g, int32_t seen, int thread) {
    const Seen& s = seen_[size_t(seen)];
    const double leafTotal = LeafTotal(s.cases, s.leafErrors);
    Pruned leaf;
    leaf.errors = float(leafTotal);
    leaf.grown = &g;
    leaf.seen = seen;
    if (g.kind == kLeaf) return leaf;

    const int forks = g.forks;
    std::vector<Pruned> kids(size_t(forks) + 1);
    std::vector<int32_t> at(size_t(forks) + 1, 0);
    ReplayBranches(m, g, seen, thread, kids, at);
    double errorSum = 0;
    for (int v = 1; v <= forks; ++v)
        if (seen_[size_t(at[size_t(v)])].rows) errorSum += kids[size_t(v)].errors;
    const float treeErrors = float(errorSum);

    const int largest = s.largest;
    double branchErrors = std::numeric_limits<double>::infinity();
    if (largest) {
        Pruned& b = kids[size_t(largest)];
        const Sorted& sorted = sorted_[size_t(s.sorted)];
        if (b.IsLeaf()) {
            // A leaf's estimate depends on the rows alone.
            branchErrors = double(float(LeafTotal(sorted.cases, sorted.leafErrors)));
        } else {
            branchErrors = double(JudgeBranch(*b.node, s, thread));
        }
    }
    const Verdict verdict = Decide(leafTotal, branchErrors, treeErrors);
    if (verdict == Verdict::Leaf) return leaf;
    if (verdict == Verdict::Raise) {
        std::unique_ptr<TreeNode> b = Keep(kids[size_t(largest)]);
        const Sorted& sorted = sorted_[size_t(s.sorted)];
        if (sorted.rowsKept) {
            LoadRows(m, s);
            Raise(m, b.get(), 0, int32_t(s.rows) - 1);
        } else {
            // A leaf raised is a leaf of the node's rows, as EstimateAsLeaf makes it.
            b->items = sorted.cases;
            b->cls = sorted.raisedCls;
            b->errors = float(LeafTotal(sorted.cases, sorted.leafErrors));
        }
        Pruned raised;
        raised.errors = b->errors;
        raised.node = std::move(b);
        return raised;
    }
    Pruned kept;
    kept.errors = treeErrors;
    kept.node = KeepTest(g, s, kids, treeErrors);
    return kept;
}

// Replays every branch of grown node g (node `seen`) into kids, and notes in `at` the
// index of each branch's node; a branch that no rows reach stays as grown.
void Pruner::ReplayBranches(Work& m, const TreeNode& g, int32_t seen, int thread, std::vector<Pruned>& kids,
                            std::vector<int32_t>& at) {
    const int forks = g.forks;
    int inlined = 0;
    for (int v = 1, i = seen + 1; v <= forks; i += seen_[size_t(i)].size, ++v) {
        at[size_t(v)] = i;
        if (!inlined || seen_[size_t(i)].rows > seen_[size_t(at[size_t(inlined)])].rows) inlined = v;
    }
    // Subtrees beside the largest one are jobs when they are large enough to pay.
    auto handOut = [&](int v) {
        return pool_ && v != inlined && seen_[size_t(at[size_t(v)])].rows >= kMinTaskRows &&
               g.branches[size_t(v)]->kind != kLeaf;
    };
    Jobs<ReplayTask> jobs(pool_.get(), thread);
    for (int v = 1; v <= forks; ++v) {
        if (!handOut(v)) continue;
        auto job = std::make_unique<ReplayTask>();
        job->grown = g.branches[size_t(v)].get();
        job->branch = v;
        job->seen = at[size_t(v)];
        jobs.Add(std::move(job), [this](int th, ReplayTask& j) { RunReplayTask(th, j); });
    }
    for (int v = 1; v <= forks; ++v) {
        if (handOut(v)) continue;
        const TreeNode& child = *g.branches[size_t(v)];
        if (seen_[size_t(at[size_t(v)])].rows == 0)
            kids[size_t(v)].node = CopyTree(child);  // no rows: as grown
        else
            kids[size_t(v)] = Replay(m, child, at[size_t(v)], thread);
    }
    jobs.Wait();
    jobs.ForEach([&](ReplayTask& j) { kids[size_t(j.branch)] = std::move(j.result); });
}

// Grown node g keeping its test, over its pruned branches.
std::unique_ptr<TreeNode> Pruner::KeepTest(const TreeNode& g, const Seen& s, std::vector<Pruned>& kids,
                                           float treeErrors) const {
    auto n = std::make_unique<TreeNode>();
    n->kind = g.kind;
    n->cls = s.cls;
    n->items = s.cases;
    n->errors = treeErrors;
    n->attr = g.attr;
    n->forks = g.forks;
    n->cut = g.cut;
    n->branches.resize(g.branches.size());
    for (int v = 1; v <= g.forks; ++v) {
        n->branches[size_t(v)] = Keep(kids[size_t(v)]);
        n->branches[size_t(v)]->parent = n.get();
    }
    return n;
}

// Estimates `node` on its rows order[first, last] (weights as set) and prunes it: to a
// leaf, to its largest branch raised into its place, or it keeps its test. seen >= 0:
// the node is one of the grown tree at that index, reached by its own rows, and the
// first pruning notes what it finds there.
float Pruner::Estimate(Work& m, TreeNode* node, int32_t first, int32_t last, int32_t seen) {
    // Scratch per recursion level (the recursion is no deeper than the tree).
    struct Level {
        Work& w;
        explicit Level(Work& work) : w(work) { ++w.depth; }
        ~Level() { --w.depth; }
    } level(m);
    const double leafTotal = EstimateAsLeaf(m, *node, first, last, seen);
    if (node->kind == kLeaf) {
        node->errors = float(leafTotal);
        return node->errors;
    }
    const TestedRows rows = SortByTest(m, *node, first, last, seen);
    const bool savedAllOne = m.allOne;
    if (rows.firstOwn != first) m.allOne = false;
    // On the calling thread of a parallel pruning, small branches are jobs.
    const bool spawn = pool_ && &m == &main_;
    const int forks = node->forks;
    std::vector<float>& results = m.results[size_t(m.depth)];
    results.assign(size_t(forks) + 1, 0.0f);
    Jobs<PruneTask> jobs(pool_.get(), 0);
    std::vector<PruneTask*> jobOf(size_t(forks) + 1, nullptr);
    const int largest = EstimateBranches(m, *node, rows, seen, spawn, jobs, jobOf);
    // Back to the node's own rows, in any order.
    std::copy(m.stack.begin() + long(rows.base), m.stack.begin() + long(rows.end), m.order.begin() + first);
    m.stack.resize(rows.base);
    m.allOne = savedAllOne;
    if (seen >= 0) seen_[size_t(seen)].largest = int16_t(largest);

    // The jobs' results are needed for the sum only; the largest branch's before it is
    // judged on all the rows, so the other jobs run on meanwhile.
    double branchErrors = std::numeric_limits<double>::infinity();
    if (largest) {
        if (PruneTask* job = jobOf[size_t(largest)]) {
            jobs.Wait(job);
            if (job->failed) throw std::bad_alloc();
        }
        branchErrors = JudgeOnAllRows(m, *node->branches[largest], first, last, seen, spawn);
    }
    jobs.Wait();
    jobs.ForEach([&](PruneTask& j) { results[size_t(j.branch)] = j.result; });
    // Once the branches' jobs are in, which note the largest one's class.
    if (seen >= 0) KeepRowsFor(seen, largest);
    double errorSum = 0;
    for (int v = 1; v <= forks; ++v)
        if (rows.counts[v]) errorSum += results[size_t(v)];
    const float treeErrors = float(errorSum);
    ApplyVerdict(m, *node, Decide(leafTotal, branchErrors, treeErrors), largest, first, last, leafTotal, treeErrors);
    return node->errors;
}

// The node as a leaf of its rows order[first, last]: its items become their weight and
// its class the heaviest one (its own while none is heavier); the first pruning notes
// them. Returns the leaf's errors with the extra the rate adds.
double Pruner::EstimateAsLeaf(Work& m, TreeNode& node, int32_t first, int32_t last, int32_t seen) {
    const int C = nClass_;
    const std::vector<uint32_t>& order = m.order;
    // Sums of weights in double, each stored once as a float: a float running sum
    // drifts by an ulp or more over fractional weights.
    std::vector<double> classSum(size_t(C), 0.0);
    double total = 0;
    for (int32_t i = first; i <= last; ++i) {
        const float x = W(m, order[i]);
        total += x;
        classSum[in_.cls[Row(m, order[i])]] += x;
    }
    const float cases = m.allOne ? float(last - first + 1) : float(total);
    std::vector<float> dist(static_cast<size_t>(C));
    for (int c = 0; c < C; ++c) dist[size_t(c)] = float(classSum[size_t(c)]);
    int best = in_.classDense[size_t(node.cls)];
    for (int c = 0; c < C; ++c)
        if (dist[c] > dist[best]) best = c;
    const float leafErrors = cases - dist[best];
    if (seen >= 0) Note(m, seen, first, last, cases, best, leafErrors);
    node.items = cases;
    node.cls = in_.classCode[size_t(best)];
    return LeafTotal(cases, leafErrors);
}

// One pass sorts the node's rows by its test: the rows of unknown value first, then each
// group; a branch is estimated on the unknowns followed by its own group. The unknowns
// go to order[first, ...) and their own weights are kept, for every branch to start from.
Pruner::TestedRows Pruner::SortByTest(Work& m, const TreeNode& node, int32_t first, int32_t last, int32_t seen) {
    TestedRows rows(m.counts[size_t(m.depth)], m.saved[size_t(m.depth)]);
    const std::vector<uint32_t>& stack = m.stack;
    rows.base = stack.size();
    SortRows(m, node, first, last, rows.counts, m.at[size_t(m.depth)]);
    rows.end = stack.size();
    rows.unknowns = rows.counts[0];
    std::copy(stack.begin() + long(rows.base), stack.begin() + long(rows.base + rows.unknowns),
              m.order.begin() + first);
    rows.first = first;
    rows.firstOwn = first + int32_t(rows.unknowns);
    double knownSum = 0;
    for (size_t i = rows.base + rows.unknowns; i < rows.end; ++i) knownSum += W(m, stack[i]);
    rows.known = float(knownSum);
    if (seen >= 0) NoteSorted(m, seen, rows.base, rows.end);
    rows.ownWeight.resize(rows.unknowns);
    for (uint32_t i = 0; i < rows.unknowns; ++i) rows.ownWeight[i] = W(m, stack[rows.base + i]);
    return rows;
}

// Estimates every branch that rows reach on the unknowns and its own rows, the
// unknowns' weights scaled by its share of the known weight; with `spawn`, small ones
// are jobs. Returns the largest branch, the last of equal ones; 0 when none has rows.
int Pruner::EstimateBranches(Work& m, TreeNode& node, const TestedRows& rows, int32_t seen, bool spawn,
                             Jobs<PruneTask>& jobs, std::vector<PruneTask*>& jobOf) {
    std::vector<uint32_t>& stack = m.stack;
    std::vector<uint32_t>& order = m.order;
    std::vector<float>& results = m.results[size_t(m.depth)];
    const int32_t first = rows.first, firstOwn = rows.firstOwn;
    const size_t base = rows.base;
    const uint32_t unknowns = rows.unknowns;
    float maxFactor = 0;
    int largest = 0;
    size_t groupStart = base + unknowns;
    int32_t childSeen = seen + 1;
    for (int v = 1; v <= node.forks; ++v) {
        const size_t g = rows.counts[v];
        const size_t from = groupStart;
        groupStart += g;
        const int32_t branchSeen = seen >= 0 ? childSeen : -1;
        if (seen >= 0) {
            childSeen += seen_[size_t(childSeen)].size;
            // A branch no row reaches stays as grown.
            if (!node.branches[v]) {
                const TreeNode& grown = *seen_[size_t(branchSeen)].grown;
                node.branches[v] = g == 0 ? CopyTree(grown) : CopyNode(grown);
                node.branches[v]->parent = &node;
            }
        }
        if (g == 0) continue;
        std::copy(stack.begin() + long(from), stack.begin() + long(from + g), order.begin() + firstOwn);
        const int32_t last = firstOwn + int32_t(g) - 1;
        double gw = 0;
        for (int32_t i = firstOwn; i <= last; ++i) gw += W(m, order[i]);
        const float branchWeight = float(gw);
        const float factor = float(double(branchWeight) / rows.known);
        if (factor >= maxFactor) {
            largest = v;
            maxFactor = factor;
        }
        SetWeights(m, stack.data() + base, rows.ownWeight.data(), unknowns, &factor);
        if (spawn && uint32_t(last - first + 1) < taskRows_)
            jobOf[size_t(v)] = &AddPruneJob(jobs, m, node.branches[v].get(), v, first, last, branchSeen);
        else
            results[size_t(v)] = Estimate(m, node.branches[v].get(), first, last, branchSeen);
        std::copy(stack.begin() + long(base), stack.begin() + long(base + unknowns), order.begin() + first);
        SetWeights(m, stack.data() + base, rows.ownWeight.data(), unknowns, nullptr);
    }
    return largest;
}

// A job that estimates `branch` (number v) on the rows order[first, last] as weighted now.
Pruner::PruneTask& Pruner::AddPruneJob(Jobs<PruneTask>& jobs, const Work& m, TreeNode* branch, int v, int32_t first,
                                       int32_t last, int32_t seen) {
    auto job = std::make_unique<PruneTask>();
    job->node = branch;
    job->branch = v;
    job->allOne = m.allOne;
    job->seen = seen;
    job->held.Use(in_.budget);
    job->held.Set(uint64_t(last - first + 1) * (sizeof(uint32_t) + sizeof(float)));
    job->rows.resize(size_t(last - first + 1));
    job->weights.resize(job->rows.size());
    for (int32_t i = first; i <= last; ++i) {
        job->rows[size_t(i - first)] = Row(m, m.order[size_t(i)]);
        job->weights[size_t(i - first)] = W(m, m.order[size_t(i)]);
    }
    return jobs.Add(std::move(job), [this](int th, PruneTask& j) { RunPruneTask(th, j); });
}

// The estimate of `branch` judged on all the rows of its node order[first, last]; kept
// for the later prunings, which judge the same rows in the same order.
double Pruner::JudgeOnAllRows(Work& m, const TreeNode& branch, int32_t first, int32_t last, int32_t seen, bool spawn) {
    JudgedShape kept;
    const bool record = seen >= 0 && Reserve(branch);
    if (record) AppendShape(branch, kept.shape);
    const std::vector<uint32_t>& order = m.order;
    const float errors = JudgeAll(
        branch, uint32_t(last - first + 1), m.allOne, 0, spawn,
        [&](uint32_t* ids, float* w) {
            for (int32_t i = first; i <= last; ++i) {
                ids[i - first] = Row(m, order[size_t(i)]);
                w[i - first] = W(m, order[size_t(i)]);
            }
        },
        record ? &kept.judged : nullptr);
    if (record) judged_[size_t(seen_[size_t(seen)].sorted)].push_back(std::move(kept));
    return double(errors);
}

// Prunes the node as decided: to a leaf, to its largest branch raised into its place
// (estimated again on the node's rows order[first, last]), or it keeps its test.
void Pruner::ApplyVerdict(Work& m, TreeNode& node, Verdict verdict, int largest, int32_t first, int32_t last,
                          double leafTotal, float treeErrors) {
    if (verdict == Verdict::Leaf) {
        node.kind = kLeaf;
        node.errors = float(leafTotal);
        std::vector<std::unique_ptr<TreeNode>>().swap(node.branches);
        node.forks = 0;
        return;
    }
    if (verdict == Verdict::Keep) {
        node.errors = treeErrors;
        return;
    }
    Raise(m, node.branches[largest].get(), first, last);
    // The node takes over the branch's whole content and keeps its own place.
    std::unique_ptr<TreeNode> b = std::move(node.branches[largest]);
    node.kind = b->kind;
    node.cls = b->cls;
    node.items = b->items;
    node.errors = b->errors;
    node.attr = b->attr;
    node.forks = b->forks;
    node.cut = b->cut;
    node.branches = std::move(b->branches);
    for (auto& child : node.branches)
        if (child) child->parent = &node;
}

}  // namespace trx
