#include "Grower.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

namespace trx {
namespace {

constexpr double kLog2e = 1.4426950408889634074;
constexpr float kNoGain = -0.001f;
constexpr int kMaxDepth = 30;
constexpr int kMaxThresholdTests = 25;  // a continuous attribute is evaluated while its count <= this

inline double XLog2X(double x) { return x > 0 ? x * (std::log(x) * kLog2e) : 0.0; }

// x log2 x of small whole numbers, computed once by the same expression: weights are
// mostly whole, and most of the growth's time goes into these logarithms.
constexpr int kWholeTable = 1 << 16;
const double* WholeTable() {
    static const std::vector<double> table = [] {
        std::vector<double> t(kWholeTable);
        for (int i = 0; i < kWholeTable; ++i) t[i] = XLog2X(double(i));
        return t;
    }();
    return table.data();
}

inline double XLog2XFast(double x, const double* table) {
    if (x >= 0 && x < kWholeTable) {
        int i = int(x);
        if (double(i) == x) return table[i];
    }
    return XLog2X(x);
}

// N log2 N - sum v log2 v over the positive entries.
float DistributionInfo(const float* v, int n) {
    double total = 0, sum = 0;
    for (int i = 0; i < n; ++i) {
        if (v[i] > 0) {
            total += v[i];
            sum += XLog2X(v[i]);
        }
    }
    if (total <= 0) return 0.0f;
    return float(XLog2X(total) - sum);
}

// As DistributionInfo, with the v log2 v terms cached per entry: only entries marked
// dirty are recomputed, which gives the same value as computing all of them.
float DistributionInfoCached(const float* v, int n, double* cache, uint8_t* dirty, const double* table) {
    double total = 0, sum = 0;
    for (int i = 0; i < n; ++i) {
        if (v[i] > 0) {
            total += v[i];
            if (dirty[i]) {
                cache[i] = XLog2XFast(v[i], table);
                dirty[i] = 0;
            }
            sum += cache[i];
        }
    }
    if (total <= 0) return 0.0f;
    return float(XLog2XFast(total, table) - sum);
}

inline uint32_t SortKey(float f) {
    uint32_t b = std::bit_cast<uint32_t>(f);
    return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

// Normal deviates for the confidence coefficient of the error estimate.
constexpr float kConf[9] = {0.0f, 0.001f, 0.005f, 0.01f, 0.05f, 0.10f, 0.20f, 0.40f, 1.00f};
constexpr float kDev[9] = {4.0f, 3.09f, 2.58f, 2.33f, 1.65f, 1.28f, 0.84f, 0.25f, 0.0f};

// One cache for the whole module, with the CF it was made for.
float gCoeff = 0.0f;
float gCoeffCF = 0.0f;

float Coefficient(float cf) {
    if (gCoeff == 0.0f || gCoeffCF != cf) {
        int i = 1;
        while (i < 8 && kConf[i] < cf) ++i;
        double dev = double(kDev[i - 1]) + (double(kDev[i]) - kDev[i - 1]) * (double(cf) - kConf[i - 1]) /
                                               (double(kConf[i]) - kConf[i - 1]);
        gCoeff = float(dev * dev);
        gCoeffCF = cf;
    }
    return gCoeff;
}

}  // namespace

// Growths of fewer rows than kParallelRows stay on one thread; so do nodes of fewer rows
// (their attributes are evaluated in turn), and subtrees of fewer rows than taskRows_ are jobs.
constexpr uint32_t kAttrParallelRows = 4096;
constexpr uint32_t kMinTaskRows = kAttrParallelRows;  // no serial node in the skeleton
constexpr uint32_t kTasksPerThread = 8;
constexpr uint32_t kPieceRows = 32768;  // a level of Judge with twice as many rows is cut in pieces
constexpr uint32_t kExactCount = 1u << 24;  // a float sum of up to this many ones is their count

template <class T>
void Grower::Arena<T>::Ensure(size_t need) {
    if (need <= cap) return;
    size_t grown = std::max(need, cap + cap / 2 + 1024);
    auto fresh = std::make_unique_for_overwrite<T[]>(grown);
    if (top) std::memcpy(fresh.get(), data.get(), top * sizeof(T));
    data = std::move(fresh);
    cap = grown;
}

// A subtree grown by a job: its lists and the weights of its weighted rows, the state
// of its path, and what came out.
struct Grower::Task {
    Arena<uint32_t> ids;  // handed over to the thread that grows it
    Arena<Entry> ents;
    Arena<uint32_t> unks;
    std::vector<float> weights;  // of the items of `ids` marked weighted, in order
    std::vector<uint8_t> testCount;
    bool allOne = true;
    int depth = 0;  // the parent's
    TreeNode* parent = nullptr;
    int branch = 0;
    std::unique_ptr<TreeNode> result;
    std::vector<float> leaves;  // items of the leaves that report progress, in order
    bool failed = false;
    std::atomic<bool> done{false};
};

Grower::Grower(GrowInput input) : in_(std::move(input)) {
    const size_t n = size_t(in_.rowCount);
    nAttr_ = in_.lastAttr + 1;
    discIndex_.assign(nAttr_, -1);
    contIndex_.assign(nAttr_, -1);
    for (int a = 0; a < nAttr_; ++a) {
        if (in_.attrKind[a] == 1) continue;
        if (in_.valueCount[a] != 0) {
            discIndex_[a] = nDisc_++;
            discAttr_.push_back(a);
        } else {
            contIndex_[a] = nCont_++;
            contAttr_.push_back(a);
        }
    }
    // Classes present, in code order. With the class field moved away from the last
    // position another field's value can land in the class slot; a code outside
    // 0..MaxClass is read as class 0.
    const int declared = std::max(1, int(in_.maxClass) + 1);
    const std::vector<uint32_t>& classSlot = in_.slots->back();
    cls_.resize(n);
    std::vector<uint8_t> present(size_t(declared), 0);
    for (size_t i = 0; i < n; ++i) {
        int code = int16_t(uint16_t(classSlot[i] & 0xFFFF));
        if (code < 0 || code >= declared) code = 0;
        cls_[i] = uint16_t(code);
        present[size_t(code)] = 1;
    }
    classDense_.assign(size_t(declared), 0);
    for (int c = 0; c < declared; ++c) {
        if (!present[size_t(c)]) continue;
        classDense_[size_t(c)] = uint16_t(classCode_.size());
        classCode_.push_back(int16_t(c));
    }
    if (classCode_.empty()) classCode_.push_back(0);
    nClass_ = int(classCode_.size());
    for (size_t i = 0; i < n; ++i) cls_[i] = classDense_[cls_[i]];

    dval_.resize(n * size_t(nDisc_));
    valueColumn_.resize(size_t(nDisc_));
    valueCode_.resize(size_t(nDisc_));
    denseCount_.assign(size_t(nDisc_), 0);
    std::vector<uint16_t> dense;
    for (int k = 0; k < nDisc_; ++k) {
        const int a = discAttr_[k];
        const std::vector<uint32_t>& col = (*in_.slots)[a];
        const int count = in_.valueCount[a];
        dense.assign(size_t(count) + 1, 0);
        for (size_t i = 0; i < n; ++i) {
            int v = int16_t(uint16_t(col[i] & 0xFFFF));
            // A code outside 1..count cannot index a branch: such a value counts as unknown.
            if (v > 0 && v <= count) dense[size_t(v)] = 1;
        }
        std::vector<uint16_t>& codes = valueCode_[size_t(k)];
        codes.push_back(0);
        for (int v = 1; v <= count; ++v) {
            if (!dense[size_t(v)]) continue;
            dense[size_t(v)] = uint16_t(codes.size());
            codes.push_back(uint16_t(v));
        }
        denseCount_[size_t(k)] = int(codes.size()) - 1;
        for (size_t i = 0; i < n; ++i) {
            int v = int16_t(uint16_t(col[i] & 0xFFFF));
            dval_[i * nDisc_ + k] = (v > 0 && v <= count) ? dense[size_t(v)] : 0;
        }
    }
    manyValues_ = true;
    for (int a = 0; a < nAttr_; ++a) {
        if (in_.attrKind[a] == 1) continue;
        if (!(double(in_.valueCount[a]) >= 0.3 * in_.rowCount)) {
            manyValues_ = false;
            break;
        }
    }
    works_.push_back(std::make_unique<Work>());
    MakeWork(*works_[0], true);
}

Grower::~Grower() {
    abort_ = true;
    pool_.reset();
}

void Grower::MakeWork(Work& w, bool rowArrays) {
    w.testCount.assign(size_t(nAttr_), 0);
    w.gain.assign(size_t(nAttr_), 0);
    w.info.assign(size_t(nAttr_), 0);
    w.bestCut.assign(size_t(nAttr_), 0);
    w.unknownRate.assign(size_t(nAttr_), 0);
    w.freq.clear();
    w.valueTotal.clear();
    for (int k = 0; k < nDisc_; ++k) {
        const size_t values = size_t(denseCount_[size_t(k)]) + 1;
        w.freq.emplace_back(values * size_t(nClass_), 0.0f);
        w.valueTotal.emplace_back(values, 0.0f);
    }
    Scratch& s = w.scratch;
    s.row0.assign(size_t(nClass_), 0);
    s.row1.assign(size_t(nClass_), 0);
    s.row2.assign(size_t(nClass_), 0);
    s.f1.assign(size_t(nClass_), 0);
    s.f2.assign(size_t(nClass_), 0);
    s.dirty1.assign(size_t(nClass_), 1);
    s.dirty2.assign(size_t(nClass_), 1);
    // Splits happen above depth kMaxDepth only; sized once so references stay valid.
    w.groupsAt.resize(kMaxDepth + 1);
    w.kidsAt.resize(kMaxDepth + 1);
    if (rowArrays && !w.weight) {
        w.weight = std::make_unique_for_overwrite<float[]>(size_t(in_.rowCount));
        w.branchOf = std::make_unique_for_overwrite<uint16_t[]>(size_t(in_.rowCount));
    }
}

// Sets the weights of rows `ids` to saved x factor, or back to saved without a factor;
// a branch always starts from the node's own weights.
void Grower::SetWeights(Work& w, const uint32_t* ids, const float* saved, size_t n, const float* factor) {
    for (size_t i = 0; i < n; ++i) {
        const float from = saved[i];
        const float to = factor ? from * *factor : from;
        const float now = factor ? from : w.weight[ids[i]];
        w.weight[ids[i]] = to;
        const bool wasUnit = now == 1.0f, isUnit = to == 1.0f;
        if (wasUnit && !isUnit) ++w.nonUnit;
        else if (!wasUnit && isUnit) --w.nonUnit;
    }
}

// Root lists: all row ids, and per continuous attribute the rows with an unknown value
// followed by the known ones in ascending order (LSD radix sort on the float's order key).
void Grower::BuildRoot(Work& w) {
    const uint32_t n = uint32_t(in_.rowCount);
    int idBits = std::bit_width(uint32_t(n > 1 ? n - 1 : 1));
    int classBits = std::bit_width(uint32_t(nClass_ > 1 ? nClass_ - 1 : 1));
    packed_ = idBits + classBits <= 31;
    idMask_ = packed_ ? ((1u << idBits) - 1) : ~kWeighted;
    classShift_ = packed_ ? idBits : 0;
    w.ids[0].Ensure(size_t(n) + 1);
    w.ents[0].Ensure(size_t(n) * nCont_ + 1);
    w.unks[0].Ensure(size_t(nCont_) * 64 + 1);
    for (uint32_t i = 0; i < n; ++i) w.ids[0].data[i] = i;
    w.ids[0].top = n;
    sortedValues_.assign(size_t(nCont_), {});
    const size_t threads = pool_ ? size_t(pool_->Threads()) : 1;
    std::vector<std::vector<Entry>> tmps(threads), bufs(threads);
    auto sortOne = [&](int thread, int c) {
        std::vector<Entry>& tmp = tmps[size_t(thread)];
        std::vector<Entry>& buf = bufs[size_t(thread)];
        tmp.resize(n);
        buf.resize(n);
        uint32_t counts[2048];
        const std::vector<uint32_t>& col = (*in_.slots)[contAttr_[c]];
        Entry* dst = w.ents[0].data.get() + size_t(c) * n;
        uint32_t u = 0, k = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t tag = packed_ ? (i | (uint32_t(cls_[i]) << classShift_)) : i;
            if (col[i] == kMissingBits) dst[u++] = Entry{std::bit_cast<float>(col[i]), tag};
            else tmp[k++] = Entry{std::bit_cast<float>(col[i]), tag};
        }
        Entry* from = tmp.data();
        Entry* to = buf.data();
        for (int shift = 0; shift < 33; shift += 11) {
            std::fill(counts, counts + 2048, 0u);
            for (uint32_t i = 0; i < k; ++i) ++counts[(SortKey(from[i].value) >> shift) & 2047];
            uint32_t sum = 0;
            for (uint32_t& x : counts) {
                uint32_t t = x;
                x = sum;
                sum += t;
            }
            for (uint32_t i = 0; i < k; ++i) to[counts[(SortKey(from[i].value) >> shift) & 2047]++] = from[i];
            std::swap(from, to);
        }
        std::memcpy(dst + u, from, size_t(k) * sizeof(Entry));
        w.unks[0].data[c] = u;
        std::vector<float>& sv = sortedValues_[size_t(c)];
        sv.resize(k);
        for (uint32_t i = 0; i < k; ++i) sv[i] = from[i].value;
    };
    if (pool_) pool_->ForEach(nCont_, sortOne);
    else
        for (int c = 0; c < nCont_; ++c) sortOne(0, c);
    w.ents[0].top = size_t(n) * nCont_;
    w.unks[0].top = size_t(nCont_);
}

void Grower::FreeLists(Work& w) {
    for (int side = 0; side < 2; ++side) {
        w.ids[side].Free();
        w.ents[side].Free();
        w.unks[side].Free();
    }
    w.unknownStack.clear();
    w.unknownStack.shrink_to_fit();
    w.savedWeight.clear();
    w.savedWeight.shrink_to_fit();
}

std::unique_ptr<TreeNode> Grower::Grow(ProgressSink* sink, const int16_t* cancel, int threads) {
    sink_ = sink;
    cancel_ = cancel;
    covered_ = 0;
    seenTree_ = nullptr;
    largestBranch_ = 0;
    abort_ = false;
    Work& w = *works_[0];
    w.depth = -1;
    w.allOne = true;
    w.largestBranch = 0;
    w.leaves = nullptr;
    w.skeleton = false;
    std::fill(w.weight.get(), w.weight.get() + in_.rowCount, 1.0f);
    w.nonUnit = 0;
    std::fill(w.testCount.begin(), w.testCount.end(), uint8_t(0));
    std::unique_ptr<TreeNode> tree;
    if (threads > 1 && in_.rowCount >= kParallelRows) StartPool(threads);
    if (pool_) {
        tree = GrowParallel(threads);
    } else {
        BuildRoot(w);
        tree = GrowNode(w, Frame{0, 0, 0, uint32_t(in_.rowCount), 0});
        largestBranch_ = w.largestBranch;
    }
    // The lists are only needed while growing.
    FreeLists(w);
    sortedValues_.clear();
    sortedValues_.shrink_to_fit();
    return tree;
}

// Without threads to be had, the work is done on the calling thread alone.
void Grower::StartPool(int threads) {
    try {
        pool_ = std::make_unique<ThreadPool>(threads);
    } catch (const std::system_error&) {
        pool_.reset();
    }
}

std::unique_ptr<TreeNode> Grower::GrowParallel(int threads) {
    Work& w = *works_[0];
    struct Cleanup {  // whatever way out: no job left and no thread running
        Grower* g;
        ~Cleanup() {
            g->abort_ = true;
            g->pool_.reset();
            g->works_.resize(1);
            g->works_[0]->skeleton = false;
            g->tasks_.clear();
            g->steps_.clear();
            g->pending_.clear();
        }
    } cleanup{this};
    works_.resize(size_t(threads));
    for (int t = 1; t < threads; ++t) {
        works_[size_t(t)] = std::make_unique<Work>();
        MakeWork(*works_[size_t(t)], false);
    }
    taskRows_ = std::max<uint32_t>(kMinTaskRows, uint32_t(in_.rowCount) / (uint32_t(threads) * kTasksPerThread));
    // While the skeleton grows, half the helpers grow its subtrees and the others
    // stay free for its attribute loops.
    pool_->LimitJobs(std::max(1, (threads - 1) / 2));
    w.skeleton = true;
    BuildRoot(w);
    std::unique_ptr<TreeNode> root = GrowNode(w, Frame{0, 0, 0, uint32_t(in_.rowCount), 0});
    w.skeleton = false;
    FreeLists(w);
    pool_->LimitJobs(-1);

    // Progress in the serial order; a job's leaves as soon as it is done.
    bool stopped = false, failed = false;
    for (const Step& s : steps_) {
        if (s.task < 0) {
            Report(s.items);
            if (*cancel_) stopped = true;
        } else {
            Task& t = *tasks_[size_t(s.task)];
            pool_->WaitFor([&t] { return t.done.load(std::memory_order_acquire); });
            if (t.failed) {
                failed = true;
            } else {
                for (float items : t.leaves) {
                    Report(items);
                    if (*cancel_) {
                        stopped = true;
                        break;
                    }
                }
            }
        }
        if (stopped || failed) break;
    }
    if (stopped || failed) {
        abort_ = true;
        pool_->Drain();
    }
    for (auto& t : tasks_) {
        if (!t->done.load(std::memory_order_acquire) || !t->result) continue;
        t->result->parent = t->parent;
        t->parent->branches[size_t(t->branch)] = std::move(t->result);
    }
    pool_.reset();
    for (auto& wk : works_) largestBranch_ = std::max(largestBranch_, wk->largestBranch);
    if (failed) throw std::bad_alloc();
    if (stopped) return root;
    // The skeleton's nodes, children before parents.
    for (const Pending& p : pending_) {
        TreeNode* node = p.node;
        for (int v : p.grown) node->errors += node->branches[size_t(v)]->errors;
        if (double(node->errors) >= double(p.leafErrors) - 0.001) {
            node->branches.clear();
            node->forks = 0;
            node->kind = kLeaf;
        }
    }
    return root;
}

// Copies a branch's lists into a job of its own.
void Grower::Spawn(Work& w, const Frame& f, int parentDepth) {
    auto t = std::make_unique<Task>();
    const uint32_t* ids = w.ids[f.side].data.get() + f.idOff;
    t->ids.Ensure(f.n);
    std::copy(ids, ids + f.n, t->ids.data.get());
    t->ids.top = f.n;
    const Entry* ents = w.ents[f.side].data.get() + f.entOff;
    t->ents.Ensure(size_t(f.n) * nCont_);
    auto copyList = [&](int, int c) {
        std::copy(ents + size_t(c) * f.n, ents + size_t(c + 1) * f.n, t->ents.data.get() + size_t(c) * f.n);
    };
    if (pool_ && f.n >= kAttrParallelRows) pool_->ForEach(nCont_, copyList);
    else
        for (int c = 0; c < nCont_; ++c) copyList(0, c);
    t->ents.top = size_t(f.n) * nCont_;
    const uint32_t* unks = w.unks[f.side].data.get() + f.unkOff;
    t->unks.Ensure(size_t(nCont_));
    std::copy(unks, unks + nCont_, t->unks.data.get());
    t->unks.top = size_t(nCont_);
    for (uint32_t i = 0; i < f.n; ++i)
        if (ids[i] & kWeighted) t->weights.push_back(RowW(w, ids[i]));
    t->testCount = w.testCount;
    t->allOne = w.allOne;
    t->depth = parentDepth;
    steps_.push_back(Step{0.0f, int(tasks_.size())});
    Task* raw = t.get();
    tasks_.push_back(std::move(t));
    pool_->Submit([this, raw](int thread) { RunTask(thread, *raw); });
}

void Grower::RunTask(int thread, Task& t) {
    Work& w = *works_[size_t(thread)];
    if (!abort_.load(std::memory_order_relaxed)) {
        try {
            MakeWork(w, true);
            const uint32_t n = uint32_t(t.ids.top);
            std::swap(w.ids[0], t.ids);
            std::swap(w.ents[0], t.ents);
            std::swap(w.unks[0], t.unks);
            const uint32_t* ids = w.ids[0].data.get();
            w.nonUnit = 0;
            size_t k = 0;
            for (uint32_t i = 0; i < n; ++i) {
                if (!(ids[i] & kWeighted)) continue;
                const float x = t.weights[k++];
                w.weight[RowId(ids[i])] = x;
                if (x != 1.0f) ++w.nonUnit;
            }
            std::vector<float>().swap(t.weights);
            t.ids.Free();
            t.ents.Free();
            t.unks.Free();
            w.testCount = t.testCount;
            w.allOne = t.allOne;
            w.depth = t.depth;
            w.leaves = &t.leaves;
            w.skeleton = false;
            t.result = GrowNode(w, Frame{0, 0, 0, n, 0});
        } catch (const std::bad_alloc&) {
            t.failed = true;
            t.result.reset();
        }
        w.leaves = nullptr;
        w.unknownStack.clear();
        w.savedWeight.clear();
        for (int side = 0; side < 2; ++side) w.ids[side].top = w.ents[side].top = w.unks[side].top = 0;
    }
    t.done.store(true, std::memory_order_release);
}

std::unique_ptr<TreeNode> Grower::Leaf(std::vector<float> dist, int16_t cls, float items, float errors) {
    auto node = std::make_unique<TreeNode>();
    node->kind = kLeaf;
    node->dist = std::move(dist);
    node->cls = cls;
    node->items = items;
    node->errors = errors;
    node->parent = node.get();
    return node;
}

void Grower::Report(float items) {
    covered_ += items;
    double pct = double(covered_) / in_.rowCount * 95.0;
    if (pct > 100) pct = 100;
    if (sink_) sink_->Progress(int16_t(pct));
}

void Grower::LeafProgress(Work& w, const TreeNode& node) {
    if (w.skeleton) steps_.push_back(Step{node.items, -1});
    else if (w.leaves) w.leaves->push_back(node.items);
    else Report(node.items);
}

bool Grower::Stopped(const Work& w) const {
    if (w.skeleton) return false;
    if (w.leaves) return abort_.load(std::memory_order_relaxed);
    return *cancel_ != 0;
}

std::unique_ptr<TreeNode> Grower::GrowNode(Work& w, const Frame& f) {
    ++w.depth;
    const uint32_t n = f.n;
    std::vector<float> dist(size_t(nClass_), 0.0f);
    float cases;
    {
        const uint32_t* ids = w.ids[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) dist[cls_[RowId(ids[i])]] += RowW(w, ids[i]);
        if (w.allOne) {
            cases = float(n);
        } else {
            cases = 0;
            for (uint32_t i = 0; i < n; ++i) cases += RowW(w, ids[i]);
        }
    }
    int best = 0;
    for (int c = 1; c < nClass_; ++c)
        if (dist[size_t(c)] > dist[size_t(best)]) best = c;
    const float bestWeight = dist[size_t(best)];
    const float leafErrors = cases - bestWeight;
    std::unique_ptr<TreeNode> node = Leaf(std::move(dist), classCode_[size_t(best)], cases, leafErrors);

    if (bestWeight == cases || 2.0 * in_.minItems > cases || w.depth >= kMaxDepth) {
        LeafProgress(w, *node);
        Release(w, f);
        --w.depth;
        return node;
    }

    Evaluate(w, f, cases);
    float sum = 0;
    int counted = 0;
    for (int a = 0; a < nAttr_; ++a) {
        if (w.gain[size_t(a)] > kNoGain && (manyValues_ || double(in_.valueCount[a]) < 0.3 * in_.rowCount)) {
            sum += w.gain[size_t(a)];
            ++counted;
        }
    }
    const float average = counted ? float(double(sum) / counted) : 1000000.0f;
    int bestAttr = -1;
    float bestWorth = kNoGain;
    for (int a = 0; a < nAttr_; ++a) {
        const float gain = w.gain[size_t(a)], info = w.info[size_t(a)];
        if (!(gain > kNoGain)) continue;
        float worth = kNoGain;
        if (double(gain) >= double(average) - 0.001 && info > 0.001) worth = float(double(gain) / info);
        if (worth > bestWorth) {
            bestWorth = worth;
            bestAttr = a;
        }
    }
    if (bestAttr < 0) {
        LeafProgress(w, *node);
        Release(w, f);
        --w.depth;
        return node;
    }

    // The test.
    const int a = bestAttr;
    int forks;
    if (contIndex_[a] >= 0) {
        node->kind = kThresholdTest;
        forks = 2;
        node->cut = node->lower = node->upper = FindCut(contIndex_[a], w.bestCut[size_t(a)]);
    } else {
        node->kind = kDiscreteTest;
        forks = in_.valueCount[a];
    }
    node->attr = int16_t(a);
    node->forks = int16_t(forks);
    node->errors = 0;
    node->branches.resize(size_t(forks) + 1);
    w.largestBranch = std::max(w.largestBranch, int32_t(forks));

    std::vector<uint32_t>& groups = w.groupsAt[size_t(w.depth)];
    groups.assign(size_t(forks) + 1, 0);
    const size_t uBase = w.unknownStack.size();
    SplitRows(w, f, *node, forks, groups);
    const uint32_t unknowns = uint32_t(w.unknownStack.size() - uBase);
    float unknownWeight = 0;
    for (size_t i = uBase; i < w.unknownStack.size(); ++i) unknownWeight += w.savedWeight[i];
    const bool savedAllOne = w.allOne;
    if (unknowns) w.allOne = false;
    const float known = cases - unknownWeight;
    ++w.testCount[size_t(a)];

    std::vector<Frame>& kids = w.kidsAt[size_t(w.depth)];
    BuildChildren(w, f, forks, groups, unknowns, kids);
    Release(w, f);

    std::vector<int> grown;
    for (int v = 1; v <= forks; ++v) {
        if (groups[size_t(v)] == 0) {
            node->branches[size_t(v)] = Leaf(node->dist, node->cls, 0.0f, 0.0f);
            node->branches[size_t(v)]->parent = node.get();
            continue;
        }
        const Frame kid = kids[size_t(v)];
        float factor = 1.0f;
        if (unknowns) {
            const uint32_t* gids = w.ids[kid.side].data.get() + kid.idOff + unknowns;
            float gw = 0;
            for (uint32_t i = 0; i < groups[size_t(v)]; ++i) gw += RowW(w, gids[i]);
            factor = float(double(gw) / known);
            SetWeights(w, w.unknownStack.data() + uBase, w.savedWeight.data() + uBase, unknowns, &factor);
        }
        if (w.skeleton && kid.n < taskRows_) {
            Spawn(w, kid, w.depth);
            tasks_.back()->parent = node.get();
            tasks_.back()->branch = v;
            Release(w, kid);
            grown.push_back(v);
        } else {
            node->branches[size_t(v)] = GrowNode(w, kid);
            if (Stopped(w)) {
                w.unknownStack.resize(uBase);
                w.savedWeight.resize(uBase);
                --w.depth;
                return node;
            }
            node->branches[size_t(v)]->parent = node.get();
            if (w.skeleton) grown.push_back(v);
            else node->errors += node->branches[size_t(v)]->errors;
        }
        if (unknowns) SetWeights(w, w.unknownStack.data() + uBase, w.savedWeight.data() + uBase, unknowns, nullptr);
    }
    w.unknownStack.resize(uBase);
    w.savedWeight.resize(uBase);
    --w.testCount[size_t(a)];
    w.allOne = savedAllOne;

    if (w.skeleton) {
        // Its errors are summed once the jobs below it are in.
        pending_.push_back(Pending{node.get(), leafErrors, std::move(grown)});
    } else if (double(node->errors) >= double(leafErrors) - 0.001) {
        node->branches.clear();
        node->forks = 0;
        node->kind = kLeaf;
    }
    --w.depth;
    return node;
}

// The branch of every row of the node (0 for an unknown value): counts per branch, and
// the rows with unknown values, with their weights, pushed in list order. Large nodes
// of the skeleton are cut in pieces, one per thread, put together in order.
void Grower::SplitRows(Work& w, const Frame& f, const TreeNode& node, int forks, std::vector<uint32_t>& groups) {
    const uint32_t* ids = w.ids[f.side].data.get() + f.idOff;
    const Brancher branch = BranchesOf(node);
    uint16_t* branchOf = w.branchOf.get();
    auto piece = [&](uint32_t from, uint32_t to, uint32_t* counts, std::vector<uint32_t>& unk,
                     std::vector<float>& unkW) {
        for (uint32_t i = from; i < to; ++i) {
            const uint32_t item = ids[i];
            const uint32_t id = RowId(item);
            const int b = branch(id);
            branchOf[id] = uint16_t(b);
            ++counts[b];
            if (b == 0) {
                unk.push_back(id);
                unkW.push_back(RowW(w, item));
            }
        }
    };
    const uint32_t n = f.n;
    if (!(pool_ && w.skeleton && n >= kAttrParallelRows)) {
        piece(0, n, groups.data(), w.unknownStack, w.savedWeight);
        return;
    }
    const int pieces = pool_->Threads() * 2;
    std::vector<std::vector<uint32_t>> counts(size_t(pieces), std::vector<uint32_t>(size_t(forks) + 1, 0));
    std::vector<std::vector<uint32_t>> unk(static_cast<size_t>(pieces));
    std::vector<std::vector<float>> unkW(static_cast<size_t>(pieces));
    pool_->ForEach(pieces, [&](int, int p) {
        const uint32_t from = uint32_t(uint64_t(n) * uint32_t(p) / uint32_t(pieces));
        const uint32_t to = uint32_t(uint64_t(n) * uint32_t(p + 1) / uint32_t(pieces));
        piece(from, to, counts[size_t(p)].data(), unk[size_t(p)], unkW[size_t(p)]);
    });
    for (int p = 0; p < pieces; ++p) {
        for (int v = 0; v <= forks; ++v) groups[size_t(v)] += counts[size_t(p)][size_t(v)];
        w.unknownStack.insert(w.unknownStack.end(), unk[size_t(p)].begin(), unk[size_t(p)].end());
        w.savedWeight.insert(w.savedWeight.end(), unkW[size_t(p)].begin(), unkW[size_t(p)].end());
    }
}

Grower::Brancher Grower::BranchesOf(const TreeNode& node) const {
    Brancher b;
    b.threshold = node.kind == kThresholdTest;
    b.col = (*in_.slots)[size_t(node.attr)].data();
    b.cut = node.cut;
    if (!b.threshold) {
        const int k = discIndex_[node.attr];
        if (!valueColumn_[size_t(k)].empty()) {
            b.values = valueColumn_[size_t(k)].data();
            b.stride = 1;
            b.codes = nullptr;
        } else {
            b.values = dval_.data() + k;
            b.stride = size_t(nDisc_);
            b.codes = valueCode_[size_t(k)].data();
        }
    }
    return b;
}

float Grower::FindCut(int c, float midpoint) const {
    const std::vector<float>& sv = sortedValues_[size_t(c)];
    auto it = std::upper_bound(sv.begin(), sv.end(), midpoint);
    if (it == sv.begin()) return midpoint;
    return *(it - 1);
}

// Frequencies of the discrete attributes `active` (indexes) over the node's rows, in
// row order for every table.
void Grower::TallyDiscrete(Work& w, const Frame& f, const int* active, size_t na, std::vector<float*>& tables) {
    tables.clear();
    for (size_t j = 0; j < na; ++j) {
        std::vector<float>& t = w.freq[size_t(active[j])];
        std::fill(t.begin(), t.end(), 0.0f);
        tables.push_back(t.data());
    }
    const uint32_t* ids = w.ids[f.side].data.get() + f.idOff;
    const int C = nClass_;
    for (uint32_t i = 0; i < f.n; ++i) {
        const uint32_t id = RowId(ids[i]);
        const uint16_t* dv = &dval_[size_t(id) * nDisc_];
        const int c = cls_[id];
        const float x = RowW(w, ids[i]);
        for (size_t j = 0; j < na; ++j) tables[j][size_t(dv[active[j]]) * C + c] += x;
    }
}

void Grower::Evaluate(Work& w, const Frame& f, float cases) {
    for (int a = 0; a < nAttr_; ++a) {
        w.gain[size_t(a)] = kNoGain;
        w.info[size_t(a)] = 0;
    }
    // Discrete attributes not yet tested on the path.
    std::vector<int>& active = w.active;
    active.clear();
    for (int k = 0; k < nDisc_; ++k)
        if (w.testCount[size_t(discAttr_[k])] == 0) active.push_back(k);
    std::vector<int>& live = w.live;  // continuous ones still open
    live.clear();
    for (int c = 0; c < nCont_; ++c)
        if (w.testCount[size_t(contAttr_[c])] <= kMaxThresholdTests) live.push_back(c);
    if (pool_ && w.skeleton && f.n >= kAttrParallelRows) {
        // Each continuous attribute on a thread of its own, the discrete ones together
        // (one pass over the rows for all); every sum in the same order as ever.
        const int nd = active.empty() ? 0 : 1;
        pool_->ForEach(nd + int(live.size()), [&](int thread, int i) {
            if (i < nd) {
                TallyDiscrete(w, f, active.data(), active.size(), works_[size_t(thread)]->tables);
                for (int k : active) EvalDiscrete(w, discAttr_[k], cases);
            } else {
                const int c = live[size_t(i - nd)];
                EvalContinuous(w, works_[size_t(thread)]->scratch, contAttr_[c], c, f, cases);
            }
        });
        return;
    }
    if (!active.empty()) {
        TallyDiscrete(w, f, active.data(), active.size(), w.tables);
        for (int k : active) EvalDiscrete(w, discAttr_[k], cases);
    }
    for (int c : live) EvalContinuous(w, w.scratch, contAttr_[c], c, f, cases);
}

// Values not present in any row have no rows at any node: they add nothing to the
// sums, and count as a branch of MinItems only when MinItems is 0.
void Grower::EvalDiscrete(Work& w, int a, float cases) {
    const int k = discIndex_[a];
    const int count = denseCount_[size_t(k)];
    const int absent = in_.valueCount[a] - count;
    const int C = nClass_;
    const float* F = w.freq[size_t(k)].data();
    float* vt = w.valueTotal[size_t(k)].data();
    for (int v = 0; v <= count; ++v) {
        float t = 0;
        for (int c = 0; c < C; ++c) t += F[size_t(v) * C + c];
        vt[v] = t;
    }
    w.unknownRate[size_t(a)] = float(double(vt[0]) / cases);
    if (cases <= vt[0]) {
        w.gain[size_t(a)] = kNoGain;
        w.info[size_t(a)] = 0;
        return;
    }
    const float known = cases - vt[0];
    double classSum = 0;
    for (int c = 0; c < C; ++c) {
        float kc = 0;
        for (int v = 1; v <= count; ++v) kc += F[size_t(v) * C + c];
        classSum += XLog2X(kc);
    }
    const float baseInfo = float((XLog2X(known) - classSum) / known);
    // SplitGain
    float gain = kNoGain;
    if (known != 0) {
        int big = in_.minItems <= 0 ? absent : 0;
        for (int v = 1; v <= count; ++v)
            if (double(vt[v]) >= in_.minItems) ++big;
        if (big >= 2) {
            double s = 0;
            for (int v = 1; v <= count; ++v) s += DistributionInfo(F + size_t(v) * C, C);
            gain = float((double(baseInfo) - s / known) * (1.0 - double(w.unknownRate[size_t(a)])));
        }
    }
    w.gain[size_t(a)] = gain;
    w.info[size_t(a)] = float(double(DistributionInfo(vt, count + 1)) / cases);
}

void Grower::EvalContinuous(Work& w, Scratch& s, int a, int c, const Frame& f, float cases) {
    const int C = nClass_;
    const uint32_t n = f.n;
    const Entry* E = w.ents[f.side].data.get() + f.entOff + size_t(c) * n;
    const uint32_t u = w.unks[f.side].data[f.unkOff + c];
    float* r0 = s.row0.data();
    float* r1 = s.row1.data();
    float* r2 = s.row2.data();
    std::fill(r0, r0 + C, 0.0f);
    std::fill(r1, r1 + C, 0.0f);
    std::fill(r2, r2 + C, 0.0f);
    const float items = cases;
    for (uint32_t i = 0; i < u; ++i) r0[EntryClass(E[i])] += EntryW(w, E[i]);
    float vt0 = 0;
    for (int k = 0; k < C; ++k) vt0 += r0[k];
    const float known = items - vt0;
    const float unknownRate = float(1.0 - double(known) / items);
    w.unknownRate[size_t(a)] = unknownRate;
    w.gain[size_t(a)] = kNoGain;
    w.info[size_t(a)] = 0;
    if (double(known) < 2.0 * in_.minItems) return;

    for (uint32_t i = u; i < n; ++i) r2[EntryClass(E[i])] += EntryW(w, E[i]);
    const float baseInfo = float(double(DistributionInfo(r2, C)) / known);
    float minSplit = float(0.1 * known / (double(in_.maxClass) + 1));
    if (double(minSplit) <= in_.minItems)
        minSplit = in_.minItems == 0 ? 1.0f : float(in_.minItems);
    else if (minSplit > 25) minSplit = 25;

    std::fill(s.dirty1.begin(), s.dirty1.end(), 1);
    std::fill(s.dirty2.begin(), s.dirty2.end(), 1);
    const double highLimit = double(known) - minSplit;
    const double oneMinusUnknown = 1.0 - double(unknownRate);
    const double minItems = in_.minItems;
    float low = 0;
    long tries = 0;
    int64_t bestI = -1;
    float bestGain = 0, bestLow = 0;
    const double* table = WholeTable();
    for (uint32_t i = u; i + 1 < n; ++i) {
        const int k = EntryClass(E[i]);
        const float x = EntryW(w, E[i]);
        low += x;
        r1[k] += x;
        r2[k] -= x;
        s.dirty1[k] = 1;
        s.dirty2[k] = 1;
        if (low < minSplit) continue;
        if (double(low) > highLimit) break;
        if (double(E[i].value) < double(E[i + 1].value) - 0.00001) {
            const float vt1 = low;
            const float vt2 = float(double(known) - low);
            float g = kNoGain;
            if (double(vt1) >= minItems && double(vt2) >= minItems) {
                double d1 = DistributionInfoCached(r1, C, s.f1.data(), s.dirty1.data(), table);
                double d2 = DistributionInfoCached(r2, C, s.f2.data(), s.dirty2.data(), table);
                g = float((double(baseInfo) - (d1 + d2) / known) * oneMinusUnknown);
            }
            ++tries;
            if (bestI < 0 || g > bestGain) {
                bestGain = g;
                bestI = i;
                bestLow = low;
            }
        }
    }
    const double cost = tries ? std::log(double(tries)) * kLog2e / items : 0.0;
    if (bestI >= 0 && double(bestGain) - cost > 0) {
        w.gain[size_t(a)] = float(double(bestGain) - cost);
        w.bestCut[size_t(a)] = float((double(E[bestI].value) + double(E[bestI + 1].value)) / 2);
        float totals[3] = {vt0, bestLow, float(double(known) - bestLow)};
        w.info[size_t(a)] = float(double(DistributionInfo(totals, 3)) / items);
    }
}

// Builds the branches' lists in the other arena set, branch 1 on top, so that it is
// grown first and, when done, leaves branch 2 on top.
void Grower::BuildChildren(Work& w, const Frame& f, int forks, const std::vector<uint32_t>& groups,
                           uint32_t unknowns, std::vector<Frame>& kids) {
    const uint32_t n = f.n;
    const int nc = nCont_;
    const int side = 1 - f.side;
    kids.assign(size_t(forks) + 1, Frame{});
    std::vector<int>& live = w.live;
    live.clear();
    size_t idTop = w.ids[side].top, entTop = w.ents[side].top, unkTop = w.unks[side].top;
    for (int v = forks; v >= 1; --v) {
        if (!groups[size_t(v)]) continue;
        uint32_t m = unknowns + groups[size_t(v)];
        kids[size_t(v)] = Frame{idTop, entTop, unkTop, m, side};
        idTop += m;
        entTop += size_t(nc) * m;
        unkTop += size_t(nc);
        live.push_back(v);
    }
    w.ids[side].Ensure(idTop);
    w.ents[side].Ensure(entTop);
    w.unks[side].Ensure(unkTop);
    std::vector<uint32_t>& pos = w.pos;
    pos.assign(size_t(forks) + 1, 0);
    const bool binary = forks == 2 && live.size() == 2;
    if (binary) {
        // Both branches non-empty: write every item to both lists and advance the
        // cursors by membership, which avoids a mispredicted branch per row.
        uint32_t* a1 = w.ids[side].data.get() + kids[1].idOff;
        uint32_t* a2 = w.ids[side].data.get() + kids[2].idOff;
        uint32_t u1 = 0, u2 = 0, g1 = unknowns, g2 = unknowns;
        const uint32_t* src = w.ids[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t item = src[i];
            const uint32_t b = w.branchOf[RowId(item)];
            const uint32_t unknown = b == 0;
            const uint32_t out = item | (unknown << 31);
            const uint32_t p1 = unknown ? u1 : g1;
            const uint32_t p2 = unknown ? u2 : g2;
            // A write for the other branch lands on the slot the next item of this one
            // takes; none may go past the end of the list.
            if (p1 < kids[1].n) a1[p1] = out;
            if (p2 < kids[2].n) a2[p2] = out;
            u1 += unknown;
            u2 += unknown;
            g1 += b == 1;
            g2 += b == 2;
        }
    } else {
        uint32_t* idA = w.ids[side].data.get();
        std::vector<uint32_t>& upos = w.upos;
        upos.assign(size_t(forks) + 1, 0);
        const uint32_t* src = w.ids[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t item = src[i];
            int b = w.branchOf[RowId(item)];
            if (b == 0) {
                for (int v : live) idA[kids[size_t(v)].idOff + upos[size_t(v)]++] = item | kWeighted;
            } else {
                idA[kids[size_t(b)].idOff + unknowns + pos[size_t(b)]++] = item;
            }
        }
    }
    if (pool_ && w.skeleton && n >= kAttrParallelRows && nc > 1) {
        // One attribute's lists per thread; each thread's cursors are its own.
        pool_->ForEach(nc, [&](int thread, int c) {
            Work& tw = *works_[size_t(thread)];
            tw.dst.resize(size_t(forks) + 1);
            tw.pos.resize(size_t(forks) + 1);
            SplitLists(w, f, forks, kids, c, tw.dst.data(), tw.pos.data());
        });
    } else {
        w.dst.resize(size_t(forks) + 1);
        for (int c = 0; c < nc; ++c) SplitLists(w, f, forks, kids, c, w.dst.data(), pos.data());
    }
    w.ids[side].top = idTop;
    w.ents[side].top = entTop;
    w.unks[side].top = unkTop;
}

// The lists of continuous attribute c for every branch: unknown values of it first,
// then the known ones in order.
void Grower::SplitLists(Work& w, const Frame& f, int forks, const std::vector<Frame>& kids, int c, Entry** dst,
                        uint32_t* pos) {
    const uint32_t n = f.n;
    const int side = 1 - f.side;
    const Entry* s = w.ents[f.side].data.get() + f.entOff + size_t(c) * n;
    const uint32_t unkC = w.unks[f.side].data[f.unkOff + c];
    Entry* eA = w.ents[side].data.get();
    uint32_t* uA = w.unks[side].data.get();
    const std::vector<int>& live = w.live;
    const uint16_t* branchOf = w.branchOf.get();
    for (int v : live) {
        dst[v] = eA + kids[size_t(v)].entOff + size_t(c) * kids[size_t(v)].n;
        pos[v] = 0;
    }
    if (forks == 2 && live.size() == 2) {
        Entry* d1 = dst[1];
        Entry* d2 = dst[2];
        const uint32_t m1 = kids[1].n, m2 = kids[2].n;
        uint32_t p1 = 0, p2 = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (i == unkC) {
                uA[kids[1].unkOff + c] = p1;
                uA[kids[2].unkOff + c] = p2;
            }
            Entry e = s[i];
            const uint32_t b = branchOf[EntryId(e)];
            e.id |= uint32_t(b == 0) << 31;
            if (p1 < m1) d1[p1] = e;
            if (p2 < m2) d2[p2] = e;
            p1 += b != 2;
            p2 += b != 1;
        }
        if (unkC >= n) {
            uA[kids[1].unkOff + c] = p1;
            uA[kids[2].unkOff + c] = p2;
        }
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (i == unkC)
            for (int v : live) uA[kids[size_t(v)].unkOff + c] = pos[v];
        Entry e = s[i];
        int b = branchOf[EntryId(e)];
        if (b == 0) {
            e.id |= kWeighted;
            for (int v : live) dst[v][pos[v]++] = e;
        } else {
            dst[b][pos[b]++] = e;
        }
    }
    if (unkC >= n)
        for (int v : live) uA[kids[size_t(v)].unkOff + c] = pos[v];
}

