#include "Grower.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

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

template <class T>
void Grower::Arena<T>::Ensure(size_t need) {
    if (need <= cap) return;
    size_t grown = std::max(need, cap + cap / 2 + 1024);
    auto fresh = std::make_unique_for_overwrite<T[]>(grown);
    if (top) std::memcpy(fresh.get(), data.get(), top * sizeof(T));
    data = std::move(fresh);
    cap = grown;
}

Grower::Grower(GrowInput input) : in_(std::move(input)) {
    const size_t n = size_t(in_.rowCount);
    nAttr_ = in_.lastAttr + 1;
    nClass_ = std::max(1, int(in_.maxClass) + 1);  // at least one class, whatever was declared
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
    testCount_.assign(nAttr_, 0);
    gain_.assign(nAttr_, 0);
    info_.assign(nAttr_, 0);
    bestCut_.assign(nAttr_, 0);
    unknownRate_.assign(nAttr_, 0);
    weight_.assign(n, 1.0f);
    branchOf_.assign(n, 0);
    cls_.resize(n);
    const std::vector<uint32_t>& classSlot = in_.slots->back();
    // With the class field moved away from the last position another field's value can
    // land in the class slot; a code outside 0..MaxClass is read as class 0.
    for (size_t i = 0; i < n; ++i) {
        int code = int16_t(uint16_t(classSlot[i] & 0xFFFF));
        cls_[i] = uint16_t(code < 0 || code >= nClass_ ? 0 : code);
    }
    dval_.resize(n * size_t(nDisc_));
    for (int k = 0; k < nDisc_; ++k) {
        int a = discAttr_[k];
        const std::vector<uint32_t>& col = (*in_.slots)[a];
        int count = in_.valueCount[a];
        for (size_t i = 0; i < n; ++i) {
            int v = int16_t(uint16_t(col[i] & 0xFFFF));
            // A code outside 1..count cannot index a branch: such a value counts as unknown.
            dval_[i * nDisc_ + k] = uint16_t((v < 0 || v > count) ? 0 : v);
        }
        freq_.emplace_back(size_t(count + 1) * nClass_, 0.0f);
        valueTotal_.emplace_back(size_t(count + 1), 0.0f);
    }
    // Splits happen above depth kMaxDepth only; sized once so references stay valid.
    groupsAt_.resize(kMaxDepth + 1);
    kidsAt_.resize(kMaxDepth + 1);
    row0_.assign(nClass_, 0);
    row1_.assign(nClass_, 0);
    row2_.assign(nClass_, 0);
    f1_.assign(nClass_, 0);
    f2_.assign(nClass_, 0);
    dirty1_.assign(nClass_, 1);
    dirty2_.assign(nClass_, 1);
    manyValues_ = true;
    for (int a = 0; a < nAttr_; ++a) {
        if (in_.attrKind[a] == 1) continue;
        if (!(double(in_.valueCount[a]) >= 0.3 * in_.rowCount)) {
            manyValues_ = false;
            break;
        }
    }
}

Grower::~Grower() = default;

void Grower::Scale(const uint32_t* ids, size_t n, float factor, bool multiply) {
    for (size_t i = 0; i < n; ++i) {
        float& w = weight_[ids[i]];
        bool wasUnit = w == 1.0f;
        w = multiply ? w * factor : w / factor;
        bool isUnit = w == 1.0f;
        if (wasUnit && !isUnit) ++nonUnit_;
        else if (!wasUnit && isUnit) --nonUnit_;
    }
}

