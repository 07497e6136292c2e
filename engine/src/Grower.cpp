#include "Grower.h"

#include "RowWeights.h"

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

}  // namespace

// Growths of fewer rows than kParallelRows stay on one thread; so do nodes of fewer rows
// (their attributes are evaluated in turn), and subtrees of fewer rows than taskRows_ are jobs.
constexpr uint32_t kAttrParallelRows = 4096;
constexpr uint32_t kMinTaskRows = kAttrParallelRows;  // no serial node in the skeleton
constexpr uint32_t kTasksPerThread = 8;
constexpr int64_t kNodeChunk = 256 << 10;  // nodes are charged this much at a time
constexpr int kSortLanes = 4;  // root lists sorted at once

// A subtree grown by a job: its ids (its lists are sorted again where it runs) and the
// weights of its weighted rows, the state of its path, and what came out.
struct Grower::Task {
    Arena<uint32_t> ids;  // handed over to the thread that grows it
    std::vector<float> weights;  // of the items of `ids` marked weighted, in order
    Held weightsHeld;
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
    held_.Use(in_.budget);
    held_.Set(uint64_t(n) * 2 * (1 + uint64_t(nDisc_)) + uint64_t(declared) * 3);
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
    if (w.tablesHeld.Of() != in_.budget) {
        w.tablesHeld.Use(in_.budget);
        w.rowsHeld.Use(in_.budget);
        w.nodesHeld.Use(in_.budget);
        w.ids.held.Use(in_.budget);
        w.ents.clear();
        w.unks.held.Use(in_.budget);
        w.spill.held.Use(in_.budget);
        w.idSpill.held.Use(in_.budget);
        w.order.held.Use(in_.budget);
    }
    // One list stack per continuous attribute.
    if (w.ents.size() != size_t(nCont_)) {
        w.ents.resize(size_t(nCont_));
        for (Arena<Entry>& e : w.ents) e.held.Use(in_.budget);
    }
    uint64_t tableBytes = uint64_t(nClass_) * (3 * sizeof(float) + 2 * sizeof(double) + 2);
    for (int k = 0; k < nDisc_; ++k)
        tableBytes += (uint64_t(denseCount_[size_t(k)]) + 1) * (uint64_t(nClass_) + 1) * sizeof(float);
    w.tablesHeld.Set(tableBytes);
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
    // Both arrays or neither: a thread whose second array ran out of memory takes
    // later jobs, which must not find the first one alone.
    if (rowArrays && !(w.weight && w.branchOf)) {
        w.rowsHeld.Set(uint64_t(in_.rowCount) * (sizeof(float) + sizeof(uint16_t)));
        auto weight = std::make_unique_for_overwrite<float[]>(size_t(in_.rowCount));
        w.branchOf = std::make_unique_for_overwrite<uint16_t[]>(size_t(in_.rowCount));
        w.weight = std::move(weight);
    }
}

// The list of continuous attribute c over `rows` (items in ascending row order, each
// with its mark): the rows with an unknown value first, then the known ones in
// ascending order of value, equal ones in row order (LSD radix sort on the float's
// order key, stable). The order a node's list has, kept by every split since the
// root's. `tags`, when given, are the rows' list items. Returns the count of unknown
// values; tmp holds m entries.
uint32_t Grower::SortList(const uint32_t* rows, const uint32_t* tags, uint32_t m, int c, Entry* dst,
                          Entry* tmp) const {
    // The counts of all three digits are made in the one pass that reads the column.
    uint32_t digits[3][2048] = {};
    const uint32_t* col = (*in_.slots)[size_t(contAttr_[c])].data();
    uint32_t u = 0, k = 0;
    for (uint32_t i = 0; i < m; ++i) {
        const uint32_t item = rows[i];
        const uint32_t id = RowId(item);
        const uint32_t tag = tags ? tags[i] : ItemOf(item);
        const uint32_t bits = col[id];
        if (bits == kMissingBits) {
            dst[u++] = Entry{std::bit_cast<float>(bits), tag};
        } else {
            tmp[k++] = Entry{std::bit_cast<float>(bits), tag};
            const uint32_t key = SortKey(std::bit_cast<float>(bits));
            ++digits[0][key & 2047];
            ++digits[1][(key >> 11) & 2047];
            ++digits[2][key >> 22];
        }
    }
    // Three passes between tmp and the list's own place behind its unknowns end there.
    Entry* from = tmp;
    Entry* to = dst + u;
    for (int shift = 0, d = 0; shift < 33; shift += 11, ++d) {
        uint32_t* counts = digits[d];
        uint32_t sum = 0;
        for (int j = 0; j < 2048; ++j) {
            const uint32_t t = counts[j];
            counts[j] = sum;
            sum += t;
        }
        for (uint32_t i = 0; i < k; ++i) to[counts[(SortKey(from[i].value) >> shift) & 2047]++] = from[i];
        std::swap(from, to);
    }
    return u;
}