// ------------------------------------------------------------------ pruning

Grower::Verdict Grower::Decide(double leafTotal, double branchErrors, double treeErrors) {
    if (leafTotal <= branchErrors + 0.1 && leafTotal <= treeErrors + 0.1) return Verdict::Leaf;
    if (branchErrors <= treeErrors + 0.1) return Verdict::Raise;
    return Verdict::Keep;
}

float Grower::ExtraErrors(double n, double e) const {
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
class Grower::Jobs {
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
struct Grower::PruneTask {
    TreeNode* node = nullptr;
    int branch = 0;
    bool allOne = true;
    int32_t seen = -1;
    std::vector<uint32_t> rows;
    std::vector<float> weights;
    float result = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// A branch judged by a job; its rows stay with the frame that waits for it.
struct Grower::JudgeTask {
    const TreeNode* node = nullptr;
    int branch = 0;
    JudgeInput rows;
    float result = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// A piece of a level of Judge.
struct Grower::PieceTask {
    int piece = 0;
    bool failed = false;
    std::atomic<bool> done{false};
};

// f(p) for p in 0..pieces-1, p = 0 on this thread, the others as jobs.
template <class F>
void Grower::RunPieces(int pieces, int thread, F f) {
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
struct Grower::ReplayTask {
    const TreeNode* grown = nullptr;
    int branch = 0;
    int32_t seen = 0;
    Pruned result;
    bool failed = false;
    std::atomic<bool> done{false};
};

// Scratch of one level of Judge.
struct Grower::JudgeLevel {
    std::vector<float> dist, known, results;
    std::vector<uint32_t> counts, at, pieceCounts, pieceClasses;
    Arena<uint16_t> branch, cls;
    Arena<uint32_t> ids;  // the rows sorted by branch: unknown values first, then each branch's
    Arena<float> weights;
};

// Scratch of a Judge from the top: the rows it starts with, and every level's.
struct Grower::JudgeScratch {
    Arena<uint32_t> ids;
    Arena<float> weights;
    std::vector<JudgeLevel> levels = std::vector<JudgeLevel>(kMaxDepth + 4);
};

// One JudgeScratch from the free ones, given back when done with: the smallest that
// has room for `rows` already, else the largest, so that few of them grow large.
class Grower::ScratchLease {
public:
    ScratchLease(Grower& g, uint32_t rows) : g_(g) {
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
        if (!s_) s_ = std::make_unique<JudgeScratch>();
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
    Grower& g_;
    std::unique_ptr<JudgeScratch> s_;
};

std::unique_ptr<TreeNode> Grower::Prune(const TreeNode& grown, float cf, int threads) {
    cf_ = cf;
    coeff_ = Coefficient(cf);
    Work& m = *works_[0];
    SizePruneLevels(m);
    m.pruneStack.clear();
    m.order.resize(size_t(in_.rowCount));
    std::unique_ptr<TreeNode> root;  // outlives the pool
    struct Cleanup {
        Grower* g;
        ~Cleanup() {
            g->pool_.reset();
            g->pruneWorks_.clear();
            g->pruneMain_ = nullptr;
        }
    } cleanup{this};
    if (threads > 1 && in_.rowCount >= kParallelRows) StartPool(threads);
    if (pool_) {
        pruneWorks_.resize(size_t(threads));
        for (auto& pw : pruneWorks_) pw = std::make_unique<Work>();
        pruneMain_ = &m;
        taskRows_ = std::max<uint32_t>(kMinTaskRows, uint32_t(in_.rowCount) / (uint32_t(threads) * kTasksPerThread));
    }
    if (seenTree_ == &grown) {
        Pruned p = Replay(m, grown, 0, 0);
        root = Keep(p);
        root->parent = grown.parent;
        return root;
    }

    // The first pruning of this tree walks all the rows and notes what the next ones reuse.
    seenTree_ = nullptr;
    seen_.clear();
    sorted_.clear();
    seen_.resize(size_t(CountNodes(grown)));
    Number(grown, 0);
    seenDist_.assign(seen_.size() * size_t(nClass_), 0.0f);
    std::fill(m.weight.get(), m.weight.get() + in_.rowCount, 1.0f);
    m.nonUnit = 0;
    m.allOne = true;
    for (size_t i = 0; i < m.order.size(); ++i) m.order[i] = uint32_t(i);
    root = CopyTree(grown);
    Estimate(m, root.get(), 0, in_.rowCount - 1, 0);
    seenTree_ = &grown;
    return root;
}

// Pre-order indexes of the nodes under g (g at `at`), as CountNodes counts them; a node
// with a test gets a place in sorted_. Returns the subtree's size.
int32_t Grower::Number(const TreeNode& g, int32_t at) {
    int32_t size = 1;
    if (g.kind == kDiscreteTest) {
        // Pruning reads the tested values row after row: one column of them is closer
        // together than the rows' work table.
        const int k = discIndex_[g.attr];
        std::vector<uint16_t>& column = valueColumn_[size_t(k)];
        if (column.empty()) {
            column.resize(size_t(in_.rowCount));
            for (size_t i = 0; i < column.size(); ++i)
                column[i] = valueCode_[size_t(k)][dval_[i * size_t(nDisc_) + size_t(k)]];
        }
    }
    if (g.kind != kLeaf) {
        seen_[size_t(at)].sorted = int32_t(sorted_.size());
        sorted_.emplace_back();
        for (int v = 1; v <= g.forks && v < int(g.branches.size()); ++v)
            if (g.branches[size_t(v)]) size += Number(*g.branches[size_t(v)], at + size);
    }
    seen_[size_t(at)].size = size;
    return size;
}

// Sized once, so that a level's scratch stays in place under deeper levels: the
// recursion goes one level deeper than the tree, whose depth is at most kMaxDepth.
void Grower::SizePruneLevels(Work& w) {
    w.pruneDepth = -1;
    w.pruneCounts.resize(kMaxDepth + 4);
    w.pruneAt.resize(kMaxDepth + 4);
    w.pruneSaved.resize(kMaxDepth + 4);
    w.pruneResults.resize(kMaxDepth + 4);
}

Grower::Work& Grower::PruneWork(int thread) {
    Work& w = *pruneWorks_[size_t(thread)];
    if (!w.weight) {
        w.weight = std::make_unique_for_overwrite<float[]>(size_t(in_.rowCount));
        w.branchOf = std::make_unique_for_overwrite<uint16_t[]>(size_t(in_.rowCount));
    }
    SizePruneLevels(w);
    w.pruneStack.clear();
    return w;
}

void Grower::RunPruneTask(int thread, PruneTask& t) {
    Work& w = PruneWork(thread);
    w.order.swap(t.rows);
    w.nonUnit = 0;
    for (size_t i = 0; i < w.order.size(); ++i) {
        w.weight[w.order[i]] = t.weights[i];
        if (t.weights[i] != 1.0f) ++w.nonUnit;
    }
    std::vector<float>().swap(t.weights);
    w.allOne = t.allOne;
    t.result = Estimate(w, t.node, 0, int32_t(w.order.size()) - 1, t.seen);
}

// The estimate of a node's own rows, as the first pruning made it.
void Grower::Note(Work& m, int32_t seen, int32_t first, int32_t last, float cases, const std::vector<float>& dist,
                  int best, float leafErrors) {
    Seen& s = seen_[size_t(seen)];
    s.rows = uint32_t(last - first + 1);
    s.cases = cases;
    s.leafErrors = leafErrors;
    s.cls = classCode_[size_t(best)];
    s.allOne = m.allOne;
    std::copy(dist.begin(), dist.end(), seenDist_.begin() + long(seen) * nClass_);
}

// A tested node's rows as its test sorted them (stack[from, to)), with the leaf
// estimate of them in this order: what judging its largest branch on all of them
// finds when that branch is a leaf.
void Grower::NoteSorted(Work& m, int32_t seen, size_t from, size_t to) {
    Sorted& s = sorted_[size_t(seen_[size_t(seen)].sorted)];
    const std::vector<uint32_t>& stack = m.pruneStack;
    s.rows.assign(stack.begin() + long(from), stack.begin() + long(to));
    s.weights.clear();
    std::vector<float> dist(size_t(nClass_), 0.0f);
    float cases = m.allOne ? float(to - from) : 0.0f;
    bool ones = true;
    for (size_t i = from; i < to; ++i) {
        const float x = W(m, stack[i]);
        if (!m.allOne) cases += x;
        dist[cls_[stack[i]]] += x;
        ones = ones && x == 1.0f;
    }
    if (!ones) {
        s.weights.resize(to - from);
        for (size_t i = from; i < to; ++i) s.weights[i - from] = W(m, stack[i]);
    }
    s.cases = cases;
    s.leafErrors = cases - *std::max_element(dist.begin(), dist.end());
}

// A node's noted rows with their weights, at the start of m's lists.
void Grower::LoadRows(Work& m, const Seen& s) const {
    const Sorted& sorted = sorted_[size_t(s.sorted)];
    const size_t n = sorted.rows.size();
    if (m.order.size() < n) m.order.resize(n);
    m.nonUnit = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t id = sorted.rows[i];
        const float x = sorted.weights.empty() ? 1.0f : sorted.weights[i];
        m.order[i] = id;
        m.weight[id] = x;
        if (x != 1.0f) ++m.nonUnit;
    }
    m.allOne = s.allOne;
    m.pruneStack.clear();
}

// Sorts the rows order[first, last] by t's test, as Estimate leaves them: the rows with
// an unknown value first, then each branch's, each group in the order it had. The
// sorted rows are at stack[base, ...), counts per branch in `counts`.
void Grower::SortRows(Work& m, const TreeNode& t, int32_t first, int32_t last, std::vector<uint32_t>& counts,
                      std::vector<size_t>& at) {
    std::vector<uint32_t>& stack = m.pruneStack;
    const size_t base = stack.size();
    const int forks = t.forks;
    counts.assign(size_t(forks) + 1, 0);
    const Brancher branch = BranchesOf(t);
    for (int32_t i = first; i <= last; ++i) {
        const uint32_t id = m.order[size_t(i)];
        const int b = branch(id);
        m.branchOf[id] = uint16_t(b);
        ++counts[size_t(b)];
    }
    at.assign(size_t(forks) + 1, 0);
    size_t sum = base;
    for (int v = 0; v <= forks; ++v) {
        at[size_t(v)] = sum;
        sum += counts[size_t(v)];
    }
    stack.resize(sum);
    for (int32_t i = first; i <= last; ++i) {
        const uint32_t id = m.order[size_t(i)];
        stack[at[m.branchOf[id]]++] = id;
    }
}

// Raises branch b into its parent's place: b is estimated again, and pruned, on all the
// parent's rows (order[first, last]). Judging b on them left the rows sorted by b's
// test, when it has one; they are summed in that order.
void Grower::Raise(Work& m, TreeNode* b, int32_t first, int32_t last) {
    if (b->kind != kLeaf) {
        const size_t base = m.pruneStack.size();
        ++m.pruneDepth;
        SortRows(m, *b, first, last, m.pruneCounts[size_t(m.pruneDepth)], m.pruneAt[size_t(m.pruneDepth)]);
        --m.pruneDepth;
        std::copy(m.pruneStack.begin() + long(base), m.pruneStack.end(), m.order.begin() + first);
        m.pruneStack.resize(base);
    }
    Estimate(m, b, first, last, -1);
}

void Grower::RunJudgeTask(int thread, JudgeTask& t) {
    ScratchLease s(*this, t.rows.unknowns + t.rows.n);
    t.result = Judge(*t.node, t.rows, thread, true, *s, 0);
}

// Judges t on n rows that fill(ids, weights) writes, in order.
template <class Fill>
float Grower::JudgeAll(const TreeNode& t, uint32_t n, bool allOne, int thread, bool spawn, Fill fill) {
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
    return Judge(t, in, thread, spawn, s, 0);
}

// The estimate of subtree t on the rows `in` (in this order), leaving t as it is: the
// sum of its leaves' estimates. A branch with rows of its own gets the rows with an
// unknown value of the test too, their weights scaled by its share of the known
// weight. Every sum runs over the rows in the order Estimate would take them. With
// `spawn`, branches beside the largest one are jobs; their rows stay in this level.
float Grower::Judge(const TreeNode& t, const JudgeInput& in, int thread, bool spawn, JudgeScratch& s, size_t depth) {
    JudgeLevel& L = s.levels[depth];
    const uint32_t n = in.unknowns + in.n;
    L.dist.assign(size_t(nClass_), 0.0f);
    float* dist = L.dist.data();
    float cases = in.allOne ? float(n) : 0.0f;
    // Each row of [from, to) in order, with its weight.
    auto each = [&, in](uint32_t from, uint32_t to, auto f) {
        for (uint32_t i = from; i < std::min(to, in.unknowns); ++i)
            f(i, in.unknownIds[i], in.unknownWeights[i] * in.factor);
        for (uint32_t i = std::max(from, in.unknowns); i < to; ++i)
            f(i, in.ids[i - in.unknowns], in.weights ? in.weights[i - in.unknowns] : 1.0f);
    };
    const bool test = t.kind != kLeaf;
    const int forks = test ? t.forks : 0;
    const size_t width = size_t(forks) + 1;
    std::vector<uint32_t>& counts = L.counts;
    counts.assign(width, 0);
    Brancher branch;
    uint16_t* branchOf = nullptr;
    if (test) {
        branch = BranchesOf(t);
        L.branch.Ensure(n);
        branchOf = L.branch.data.get();
    }
    // A large level reads by row id and sorts in pieces, one per thread; the sums run
    // over the rows in order all the same.
    const int pieces = spawn && pool_ && n >= 2 * kPieceRows
                           ? int(std::min<uint32_t>(uint32_t(pool_->Threads()), n / kPieceRows))
                           : 1;
    auto bounds = [&](int p) {
        return std::pair<uint32_t, uint32_t>(uint32_t(uint64_t(n) * uint32_t(p) / uint32_t(pieces)),
                                             uint32_t(uint64_t(n) * uint32_t(p + 1) / uint32_t(pieces)));
    };
    if (pieces == 1) {
        each(0, n, [&](uint32_t i, uint32_t id, float x) {
            if (!in.allOne) cases += x;
            dist[cls_[id]] += x;
            if (test) {
                const int b = branch(id);
                branchOf[i] = uint16_t(b);
                ++counts[size_t(b)];
            }
        });
    } else {
        L.cls.Ensure(n);
        uint16_t* cls = L.cls.data.get();
        L.pieceCounts.assign(size_t(pieces) * width, 0);
        // Weights of one: a float sum of them is their count.
        const bool counted = in.allOne && n <= kExactCount;
        L.pieceClasses.assign(counted ? size_t(pieces) * size_t(nClass_) : 0, 0);
        RunPieces(pieces, thread, [&](int p) {
            uint32_t* c = L.pieceCounts.data() + size_t(p) * width;
            uint32_t* k = L.pieceClasses.data() + size_t(p) * size_t(nClass_);
            const auto [from, to] = bounds(p);
            each(from, to, [&](uint32_t i, uint32_t id, float) {
                cls[i] = cls_[id];
                if (counted) ++k[cls[i]];
                if (test) {
                    const int b = branch(id);
                    branchOf[i] = uint16_t(b);
                    ++c[b];
                }
            });
        });
        if (counted) {
            for (int c = 0; c < nClass_; ++c) {
                uint32_t count = 0;
                for (int p = 0; p < pieces; ++p) count += L.pieceClasses[size_t(p) * size_t(nClass_) + size_t(c)];
                dist[c] = float(count);
            }
        } else {
            each(0, n, [&](uint32_t i, uint32_t, float x) {
                if (!in.allOne) cases += x;
                dist[cls[i]] += x;
            });
        }
        for (int p = 0; p < pieces; ++p)
            for (size_t v = 0; v < width; ++v) counts[v] += L.pieceCounts[size_t(p) * width + v];
    }
    const float leafErrors = cases - *std::max_element(L.dist.begin(), L.dist.end());
    if (!test) return float(LeafTotal(cases, leafErrors));

    L.at.assign(width, 0);
    uint32_t sum = 0;
    for (size_t v = 0; v < width; ++v) {
        L.at[v] = sum;
        sum += counts[v];
    }
    L.ids.Ensure(n);
    L.weights.Ensure(n);
    uint32_t* ids = L.ids.data.get();
    float* weights = L.weights.data.get();
    auto scatter = [&](uint32_t from, uint32_t to, uint32_t* at) {
        each(from, to, [&](uint32_t i, uint32_t id, float x) {
            const uint32_t p = at[branchOf[i]]++;
            ids[p] = id;
            weights[p] = x;
        });
    };
    if (pieces == 1) {
        scatter(0, n, L.at.data());
    } else {
        // Each piece's rows go after those of the pieces before it.
        std::vector<uint32_t>& starts = L.pieceCounts;
        for (size_t v = 0; v < width; ++v) {
            uint32_t next = L.at[v];
            for (int p = 0; p < pieces; ++p) {
                const uint32_t c = starts[size_t(p) * width + v];
                starts[size_t(p) * width + v] = next;
                next += c;
            }
        }
        RunPieces(pieces, thread, [&](int p) {
            const auto [from, to] = bounds(p);
            scatter(from, to, starts.data() + size_t(p) * width);
        });
    }
    const uint32_t unknowns = counts[0];
    float known = 0;
    L.known.assign(size_t(forks) + 1, 0.0f);
    if (in.allOne && n <= kExactCount) {
        known = float(n - unknowns);
        for (int v = 1; v <= forks; ++v) L.known[size_t(v)] = float(counts[size_t(v)]);
    } else {
        for (uint32_t v = 1, i = unknowns; v <= uint32_t(forks); ++v) {
            float group = 0;
            for (const uint32_t end = i + counts[v]; i < end; ++i) {
                known += weights[i];
                group += weights[i];
            }
            L.known[v] = group;
        }
    }
    int inlined = 1;
    for (int v = 2; v <= forks; ++v)
        if (counts[size_t(v)] > counts[size_t(inlined)]) inlined = v;
    auto rowsOf = [&](int v) {
        JudgeInput r;
        r.unknownIds = ids;
        r.unknownWeights = weights;
        r.unknowns = unknowns;
        r.factor = float(double(L.known[size_t(v)]) / known);
        uint32_t from = unknowns;
        for (int u = 1; u < v; ++u) from += counts[size_t(u)];
        r.ids = ids + from;
        r.weights = weights + from;
        r.n = counts[size_t(v)];
        r.allOne = in.allOne && unknowns == 0;
        return r;
    };
    auto handOut = [&](int v) {
        return spawn && pool_ && v != inlined && counts[size_t(v)] && unknowns + counts[size_t(v)] >= kMinTaskRows;
    };
    L.results.assign(size_t(forks) + 1, 0.0f);
    Jobs<JudgeTask> jobs(pool_.get(), thread);
    for (int v = 1; v <= forks; ++v) {
        if (!handOut(v)) continue;
        auto job = std::make_unique<JudgeTask>();
        job->node = t.branches[size_t(v)].get();
        job->branch = v;
        job->rows = rowsOf(v);
        jobs.Add(std::move(job), [this](int th, JudgeTask& j) { RunJudgeTask(th, j); });
    }
    for (int v = 1; v <= forks; ++v) {
        if (counts[size_t(v)] == 0 || handOut(v)) continue;
        L.results[size_t(v)] = Judge(*t.branches[size_t(v)], rowsOf(v), thread, spawn, s, depth + 1);
    }
    jobs.Wait();
    jobs.ForEach([&](JudgeTask& j) { L.results[size_t(j.branch)] = j.result; });
    float total = 0;
    for (int v = 1; v <= forks; ++v)
        if (counts[size_t(v)]) total += L.results[size_t(v)];
    return total;
}

std::unique_ptr<TreeNode> Grower::Keep(Pruned& p) const {
    if (p.node) return std::move(p.node);
    // A leaf in place of the grown node: its test fields stay, as on any node pruned
    // to a leaf.
    const TreeNode& g = *p.grown;
    auto n = std::make_unique<TreeNode>();
    const Seen& s = seen_[size_t(p.seen)];
    n->kind = kLeaf;
    n->cls = s.cls;
    n->items = s.cases;
    n->dist.assign(seenDist_.begin() + long(p.seen) * nClass_, seenDist_.begin() + long(p.seen + 1) * nClass_);
    n->errors = p.errors;
    n->attr = g.attr;
    n->forks = g.kind == kLeaf ? g.forks : 0;
    n->cut = g.cut;
    n->lower = g.lower;
    n->upper = g.upper;
    n->parent = n.get();
    return n;
}

void Grower::RunReplayTask(int thread, ReplayTask& t) {
    t.result = Replay(PruneWork(thread), *t.grown, t.seen, thread);
}

// The pruning of the subtree of grown node g from what the first pruning noted. Every
// decision compares the same figures as that pruning did: the node's own estimate and
// its branches' from the notes, and a largest branch that kept a test is judged on the
// rows again, in their noted order. m serves a branch that takes its parent's place.
Grower::Pruned Grower::Replay(Work& m, const TreeNode& g, int32_t seen, int thread) {
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
        if (seen_[size_t(at[size_t(v)])].rows == 0) kids[size_t(v)].node = CopyTree(child);  // no rows: as grown
        else kids[size_t(v)] = Replay(m, child, at[size_t(v)], thread);
    }
    jobs.Wait();
    jobs.ForEach([&](ReplayTask& j) { kids[size_t(j.branch)] = std::move(j.result); });
    float treeErrors = 0;
    for (int v = 1; v <= forks; ++v)
        if (seen_[size_t(at[size_t(v)])].rows) treeErrors += kids[size_t(v)].errors;

    const int largest = s.largest;
    double branchErrors = std::numeric_limits<double>::infinity();
    if (largest) {
        Pruned& b = kids[size_t(largest)];
        const Sorted& sorted = sorted_[size_t(s.sorted)];
        if (b.IsLeaf()) {
            // A leaf's estimate depends on the rows alone.
            branchErrors = double(float(LeafTotal(sorted.cases, sorted.leafErrors)));
        } else {
            ScratchLease lease(*this, s.rows);
            JudgeInput in;
            in.ids = sorted.rows.data();
            in.weights = sorted.weights.empty() ? nullptr : sorted.weights.data();
            in.n = s.rows;
            in.allOne = s.allOne;
            branchErrors = double(Judge(*b.node, in, thread, true, *lease, 0));
        }
    }
    const Verdict verdict = Decide(leafTotal, branchErrors, treeErrors);
    if (verdict == Verdict::Leaf) return leaf;
    if (verdict == Verdict::Raise) {
        std::unique_ptr<TreeNode> b = Keep(kids[size_t(largest)]);
        LoadRows(m, s);
        Raise(m, b.get(), 0, int32_t(s.rows) - 1);
        Pruned raised;
        raised.errors = b->errors;
        raised.node = std::move(b);
        return raised;
    }
    auto n = std::make_unique<TreeNode>();
    n->kind = g.kind;
    n->cls = s.cls;
    n->items = s.cases;
    n->dist.assign(seenDist_.begin() + long(seen) * nClass_, seenDist_.begin() + long(seen + 1) * nClass_);
    n->errors = treeErrors;
    n->attr = g.attr;
    n->forks = g.forks;
    n->cut = g.cut;
    n->lower = g.lower;
    n->upper = g.upper;
    n->branches.resize(g.branches.size());
    for (int v = 1; v <= forks; ++v) {
        n->branches[size_t(v)] = Keep(kids[size_t(v)]);
        n->branches[size_t(v)]->parent = n.get();
    }
    Pruned kept;
    kept.errors = treeErrors;
    kept.node = std::move(n);
    return kept;
}
// Estimates node t on its rows order[first, last] (weights as set) and prunes it: to a
// leaf, to its largest branch raised into its place, or it keeps its test. seen >= 0:
// t is a node of the grown tree at that index, reached by its own rows, and the first
// pruning notes what it finds there.
float Grower::Estimate(Work& m, TreeNode* t, int32_t first, int32_t last, int32_t seen) {
    const int C = nClass_;
    std::vector<uint32_t>& order = m.order;
    std::vector<uint32_t>& stack = m.pruneStack;
    // Scratch per recursion level (the recursion is no deeper than the tree).
    struct Level {
        Work& w;
        explicit Level(Work& work) : w(work) { ++w.pruneDepth; }
        ~Level() { --w.pruneDepth; }
    } level(m);
    std::vector<float> dist(size_t(C), 0.0f);
    float cases;
    if (m.allOne) {
        cases = float(last - first + 1);
    } else {
        cases = 0;
        for (int32_t i = first; i <= last; ++i) cases += W(m, order[i]);
    }
    for (int32_t i = first; i <= last; ++i) dist[cls_[order[i]]] += W(m, order[i]);
    int best = classDense_[size_t(t->cls)];
    for (int c = 0; c < C; ++c)
        if (dist[c] > dist[best]) best = c;
    const float leafErrors = cases - dist[best];
    if (seen >= 0) Note(m, seen, first, last, cases, dist, best, leafErrors);
    t->items = cases;
    t->cls = classCode_[size_t(best)];
    t->dist = dist;
    const double leafTotal = LeafTotal(cases, leafErrors);
    if (t->kind == kLeaf) {
        t->errors = float(leafTotal);
        return t->errors;
    }

    // One pass sorts the rows by branch: unknown values first, then each group; a
    // branch is estimated on the unknowns followed by its own group.
    const int forks = t->forks;
    const size_t base = stack.size();
    std::vector<uint32_t>& counts = m.pruneCounts[size_t(m.pruneDepth)];
    SortRows(m, *t, first, last, counts, m.pruneAt[size_t(m.pruneDepth)]);
    const size_t sum = stack.size();
    const uint32_t unknowns = counts[0];
    std::copy(stack.begin() + long(base), stack.begin() + long(base + unknowns), order.begin() + first);
    const int32_t kp = first + int32_t(unknowns);
    float known = 0;
    for (size_t i = base + unknowns; i < sum; ++i) known += W(m, stack[i]);
    if (seen >= 0) NoteSorted(m, seen, base, sum);
    const bool saved = m.allOne;
    if (kp != first) m.allOne = false;
    // Each branch starts from the node's own weights of the unknown rows.
    std::vector<float>& savedWeight = m.pruneSaved[size_t(m.pruneDepth)];
    savedWeight.resize(unknowns);
    for (uint32_t i = 0; i < unknowns; ++i) savedWeight[i] = W(m, stack[base + i]);
    // On the calling thread of a parallel pruning, small branches are jobs.
    const bool spawn = pruneMain_ == &m;
    std::vector<float>& results = m.pruneResults[size_t(m.pruneDepth)];
    results.assign(size_t(forks) + 1, 0.0f);
    Jobs<PruneTask> jobs(pool_.get(), 0);
    std::vector<PruneTask*> jobOf(size_t(forks) + 1, nullptr);
    float maxFactor = 0;
    int largest = 0;
    size_t groupStart = base + unknowns;
    int32_t childSeen = seen + 1;
    for (int v = 1; v <= forks; ++v) {
        const size_t g = counts[v];
        const size_t from = groupStart;
        groupStart += g;
        const int32_t branchSeen = seen >= 0 ? childSeen : -1;
        if (seen >= 0) childSeen += seen_[size_t(childSeen)].size;
        if (g == 0) continue;
        std::copy(stack.begin() + long(from), stack.begin() + long(from + g), order.begin() + kp);
        const int32_t ep = kp + int32_t(g) - 1;
        float gw = 0;
        for (int32_t i = kp; i <= ep; ++i) gw += W(m, order[i]);
        const float factor = float(double(gw) / known);
        if (factor >= maxFactor) {
            largest = v;
            maxFactor = factor;
        }
        SetWeights(m, stack.data() + base, savedWeight.data(), unknowns, &factor);
        if (spawn && uint32_t(ep - first + 1) < taskRows_) {
            auto job = std::make_unique<PruneTask>();
            job->node = t->branches[v].get();
            job->branch = v;
            job->allOne = m.allOne;
            job->seen = branchSeen;
            job->rows.assign(order.begin() + first, order.begin() + ep + 1);
            job->weights.reserve(job->rows.size());
            for (uint32_t id : job->rows) job->weights.push_back(W(m, id));
            jobOf[size_t(v)] = &jobs.Add(std::move(job), [this](int th, PruneTask& j) { RunPruneTask(th, j); });
        } else {
            results[size_t(v)] = Estimate(m, t->branches[v].get(), first, ep, branchSeen);
        }
        std::copy(stack.begin() + long(base), stack.begin() + long(base + unknowns), order.begin() + first);
        SetWeights(m, stack.data() + base, savedWeight.data(), unknowns, nullptr);
    }
    // Back to the node's own rows, in any order.
    std::copy(stack.begin() + long(base), stack.begin() + long(sum), order.begin() + first);
    stack.resize(base);
    m.allOne = saved;
    if (seen >= 0) seen_[size_t(seen)].largest = int16_t(largest);

    // The jobs' results are needed for the sum only; the largest branch's before it is
    // judged on all the rows, so the other jobs run on meanwhile.
    double branchErrors = std::numeric_limits<double>::infinity();
    if (largest) {
        if (PruneTask* job = jobOf[size_t(largest)]) {
            jobs.Wait(job);
            if (job->failed) throw std::bad_alloc();
        }
        branchErrors = double(JudgeAll(*t->branches[largest], uint32_t(last - first + 1), m.allOne, 0, spawn,
                                       [&](uint32_t* ids, float* w) {
                                           for (int32_t i = first; i <= last; ++i) {
                                               ids[i - first] = order[size_t(i)];
                                               w[i - first] = W(m, order[size_t(i)]);
                                           }
                                       }));
    }
    jobs.Wait();
    jobs.ForEach([&](PruneTask& j) { results[size_t(j.branch)] = j.result; });
    float treeErrors = 0;
    for (int v = 1; v <= forks; ++v)
        if (counts[v]) treeErrors += results[size_t(v)];
    const Verdict verdict = Decide(leafTotal, branchErrors, treeErrors);
    if (verdict == Verdict::Leaf) {
        t->kind = kLeaf;
        t->errors = float(leafTotal);
        t->branches.clear();
        t->forks = 0;
    } else if (verdict == Verdict::Raise) {
        Raise(m, t->branches[largest].get(), first, last);
        // The node takes over the branch's whole content and keeps its own place.
        std::unique_ptr<TreeNode> b = std::move(t->branches[largest]);
        t->kind = b->kind;
        t->cls = b->cls;
        t->items = b->items;
        t->dist = std::move(b->dist);
        t->errors = b->errors;
        t->attr = b->attr;
        t->forks = b->forks;
        t->cut = b->cut;
        t->lower = b->lower;
        t->upper = b->upper;
        t->branches = std::move(b->branches);
        for (auto& child : t->branches)
            if (child) child->parent = t;
    } else {
        t->errors = treeErrors;
    }
    return t->errors;
}

}  // namespace trx