// Root lists: all row ids, and per continuous attribute the rows with an unknown value
// followed by the known ones in ascending order (LSD radix sort on the float's order key).
void Grower::BuildRoot() {
    const uint32_t n = uint32_t(in_.rowCount);
    int idBits = std::bit_width(uint32_t(n > 1 ? n - 1 : 1));
    int classBits = std::bit_width(uint32_t(nClass_ > 1 ? nClass_ - 1 : 1));
    packed_ = idBits + classBits <= 31;
    idMask_ = packed_ ? ((1u << idBits) - 1) : ~kWeighted;
    classShift_ = packed_ ? idBits : 0;
    for (int side = 0; side < 2; ++side) {
        ids_[side].Ensure(size_t(n) + 1);
        ents_[side].Ensure(size_t(n) * nCont_ + 1);
        unks_[side].Ensure(size_t(nCont_) * 64 + 1);
    }
    for (uint32_t i = 0; i < n; ++i) ids_[0].data[i] = i;
    ids_[0].top = n;
    sortedValues_.assign(nCont_, {});
    std::vector<Entry> tmp(n), buf(n);
    std::vector<uint32_t> counts(2048);
    for (int c = 0; c < nCont_; ++c) {
        const std::vector<uint32_t>& col = (*in_.slots)[contAttr_[c]];
        Entry* dst = ents_[0].data.get() + size_t(c) * n;
        uint32_t u = 0, k = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t tag = packed_ ? (i | (uint32_t(cls_[i]) << classShift_)) : i;
            if (col[i] == kMissingBits) dst[u++] = Entry{std::bit_cast<float>(col[i]), tag};
            else tmp[k++] = Entry{std::bit_cast<float>(col[i]), tag};
        }
        Entry* from = tmp.data();
        Entry* to = buf.data();
        for (int shift = 0; shift < 33; shift += 11) {
            std::fill(counts.begin(), counts.end(), 0);
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
        unks_[0].data[c] = u;
        std::vector<float>& sv = sortedValues_[c];
        sv.resize(k);
        for (uint32_t i = 0; i < k; ++i) sv[i] = from[i].value;
    }
    ents_[0].top = size_t(n) * nCont_;
    unks_[0].top = size_t(nCont_);
}