// A job's lists from its ids alone: its rows in row order, then each list sorted as
// the root's. A job is handed its ids only, not the lists, which would be all the
// pending rows' lists again while the skeleton still holds its own.
void Grower::ListsOfRows(Work& w, uint32_t m) {
    const size_t room = size_t(m) + m / 8 + 64;
    for (Arena<Entry>& e : w.ents) e.Ensure(room);
    w.unks.Ensure(size_t(nCont_) * 64 + 1);
    w.idSpill.Ensure(m);
    w.order.Ensure(m);
    // The ids by row: a radix sort of 11 bits at a time, as far as the row ids reach.
    uint32_t* from = w.order.data.get();
    uint32_t* to = w.idSpill.data.get();
    std::copy(w.ids.data.get(), w.ids.data.get() + m, from);
    const int bits = std::bit_width(uint32_t(in_.rowCount > 1 ? in_.rowCount - 1 : 1));
    uint32_t counts[2048];
    for (int shift = 0; shift < bits; shift += 11) {
        std::fill(counts, counts + 2048, 0u);
        for (uint32_t i = 0; i < m; ++i) ++counts[(RowId(from[i]) >> shift) & 2047];
        uint32_t sum = 0;
        for (uint32_t& x : counts) {
            uint32_t t = x;
            x = sum;
            sum += t;
        }
        for (uint32_t i = 0; i < m; ++i) to[counts[(RowId(from[i]) >> shift) & 2047]++] = from[i];
        std::swap(from, to);
    }
    // Each row's list item once, for all the lists.
    for (uint32_t i = 0; i < m; ++i) to[i] = ItemOf(from[i]);
    w.spill.Ensure(m);
    for (int c = 0; c < nCont_; ++c) {
        w.unks.data[c] = SortList(from, to, m, c, w.ents[size_t(c)].data.get(), w.spill.data.get());
        w.ents[size_t(c)].top = m;
    }
    w.unks.top = size_t(nCont_);
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
    // Room for the unknown values a few splits below copy into every branch.
    const size_t room = size_t(n) + n / 8 + 1024;
    w.ids.Ensure(room);
    for (Arena<Entry>& e : w.ents) e.Ensure(room);
    w.unks.Ensure(size_t(nCont_) * 64 + 1);
    for (uint32_t i = 0; i < n; ++i) w.ids.data[i] = i;
    w.ids.top = n;
    sortedValues_.assign(size_t(nCont_), {});
    sortedHeld_.clear();
    sortedHeld_.resize(size_t(nCont_));
    // A sort needs a list's room again aside: a few at a time, not one per thread.
    const int lanes = pool_ ? std::min(pool_->Threads(), kSortLanes) : 1;
    std::vector<std::unique_ptr<Entry[]>> tmps(static_cast<size_t>(lanes));
    std::vector<Held> tmpHeld(static_cast<size_t>(lanes));
    auto sortOne = [&](int lane, int c) {
        std::unique_ptr<Entry[]>& tmp = tmps[size_t(lane)];
        if (!tmp) {
            tmpHeld[size_t(lane)].Use(in_.budget);
            tmpHeld[size_t(lane)].Set(uint64_t(n) * sizeof(Entry));
            tmp = std::make_unique_for_overwrite<Entry[]>(n);
        }
        Entry* dst = w.ents[size_t(c)].data.get();
        const uint32_t u = SortList(w.ids.data.get(), nullptr, n, c, dst, tmp.get());
        w.unks.data[c] = u;
        // FindCut needs each value once: the last of equal ones is the same bits.
        const uint32_t k = n - u;
        const Entry* known = dst + u;
        size_t distinct = 0;
        for (uint32_t i = 0; i < k; ++i)
            distinct += i == 0 || std::bit_cast<uint32_t>(known[i - 1].value) != std::bit_cast<uint32_t>(known[i].value);
        std::vector<float>& sv = sortedValues_[size_t(c)];
        sortedHeld_[size_t(c)].Use(in_.budget);
        sortedHeld_[size_t(c)].Set(uint64_t(distinct) * sizeof(float));
        sv.reserve(distinct);
        for (uint32_t i = 0; i < k; ++i)
            if (sv.empty() || std::bit_cast<uint32_t>(sv.back()) != std::bit_cast<uint32_t>(known[i].value))
                sv.push_back(known[i].value);
    };
    if (pool_) {
        pool_->ForEach(lanes, [&](int, int lane) {
            for (int c = lane; c < nCont_; c += lanes) sortOne(lane, c);
        });
    } else {
        for (int c = 0; c < nCont_; ++c) sortOne(0, c);
    }
    for (Arena<Entry>& e : w.ents) e.top = n;
    w.unks.top = size_t(nCont_);
}

void Grower::FreeLists(Work& w) {
    w.ids.Free();
    for (Arena<Entry>& e : w.ents) e.Free();
    w.unks.Free();
    w.spill.Free();
    w.idSpill.Free();
    w.order.Free();
    w.unknownStack.clear();
    w.unknownStack.shrink_to_fit();
    w.savedWeight.clear();
    w.savedWeight.shrink_to_fit();
}

std::unique_ptr<TreeNode> Grower::Grow(ProgressSink* sink, const int16_t* cancel, int threads) {
    sink_ = sink;
    cancel_ = cancel;
    covered_ = 0;
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
    w.unknownStack.clear();
    w.savedWeight.clear();
    w.nodeBytes = 0;
    w.nodesHeld.Drop();
    treeHeld_.Drop();
    // The lists are only needed while growing.
    auto done = [&] {
        FreeLists(w);
        sortedValues_.clear();
        sortedValues_.shrink_to_fit();
        sortedHeld_.clear();
        w.nodeBytes = 0;
        w.nodesHeld.Drop();
    };
    std::unique_ptr<TreeNode> tree;
    try {
        if (threads > 1 && in_.rowCount >= kParallelRows) StartPool(threads);
        if (pool_) {
            tree = GrowParallel(threads);
        } else {
            BuildRoot(w);
            tree = GrowNode(w, Frame{0, 0, uint32_t(in_.rowCount)});
            largestBranch_ = w.largestBranch;
        }
    } catch (...) {
        tree.reset();
        done();
        throw;
    }
    done();
    // Charged in chunks while growing; the tree's own bytes from now on.
    treeHeld_.Use(in_.budget);
    treeHeld_.Set(TreeBytes(*tree));
    return tree;
}

void Grower::CountNode(Work& w, int64_t bytes) {
    w.nodeBytes += bytes;
    if (w.nodeBytes > int64_t(w.nodesHeld.Bytes())) w.nodesHeld.Set(uint64_t(w.nodeBytes + kNodeChunk));
}

// The node becomes a leaf; its branches' subtrees are freed, and so no longer counted.
void Grower::Collapse(Work& w, TreeNode& node) {
    int64_t freed = 0;
    for (const auto& b : node.branches)
        if (b) freed += int64_t(TreeBytes(*b));
    freed += int64_t(NodeBytes(int(node.branches.size()) - 1) - NodeBytes(0));
    std::vector<std::unique_ptr<TreeNode>>().swap(node.branches);
    w.nodeBytes -= freed;
    node.forks = 0;
    node.kind = kLeaf;
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
    std::unique_ptr<TreeNode> root = GrowNode(w, Frame{0, 0, uint32_t(in_.rowCount)});
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
        double errors = 0;
        for (int v : p.grown) errors += node->branches[size_t(v)]->errors;
        node->errors = float(errors);
        if (double(node->errors) >= double(p.leafErrors) - 0.001) Collapse(w, *node);
    }
    return root;
}