std::unique_ptr<TreeNode> Grower::Grow(ProgressSink* sink, const int16_t* cancel) {
    sink_ = sink;
    cancel_ = cancel;
    depth_ = -1;
    covered_ = 0;
    largestBranch_ = 0;
    allOne_ = true;
    std::fill(weight_.begin(), weight_.end(), 1.0f);
    nonUnit_ = 0;
    BuildRoot();
    Frame root{0, 0, 0, uint32_t(in_.rowCount), 0};
    std::unique_ptr<TreeNode> tree = GrowNode(root);
    // The lists are only needed while growing.
    for (int side = 0; side < 2; ++side) {
        ids_[side].Free();
        ents_[side].Free();
        unks_[side].Free();
    }
    sortedValues_.clear();
    sortedValues_.shrink_to_fit();
    unknownStack_.clear();
    unknownStack_.shrink_to_fit();
    return tree;
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

void Grower::LeafProgress(const TreeNode& node) {
    covered_ += node.items;
    double pct = double(covered_) / in_.rowCount * 95.0;
    if (pct > 100) pct = 100;
    if (sink_) sink_->Progress(int16_t(pct));
}

std::unique_ptr<TreeNode> Grower::GrowNode(const Frame& f) {
    ++depth_;
    const uint32_t n = f.n;
    std::vector<float> dist(nClass_, 0.0f);
    float cases;
    {
        const uint32_t* ids = ids_[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) dist[cls_[RowId(ids[i])]] += RowW(ids[i]);
        if (allOne_) {
            cases = float(n);
        } else {
            cases = 0;
            for (uint32_t i = 0; i < n; ++i) cases += RowW(ids[i]);
        }
    }
    int best = 0;
    for (int c = 1; c < nClass_; ++c)
        if (dist[c] > dist[best]) best = c;
    const float bestWeight = dist[best];
    const float leafErrors = cases - bestWeight;
    std::unique_ptr<TreeNode> node = Leaf(std::move(dist), int16_t(best), cases, leafErrors);

    if (bestWeight == cases || 2.0 * in_.minItems > cases || depth_ >= kMaxDepth) {
        LeafProgress(*node);
        Release(f);
        --depth_;
        return node;
    }

    Evaluate(f, cases);
    float sum = 0;
    int counted = 0;
    for (int a = 0; a < nAttr_; ++a) {
        if (gain_[a] > kNoGain && (manyValues_ || double(in_.valueCount[a]) < 0.3 * in_.rowCount)) {
            sum += gain_[a];
            ++counted;
        }
    }
    const float average = counted ? float(double(sum) / counted) : 1000000.0f;
    int bestAttr = -1;
    float bestWorth = kNoGain;
    for (int a = 0; a < nAttr_; ++a) {
        if (!(gain_[a] > kNoGain)) continue;
        float worth = kNoGain;
        if (double(gain_[a]) >= double(average) - 0.001 && info_[a] > 0.001)
            worth = float(double(gain_[a]) / info_[a]);
        if (worth > bestWorth) {
            bestWorth = worth;
            bestAttr = a;
        }
    }
    if (bestAttr < 0) {
        LeafProgress(*node);
        Release(f);
        --depth_;
        return node;
    }

    // The test.
    const int a = bestAttr;
    int forks;
    if (contIndex_[a] >= 0) {
        node->kind = kThresholdTest;
        forks = 2;
        node->cut = node->lower = node->upper = FindCut(contIndex_[a], bestCut_[a]);
    } else {
        node->kind = kDiscreteTest;
        forks = in_.valueCount[a];
    }
    node->attr = int16_t(a);
    node->forks = int16_t(forks);
    node->errors = 0;
    node->branches.resize(size_t(forks) + 1);
    largestBranch_ = std::max(largestBranch_, int32_t(forks));

    std::vector<uint32_t>& groups = groupsAt_[size_t(depth_)];
    groups.assign(size_t(forks) + 1, 0);
    uint32_t unknowns = 0;
    const size_t uBase = unknownStack_.size();
    float unknownWeight = 0;
    {
        const uint32_t* ids = ids_[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t id = RowId(ids[i]);
            int b = BranchOf(id, *node);
            branchOf_[id] = uint16_t(b);
            if (b == 0) {
                ++unknowns;
                unknownStack_.push_back(id);
                unknownWeight += RowW(ids[i]);
            } else {
                ++groups[b];
            }
        }
    }
    const bool savedAllOne = allOne_;
    if (unknowns) allOne_ = false;
    const float known = cases - unknownWeight;
    ++testCount_[a];

    std::vector<Frame>& kids = kidsAt_[size_t(depth_)];
    BuildChildren(f, forks, groups, unknowns, kids);
    Release(f);

    for (int v = 1; v <= forks; ++v) {
        if (groups[v] == 0) {
            node->branches[v] = Leaf(node->dist, node->cls, 0.0f, 0.0f);
            node->branches[v]->parent = node.get();
            continue;
        }
        float factor = 1.0f;
        if (unknowns) {
            const uint32_t* gids = ids_[kids[v].side].data.get() + kids[v].idOff + unknowns;
            float gw = 0;
            for (uint32_t i = 0; i < groups[v]; ++i) gw += RowW(gids[i]);
            factor = float(double(gw) / known);
            Scale(unknownStack_.data() + uBase, unknowns, factor, true);
        }
        node->branches[v] = GrowNode(kids[v]);
        if (*cancel_) {
            unknownStack_.resize(uBase);
            --depth_;
            return node;
        }
        node->branches[v]->parent = node.get();
        node->errors += node->branches[v]->errors;
        if (unknowns) Scale(unknownStack_.data() + uBase, unknowns, factor, false);
    }
    unknownStack_.resize(uBase);
    --testCount_[a];
    allOne_ = savedAllOne;

    if (double(node->errors) >= double(leafErrors) - 0.001) {
        node->branches.clear();
        node->forks = 0;
        node->kind = kLeaf;
    }
    --depth_;
    return node;
}

int Grower::BranchOf(uint32_t id, const TreeNode& node) const {
    if (node.kind == kThresholdTest) {
        uint32_t bits = SlotBits(id, node.attr);
        if (bits == kMissingBits) return 0;
        return std::bit_cast<float>(bits) <= node.cut ? 1 : 2;
    }
    return DiscreteValue(id, node.attr);
}

float Grower::FindCut(int c, float midpoint) const {
    const std::vector<float>& sv = sortedValues_[c];
    auto it = std::upper_bound(sv.begin(), sv.end(), midpoint);
    if (it == sv.begin()) return midpoint;
    return *(it - 1);
}

void Grower::Evaluate(const Frame& f, float cases) {
    for (int a = 0; a < nAttr_; ++a) {
        gain_[a] = kNoGain;
        info_[a] = 0;
    }
    // Discrete attributes not yet tested on the path: one tally pass for all of them.
    std::vector<int>& active = active_;
    active.clear();
    for (int k = 0; k < nDisc_; ++k) {
        int a = discAttr_[k];
        if (testCount_[a] != 0) continue;
        active.push_back(k);
        std::fill(freq_[k].begin(), freq_[k].end(), 0.0f);
    }
    if (!active.empty()) {
        std::vector<float*>& tables = tables_;
        tables.clear();
        for (int k : active) tables.push_back(freq_[k].data());
        const uint32_t* ids = ids_[f.side].data.get() + f.idOff;
        const size_t na = active.size();
        const int C = nClass_;
        for (uint32_t i = 0; i < f.n; ++i) {
            uint32_t id = RowId(ids[i]);
            const uint16_t* dv = &dval_[size_t(id) * nDisc_];
            int c = cls_[id];
            float w = RowW(ids[i]);
            for (size_t j = 0; j < na; ++j) tables[j][size_t(dv[active[j]]) * C + c] += w;
        }
        for (int k : active) EvalDiscrete(discAttr_[k], cases);
    }
    for (int c = 0; c < nCont_; ++c) {
        int a = contAttr_[c];
        if (testCount_[a] <= kMaxThresholdTests) EvalContinuous(a, c, f, cases);
    }
}

void Grower::EvalDiscrete(int a, float cases) {
    const int k = discIndex_[a];
    const int count = in_.valueCount[a];
    const int C = nClass_;
    const float* F = freq_[k].data();
    float* vt = valueTotal_[k].data();
    for (int v = 0; v <= count; ++v) {
        float t = 0;
        for (int c = 0; c < C; ++c) t += F[size_t(v) * C + c];
        vt[v] = t;
    }
    unknownRate_[a] = float(double(vt[0]) / cases);
    if (cases <= vt[0]) {
        gain_[a] = kNoGain;
        info_[a] = 0;
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
        int big = 0;
        for (int v = 1; v <= count; ++v)
            if (double(vt[v]) >= in_.minItems) ++big;
        if (big >= 2) {
            double s = 0;
            for (int v = 1; v <= count; ++v) s += DistributionInfo(F + size_t(v) * C, C);
            gain = float((double(baseInfo) - s / known) * (1.0 - double(unknownRate_[a])));
        }
    }
    gain_[a] = gain;
    info_[a] = float(double(DistributionInfo(vt, count + 1)) / cases);
}

void Grower::EvalContinuous(int a, int c, const Frame& f, float cases) {
    const int C = nClass_;
    const uint32_t n = f.n;
    const Entry* E = ents_[f.side].data.get() + f.entOff + size_t(c) * n;
    const uint32_t u = unks_[f.side].data[f.unkOff + c];
    float* r0 = row0_.data();
    float* r1 = row1_.data();
    float* r2 = row2_.data();
    std::fill(r0, r0 + C, 0.0f);
    std::fill(r1, r1 + C, 0.0f);
    std::fill(r2, r2 + C, 0.0f);
    const float items = cases;
    for (uint32_t i = 0; i < u; ++i) r0[EntryClass(E[i])] += EntryW(E[i]);
    float vt0 = 0;
    for (int k = 0; k < C; ++k) vt0 += r0[k];
    const float known = items - vt0;
    const float unknownRate = float(1.0 - double(known) / items);
    unknownRate_[a] = unknownRate;
    gain_[a] = kNoGain;
    info_[a] = 0;
    if (double(known) < 2.0 * in_.minItems) return;

    for (uint32_t i = u; i < n; ++i) r2[EntryClass(E[i])] += EntryW(E[i]);
    const float baseInfo = float(double(DistributionInfo(r2, C)) / known);
    float minSplit = float(0.1 * known / (double(in_.maxClass) + 1));
    if (double(minSplit) <= in_.minItems)
        minSplit = in_.minItems == 0 ? 1.0f : float(in_.minItems);
    else if (minSplit > 25) minSplit = 25;

    std::fill(dirty1_.begin(), dirty1_.end(), 1);
    std::fill(dirty2_.begin(), dirty2_.end(), 1);
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
        const float w = EntryW(E[i]);
        low += w;
        r1[k] += w;
        r2[k] -= w;
        dirty1_[k] = 1;
        dirty2_[k] = 1;
        if (low < minSplit) continue;
        if (double(low) > highLimit) break;
        if (double(E[i].value) < double(E[i + 1].value) - 0.00001) {
            const float vt1 = low;
            const float vt2 = float(double(known) - low);
            float g = kNoGain;
            if (double(vt1) >= minItems && double(vt2) >= minItems) {
                double d1 = DistributionInfoCached(r1, C, f1_.data(), dirty1_.data(), table);
                double d2 = DistributionInfoCached(r2, C, f2_.data(), dirty2_.data(), table);
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
        gain_[a] = float(double(bestGain) - cost);
        bestCut_[a] = float((double(E[bestI].value) + double(E[bestI + 1].value)) / 2);
        float totals[3] = {vt0, bestLow, float(double(known) - bestLow)};
        info_[a] = float(double(DistributionInfo(totals, 3)) / items);
    }
}

// Builds the branches' lists in the other arena set, branch 1 on top, so that it is
// grown first and, when done, leaves branch 2 on top.
void Grower::BuildChildren(const Frame& f, int forks, const std::vector<uint32_t>& groups,
                           uint32_t unknowns, std::vector<Frame>& kids) {
    const uint32_t n = f.n;
    const int nc = nCont_;
    const int side = 1 - f.side;
    kids.assign(size_t(forks) + 1, Frame{});
    std::vector<int>& live = live_;
    live.clear();
    size_t idTop = ids_[side].top, entTop = ents_[side].top, unkTop = unks_[side].top;
    for (int v = forks; v >= 1; --v) {
        if (!groups[v]) continue;
        uint32_t m = unknowns + groups[v];
        kids[v] = Frame{idTop, entTop, unkTop, m, side};
        idTop += m;
        entTop += size_t(nc) * m;
        unkTop += size_t(nc);
        live.push_back(v);
    }
    ids_[side].Ensure(idTop);
    ents_[side].Ensure(entTop);
    unks_[side].Ensure(unkTop);
    std::vector<uint32_t>& pos = pos_;
    pos.assign(size_t(forks) + 1, 0);
    const bool binary = forks == 2 && live.size() == 2;
    if (binary) {
        // Both branches non-empty: write every item to both lists and advance the
        // cursors by membership, which avoids a mispredicted branch per row.
        uint32_t* a1 = ids_[side].data.get() + kids[1].idOff;
        uint32_t* a2 = ids_[side].data.get() + kids[2].idOff;
        uint32_t u1 = 0, u2 = 0, g1 = unknowns, g2 = unknowns;
        const uint32_t* src = ids_[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t item = src[i];
            const uint32_t b = branchOf_[RowId(item)];
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
        uint32_t* idA = ids_[side].data.get();
        std::vector<uint32_t>& upos = upos_;
        upos.assign(size_t(forks) + 1, 0);
        const uint32_t* src = ids_[f.side].data.get() + f.idOff;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t item = src[i];
            int b = branchOf_[RowId(item)];
            if (b == 0) {
                for (int v : live) idA[kids[v].idOff + upos[v]++] = item | kWeighted;
            } else {
                idA[kids[b].idOff + unknowns + pos[b]++] = item;
            }
        }
    }
    const Entry* eSrc = ents_[f.side].data.get();
    const uint32_t* uSrc = unks_[f.side].data.get();
    Entry* eA = ents_[side].data.get();
    uint32_t* uA = unks_[side].data.get();
    std::vector<Entry*>& dst = dst_;
    dst.assign(size_t(forks) + 1, nullptr);
    for (int c = 0; c < nc; ++c) {
        const Entry* s = eSrc + f.entOff + size_t(c) * n;
        const uint32_t unkC = uSrc[f.unkOff + c];
        for (int v : live) {
            dst[v] = eA + kids[v].entOff + size_t(c) * kids[v].n;
            pos[v] = 0;
        }
        if (binary) {
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
                const uint32_t b = branchOf_[EntryId(e)];
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
            continue;
        }
        // Unknown values of this attribute first, then the known ones in order.
        for (uint32_t i = 0; i < n; ++i) {
            if (i == unkC)
                for (int v : live) uA[kids[v].unkOff + c] = pos[v];
            Entry e = s[i];
            int b = branchOf_[EntryId(e)];
            if (b == 0) {
                e.id |= kWeighted;
                for (int v : live) dst[v][pos[v]++] = e;
            } else {
                dst[b][pos[b]++] = e;
            }
        }
        if (unkC >= n)
            for (int v : live) uA[kids[v].unkOff + c] = pos[v];
    }
    ids_[side].top = idTop;
    ents_[side].top = entTop;
    unks_[side].top = unkTop;
}

// ------------------------------------------------------------------ pruning

float Grower::ExtraErrors(double n, double e) const {
    if (n <= 0) return 0.0f;
    if (e < 1e-6) return float(n * (1 - std::pow(double(cf_), 1 / n)));
    if (e < 0.9999) {
        double v = n * (1 - std::pow(double(cf_), 1 / n));
        return float(v + e * (double(ExtraErrors(n, 1.0)) - v));
    }
    if (e + 0.5 >= n) return float(0.67 * (n - e));
    const double coeff = Coefficient(cf_);
    double pr = (e + 0.5 + coeff / 2 + std::sqrt(coeff * ((e + 0.5) * (1 - (e + 0.5) / n) + coeff / 4))) / (n + coeff);
    return float(n * pr - e);
}

void Grower::Prune(TreeNode* root, float cf) {
    cf_ = cf;
    // Sized once: the recursion goes one level deeper than the tree, whose depth is at
    // most kMaxDepth.
    pruneDepth_ = -1;
    pruneCounts_.resize(kMaxDepth + 4);
    pruneAt_.resize(kMaxDepth + 4);
    std::fill(weight_.begin(), weight_.end(), 1.0f);
    nonUnit_ = 0;
    allOne_ = true;
    if (order_.size() != size_t(in_.rowCount)) {
        order_.resize(size_t(in_.rowCount));
        for (size_t i = 0; i < order_.size(); ++i) order_[i] = uint32_t(i);
    }
    Estimate(root, 0, in_.rowCount - 1, true);
}

float Grower::Estimate(TreeNode* t, int32_t first, int32_t last, bool update) {
    const int C = nClass_;
    // Scratch per recursion level (the recursion is no deeper than the tree).
    struct Level {
        Grower* g;
        explicit Level(Grower* grower) : g(grower) { ++g->pruneDepth_; }
        ~Level() { --g->pruneDepth_; }
    } level(this);
    std::vector<float> dist(size_t(C), 0.0f);
    float cases;
    if (allOne_) {
        cases = float(last - first + 1);
    } else {
        cases = 0;
        for (int32_t i = first; i <= last; ++i) cases += W(order_[i]);
    }
    for (int32_t i = first; i <= last; ++i) dist[cls_[order_[i]]] += W(order_[i]);
    int best = t->cls;
    for (int c = 0; c < C; ++c)
        if (dist[c] > dist[best]) best = c;
    const float leafErrors = cases - dist[best];
    const float extra = ExtraErrors(cases, leafErrors);
    if (update) {
        t->items = cases;
        t->cls = int16_t(best);
        t->dist = dist;
    }
    const double leafTotal = double(leafErrors) + extra;
    if (t->kind == kLeaf) {
        float result = float(leafTotal);
        if (update) t->errors = result;
        return result;
    }

    // One pass sorts the rows by branch: unknown values first, then each group; a
    // branch is grown on the unknowns followed by its own group.
    const int forks = t->forks;
    const size_t base = pruneStack_.size();
    std::vector<uint32_t>& counts = pruneCounts_[size_t(pruneDepth_)];
    counts.assign(size_t(forks) + 1, 0);
    for (int32_t i = first; i <= last; ++i) {
        uint32_t id = order_[i];
        int b = BranchOf(id, *t);
        branchOf_[id] = uint16_t(b);
        ++counts[b];
    }
    std::vector<size_t>& at = pruneAt_[size_t(pruneDepth_)];
    at.assign(size_t(forks) + 1, 0);
    size_t sum = base;
    for (int v = 0; v <= forks; ++v) {
        at[v] = sum;
        sum += counts[v];
    }
    pruneStack_.resize(sum);
    for (int32_t i = first; i <= last; ++i) {
        uint32_t id = order_[i];
        pruneStack_[at[branchOf_[id]]++] = id;
    }
    const uint32_t unknowns = counts[0];
    std::copy(pruneStack_.begin() + long(base), pruneStack_.begin() + long(base + unknowns), order_.begin() + first);
    const int32_t kp = first + int32_t(unknowns);
    float known = 0;
    for (size_t i = base + unknowns; i < sum; ++i) known += W(pruneStack_[i]);
    const bool saved = allOne_;
    if (kp != first) allOne_ = false;
    float treeErrors = 0, maxFactor = 0;
    int largest = 0;
    size_t groupStart = base + unknowns;
    for (int v = 1; v <= forks; ++v) {
        const size_t g = counts[v];
        const size_t from = groupStart;
        groupStart += g;
        if (g == 0) continue;
        std::copy(pruneStack_.begin() + long(from), pruneStack_.begin() + long(from + g), order_.begin() + kp);
        const int32_t ep = kp + int32_t(g) - 1;
        float gw = 0;
        for (int32_t i = kp; i <= ep; ++i) gw += W(order_[i]);
        const float factor = float(double(gw) / known);
        if (factor >= maxFactor) {
            largest = v;
            maxFactor = factor;
        }
        Scale(pruneStack_.data() + base, unknowns, factor, true);
        treeErrors += Estimate(t->branches[v].get(), first, ep, update);
        std::copy(pruneStack_.begin() + long(base), pruneStack_.begin() + long(base + unknowns), order_.begin() + first);
        Scale(pruneStack_.data() + base, unknowns, factor, false);
    }
    // Back to the node's own rows, in any order.
    std::copy(pruneStack_.begin() + long(base), pruneStack_.begin() + long(sum), order_.begin() + first);
    pruneStack_.resize(base);
    allOne_ = saved;
    if (!update) return treeErrors;

    const double branchErrors = largest ? double(Estimate(t->branches[largest].get(), first, last, false))
                                        : std::numeric_limits<double>::infinity();
    if (leafTotal <= branchErrors + 0.1 && leafTotal <= double(treeErrors) + 0.1) {
        t->kind = kLeaf;
        t->errors = float(leafTotal);
        t->branches.clear();
        t->forks = 0;
    } else if (branchErrors <= double(treeErrors) + 0.1) {
        allOne_ = saved;
        Estimate(t->branches[largest].get(), first, last, true);
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
    allOne_ = saved;
    return t->errors;
}

}  // namespace trx