// Copies a branch's ids into a job of its own.
void Grower::Spawn(Work& w, const Frame& f, int parentDepth) {
    auto t = std::make_unique<Task>();
    t->ids.held.Use(in_.budget);
    t->weightsHeld.Use(in_.budget);
    const uint32_t* ids = w.ids.data.get() + f.off;
    t->ids.Ensure(f.n);
    std::copy(ids, ids + f.n, t->ids.data.get());
    t->ids.top = f.n;
    size_t weighted = 0;
    for (uint32_t i = 0; i < f.n; ++i) weighted += (ids[i] & kWeighted) != 0;
    t->weightsHeld.Set(weighted * sizeof(float));
    t->weights.reserve(weighted);
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
            std::swap(w.ids, t.ids);
            t.ids.Free();
            ListsOfRows(w, n);
            const uint32_t* ids = w.ids.data.get();
            w.nonUnit = 0;
            size_t k = 0;
            for (uint32_t i = 0; i < n; ++i) {
                if (!(ids[i] & kWeighted)) continue;
                const float x = t.weights[k++];
                w.weight[RowId(ids[i])] = x;
                if (x != 1.0f) ++w.nonUnit;
            }
            std::vector<float>().swap(t.weights);
            t.weightsHeld.Drop();
            w.testCount = t.testCount;
            w.allOne = t.allOne;
            w.depth = t.depth;
            w.leaves = &t.leaves;
            w.skeleton = false;
            t.result = GrowNode(w, Frame{0, 0, n});
        } catch (const std::bad_alloc&) {
            t.failed = true;
            t.result.reset();
        }
        w.leaves = nullptr;
        w.unknownStack.clear();
        w.savedWeight.clear();
        w.ids.top = w.unks.top = 0;
        for (Arena<Entry>& e : w.ents) e.top = 0;
    }
    t.done.store(true, std::memory_order_release);
}

std::unique_ptr<TreeNode> Grower::Leaf(Work& w, int16_t cls, float items, float errors) {
    CountNode(w, int64_t(NodeBytes(0)));
    auto node = std::make_unique<TreeNode>();
    node->kind = kLeaf;
    node->cls = cls;
    node->items = items;
    node->errors = errors;
    node->parent = node.get();
    return node;
}

void Grower::Report(float items) {
    covered_ += items;
    double pct = covered_ / in_.rowCount * 95.0;
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

// The subtree of the node whose rows are f's: a leaf, or a test of the best attribute
// with a subtree per branch, which becomes a leaf again when it does not make fewer
// errors than the leaf.
std::unique_ptr<TreeNode> Grower::GrowNode(Work& w, const Frame& f) {
    ++w.depth;
    float bestWeight = 0;
    std::unique_ptr<TreeNode> node = LeafOfRows(w, f, bestWeight);
    const float cases = node->items, leafErrors = node->errors;
    const bool staysLeaf = bestWeight == cases || 2.0 * in_.minItems > cases || w.depth >= kMaxDepth;
    const int a = staysLeaf ? -1 : ChooseAttribute(w, f, cases);
    if (a < 0) {
        LeafProgress(w, *node);
        Release(w, f);
        --w.depth;
        return node;
    }
    const int forks = MakeTest(w, *node, a);

    std::vector<uint32_t>& groups = w.groupsAt[size_t(w.depth)];
    groups.assign(size_t(forks) + 1, 0);
    const size_t uBase = w.unknownStack.size();
    SplitRows(w, f, *node, forks, groups);
    const uint32_t unknowns = uint32_t(w.unknownStack.size() - uBase);
    double unknownSum = 0;
    for (size_t i = uBase; i < w.unknownStack.size(); ++i) unknownSum += w.savedWeight[i];
    const float unknownWeight = float(unknownSum);
    const bool savedAllOne = w.allOne;
    if (unknowns) w.allOne = false;
    ++w.testCount[size_t(a)];
    std::vector<Frame>& kids = w.kidsAt[size_t(w.depth)];
    BuildChildren(w, f, forks, groups, unknowns, kids);

    const Split split{groups, kids, uBase, unknowns, cases - unknownWeight};
    std::vector<int> grown;
    double errors = 0;
    const bool stopped = !GrowBranches(w, *node, split, grown, errors);
    w.unknownStack.resize(uBase);
    w.savedWeight.resize(uBase);
    if (stopped) {
        node->errors = float(errors);
        --w.depth;
        return node;
    }
    --w.testCount[size_t(a)];
    w.allOne = savedAllOne;

    if (w.skeleton) {
        // Its errors are summed once the jobs below it are in.
        pending_.push_back(Pending{node.get(), leafErrors, std::move(grown)});
    } else {
        node->errors = float(errors);
        if (double(node->errors) >= double(leafErrors) - 0.001) Collapse(w, *node);
    }
    --w.depth;
    return node;
}

// A leaf of the node's rows: their weight, the heaviest class (the lowest of equal
// ones) and the weight of the others as its errors; bestWeight is that class's weight.
std::unique_ptr<TreeNode> Grower::LeafOfRows(Work& w, const Frame& f, float& bestWeight) {
    const uint32_t n = f.n;
    // Sums of weights in double, each stored once as a float: a float running sum
    // drifts by an ulp or more over fractional weights.
    std::vector<double>& classSum = w.classSum;
    classSum.assign(size_t(nClass_), 0.0);
    double total = 0;
    const uint32_t* ids = w.ids.data.get() + f.off;
    for (uint32_t i = 0; i < n; ++i) {
        const float x = RowW(w, ids[i]);
        classSum[cls_[RowId(ids[i])]] += x;
        total += x;
    }
    const float cases = w.allOne ? float(n) : float(total);
    std::vector<float>& dist = w.classDist;
    dist.resize(size_t(nClass_));
    for (int c = 0; c < nClass_; ++c) dist[size_t(c)] = float(classSum[size_t(c)]);
    int best = 0;
    for (int c = 1; c < nClass_; ++c)
        if (dist[size_t(c)] > dist[size_t(best)]) best = c;
    bestWeight = dist[size_t(best)];
    return Leaf(w, classCode_[size_t(best)], cases, cases - bestWeight);
}

// The attribute of the best test at the node, -1 when none is worth making: the one of
// greatest gain ratio among those whose gain is not below the average.
int Grower::ChooseAttribute(Work& w, const Frame& f, float cases) {
    Evaluate(w, f, cases);
    double sum = 0;
    int counted = 0;
    for (int a = 0; a < nAttr_; ++a) {
        if (w.gain[size_t(a)] > kNoGain && (manyValues_ || double(in_.valueCount[a]) < 0.3 * in_.rowCount)) {
            sum += w.gain[size_t(a)];
            ++counted;
        }
    }
    const float average = counted ? float(sum / counted) : 1000000.0f;
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
    return bestAttr;
}

// Makes the node a test of attribute a, with room for its branches; returns their count.
int Grower::MakeTest(Work& w, TreeNode& node, int a) {
    int forks;
    if (contIndex_[a] >= 0) {
        node.kind = kThresholdTest;
        forks = 2;
        node.cut = FindCut(contIndex_[a], w.bestCut[size_t(a)]);
    } else {
        node.kind = kDiscreteTest;
        forks = in_.valueCount[a];
    }
    node.attr = int16_t(a);
    node.forks = int16_t(forks);
    node.errors = 0;
    CountNode(w, int64_t(NodeBytes(forks) - NodeBytes(0)));
    node.branches.resize(size_t(forks) + 1);
    w.largestBranch = std::max(w.largestBranch, int32_t(forks));
    return forks;
}

// Grows each branch of the node on its own rows and the rows of unknown value, whose
// weights are scaled by the branch's share of the known weight; a branch without rows
// is a leaf of the node's class. The skeleton hands small branches out as jobs
// (`grown` lists the branches that got rows); elsewhere their errors are summed. False
// when the growth stopped.
bool Grower::GrowBranches(Work& w, TreeNode& node, const Split& split, std::vector<int>& grown, double& errors) {
    const uint32_t unknowns = split.unknowns;
    for (int v = 1; v <= node.forks; ++v) {
        if (split.groups[size_t(v)] == 0) {
            node.branches[size_t(v)] = Leaf(w, node.cls, 0.0f, 0.0f);
            node.branches[size_t(v)]->parent = &node;
            continue;
        }
        const Frame kid = split.kids[size_t(v)];
        if (unknowns) ScaleUnknowns(w, split, kid, split.groups[size_t(v)]);
        if (w.skeleton && kid.n < taskRows_) {
            Spawn(w, kid, w.depth);
            tasks_.back()->parent = &node;
            tasks_.back()->branch = v;
            Release(w, kid);
            grown.push_back(v);
        } else {
            node.branches[size_t(v)] = GrowNode(w, kid);
            if (Stopped(w)) return false;
            node.branches[size_t(v)]->parent = &node;
            if (w.skeleton) grown.push_back(v);
            else
                errors += node.branches[size_t(v)]->errors;
        }
        if (unknowns)
            SetWeights(w, w.unknownStack.data() + split.unknownBase, w.savedWeight.data() + split.unknownBase, unknowns,
                       nullptr);
    }
    return true;
}

// The weights of the rows of unknown value for a branch: their own times the weight of
// the branch's `count` own rows over the known weight.
void Grower::ScaleUnknowns(Work& w, const Split& split, const Frame& kid, uint32_t count) {
    const uint32_t* gids = w.ids.data.get() + kid.off + split.unknowns;
    double gw = 0;
    for (uint32_t i = 0; i < count; ++i) gw += RowW(w, gids[i]);
    const float branchWeight = float(gw);
    const float factor = float(double(branchWeight) / split.known);
    SetWeights(w, w.unknownStack.data() + split.unknownBase, w.savedWeight.data() + split.unknownBase, split.unknowns,
               &factor);
}

// The branch of every row of the node (0 for an unknown value): counts per branch, and
// the rows with unknown values, with their weights, pushed in list order. Large nodes
// of the skeleton are cut in pieces, one per thread, put together in order.
void Grower::SplitRows(Work& w, const Frame& f, const TreeNode& node, int forks, std::vector<uint32_t>& groups) {
    const uint32_t* ids = w.ids.data.get() + f.off;
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

Brancher Grower::BranchesOf(const TreeNode& node) const {
    Brancher b;
    b.threshold = node.kind == kThresholdTest;
    b.col = (*in_.slots)[size_t(node.attr)].data();
    b.cut = node.cut;
    if (!b.threshold) {
        const int k = discIndex_[node.attr];
        b.values = dval_.data() + k;
        b.stride = size_t(nDisc_);
        b.codes = valueCode_[size_t(k)].data();
    }
    return b;
}

PruneInput Grower::ForPruning() const {
    PruneInput p;
    p.slots = in_.slots;
    p.rowCount = in_.rowCount;
    p.valueCount = in_.valueCount;
    p.cls = cls_;
    p.classCode = classCode_;
    p.classDense = classDense_;
    return p;
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
    const uint32_t* ids = w.ids.data.get() + f.off;
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
        double t = 0;
        for (int c = 0; c < C; ++c) t += F[size_t(v) * C + c];
        vt[v] = float(t);
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
        double kc = 0;
        for (int v = 1; v <= count; ++v) kc += F[size_t(v) * C + c];
        classSum += XLog2X(float(kc));
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
    const Entry* E = w.ents[size_t(c)].data.get() + f.off;
    const uint32_t u = w.unks.data[f.unkOff + c];
    float* r0 = s.row0.data();
    float* r1 = s.row1.data();
    float* r2 = s.row2.data();
    std::fill(r0, r0 + C, 0.0f);
    std::fill(r1, r1 + C, 0.0f);
    std::fill(r2, r2 + C, 0.0f);
    const float items = cases;
    for (uint32_t i = 0; i < u; ++i) r0[EntryClass(E[i])] += EntryW(w, E[i]);
    double unknownSum = 0;
    for (int k = 0; k < C; ++k) unknownSum += r0[k];
    const float vt0 = float(unknownSum);
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
    double low = 0;
    long tries = 0;
    int64_t bestI = -1;
    float bestGain = 0;
    double bestLow = 0;
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
        if (low > highLimit) break;
        if (double(E[i].value) < double(E[i + 1].value) - 0.00001) {
            const float vt1 = float(low);
            const float vt2 = float(known - low);
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
        float totals[3] = {vt0, float(bestLow), float(known - bestLow)};
        w.info[size_t(a)] = float(double(DistributionInfo(totals, 3)) / items);
    }
}

// Builds the branches' lists in the node's place, branch 1 on top, so that it is grown
// first and, when done, leaves branch 2 on top. The node is on top of the stacks, so its
// branches, which hold its unknown rows once each, may reach past its end.
void Grower::BuildChildren(Work& w, const Frame& f, int forks, const std::vector<uint32_t>& groups,
                           uint32_t unknowns, std::vector<Frame>& kids) {
    const uint32_t n = f.n;
    const int nc = nCont_;
    kids.assign(size_t(forks) + 1, Frame{});
    std::vector<int>& live = w.live;
    live.clear();
    size_t at = f.off, unkAt = f.unkOff;
    for (int v = forks; v >= 1; --v) {
        if (!groups[size_t(v)]) continue;
        uint32_t m = unknowns + groups[size_t(v)];
        kids[size_t(v)] = Frame{at, unkAt, m};
        at += m;
        unkAt += size_t(nc);
        live.push_back(v);
    }
    w.ids.Ensure(at);
    for (Arena<Entry>& e : w.ents) e.Ensure(at);
    w.unks.Ensure(unkAt);
    // The ids of a branch put its unknown rows first, which may pass the rows not yet
    // read: they are split from a copy.
    w.idSpill.Ensure(n);
    const uint32_t* src = w.idSpill.data.get();
    std::copy(w.ids.data.get() + f.off, w.ids.data.get() + f.off + n, w.idSpill.data.get());
    std::vector<uint32_t>& pos = w.pos;
    pos.assign(size_t(forks) + 1, 0);
    const bool binary = forks == 2 && live.size() == 2;
    if (binary) {
        // Both branches non-empty: write every item to both lists and advance the
        // cursors by membership, which avoids a mispredicted branch per row.
        uint32_t* a1 = w.ids.data.get() + kids[1].off;
        uint32_t* a2 = w.ids.data.get() + kids[2].off;
        uint32_t u1 = 0, u2 = 0, g1 = unknowns, g2 = unknowns;
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
        uint32_t* idA = w.ids.data.get();
        std::vector<uint32_t>& upos = w.upos;
        upos.assign(size_t(forks) + 1, 0);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t item = src[i];
            int b = w.branchOf[RowId(item)];
            if (b == 0) {
                for (int v : live) idA[kids[size_t(v)].off + upos[size_t(v)]++] = item | kWeighted;
            } else {
                idA[kids[size_t(b)].off + unknowns + pos[size_t(b)]++] = item;
            }
        }
    }
    // The larger of the bottom and the top branch is written in place.
    const bool back = kids[size_t(live.back())].n > kids[size_t(live.front())].n;
    if (pool_ && w.skeleton && n >= kAttrParallelRows && nc > 1) {
        // One attribute's lists per thread; each thread's cursors and spill are its own.
        pool_->ForEach(nc, [&](int thread, int c) {
            Work& tw = *works_[size_t(thread)];
            tw.dst.resize(size_t(forks) + 1);
            tw.pos.resize(size_t(forks) + 1);
            SplitLists(w, tw, f, forks, kids, c, back, tw.dst.data(), tw.pos.data());
        });
    } else {
        w.dst.resize(size_t(forks) + 1);
        for (int c = 0; c < nc; ++c) SplitLists(w, w, f, forks, kids, c, back, w.dst.data(), pos.data());
    }
    w.ids.top = at;
    for (Arena<Entry>& e : w.ents) e.top = at;
    w.unks.top = unkAt;
}

// The lists of continuous attribute c for every branch: unknown values of it first,
// then the known ones in order, each in the order of the node's list. One branch is
// written over the node's list as it is read: the bottom one from the front (it never
// gets ahead of the reading) or, with `back`, the top one from the end (the branches
// together are no shorter than the node's list). The others go to tw's spill first.
void Grower::SplitLists(Work& w, Work& tw, const Frame& f, int forks, const std::vector<Frame>& kids, int c,
                        bool back, Entry** dst, uint32_t* pos) {
    const uint32_t n = f.n;
    Entry* const L = w.ents[size_t(c)].data.get() + f.off;
    const uint32_t unkC = w.unks.data[f.unkOff + c];
    uint32_t* uA = w.unks.data.get();
    const std::vector<int>& live = w.live;
    const uint16_t* branchOf = w.branchOf.get();
    const int kept = back ? live.back() : live.front();
    const size_t total = kids[size_t(live.back())].off + kids[size_t(live.back())].n - f.off;
    const size_t keptAt = kids[size_t(kept)].off - f.off;  // 0 unless back
    const size_t spilled = total - kids[size_t(kept)].n;
    const size_t spillAt = back ? 0 : kids[size_t(kept)].n;  // where the spill goes
    tw.spill.Ensure(spilled);
    Entry* const S = tw.spill.data.get();
    for (int v : live) {
        const size_t rel = kids[size_t(v)].off - f.off;
        dst[v] = v == kept ? L + keptAt : S + (rel - spillAt);
        pos[v] = back ? kids[size_t(v)].n : 0;
    }
    auto unknownsAre = [&](const uint32_t* p) {
        for (int v : live) uA[kids[size_t(v)].unkOff + c] = p[v];
    };
    if (forks == 2 && live.size() == 2) {
        Entry* d1 = dst[1];
        Entry* d2 = dst[2];
        const uint32_t m1 = kids[1].n, m2 = kids[2].n;
        if (!back) {
            uint32_t p1 = 0, p2 = 0;
            for (uint32_t i = 0; i < n; ++i) {
                if (i == unkC) {
                    uA[kids[1].unkOff + c] = p1;
                    uA[kids[2].unkOff + c] = p2;
                }
                Entry e = L[i];
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
        } else {
            // Each cursor counts the places left below it.
            uint32_t q1 = m1, q2 = m2;
            for (uint32_t i = n; i-- > 0;) {
                if (i + 1 == unkC) {
                    uA[kids[1].unkOff + c] = q1;
                    uA[kids[2].unkOff + c] = q2;
                }
                Entry e = L[i];
                const uint32_t b = branchOf[EntryId(e)];
                e.id |= uint32_t(b == 0) << 31;
                if (q1) d1[q1 - 1] = e;
                if (q2) d2[q2 - 1] = e;
                q1 -= b != 2;
                q2 -= b != 1;
            }
            if (unkC == 0) {
                uA[kids[1].unkOff + c] = q1;
                uA[kids[2].unkOff + c] = q2;
            }
        }
    } else if (!back) {
        for (uint32_t i = 0; i < n; ++i) {
            if (i == unkC) unknownsAre(pos);
            Entry e = L[i];
            int b = branchOf[EntryId(e)];
            if (b == 0) {
                e.id |= kWeighted;
                for (int v : live) dst[v][pos[v]++] = e;
            } else {
                dst[b][pos[b]++] = e;
            }
        }
        if (unkC >= n) unknownsAre(pos);
    } else {
        for (uint32_t i = n; i-- > 0;) {
            if (i + 1 == unkC) unknownsAre(pos);
            Entry e = L[i];
            int b = branchOf[EntryId(e)];
            if (b == 0) {
                e.id |= kWeighted;
                for (int v : live) dst[v][--pos[v]] = e;
            } else {
                dst[b][--pos[b]] = e;
            }
        }
        if (unkC == 0) unknownsAre(pos);
    }
    if (spilled) std::memcpy(L + spillAt, S, spilled * sizeof(Entry));
    // A helper's spill from a large node of the skeleton would outlive its use.
    if (&tw != &w) tw.spill.Free();
}

}  // namespace trx
