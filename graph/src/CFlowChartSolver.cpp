#include "CFlowChartSolver.h"

#include <algorithm>
#include <map>
#include <set>

namespace nodars {

namespace {

struct Rule {
    int8_t relation;
    uint8_t priority;  // 2: no rule
};

// [source handle - 1][target handle - 1][axis]
constexpr Rule kFlowConstraintTable[4][4][2] = {
    {{{0, 2}, {0, 1}}, {{-1, 1}, {-1, 1}}, {{0, 0}, {-1, 1}}, {{+1, 1}, {-1, 1}}},
    {{{+1, 1}, {+1, 1}}, {{0, 1}, {0, 2}}, {{+1, 1}, {-1, 1}}, {{+1, 1}, {0, 0}}},
    {{{0, 0}, {+1, 1}}, {{-1, 1}, {+1, 1}}, {{0, 2}, {0, 1}}, {{+1, 1}, {+1, 1}}},
    {{{-1, 1}, {+1, 1}}, {{-1, 1}, {0, 0}}, {{-1, 1}, {-1, 1}}, {{0, 1}, {0, 2}}},
};

}  // namespace

CFlowChartSolver::CFlowChartSolver(int32_t itemCount, std::vector<Link> links)
    : mCount(itemCount), mLinks(std::move(links)) {}

void CFlowChartSolver::AddConstraint(int axis, int32_t from, int32_t to, int8_t relation, uint8_t priority) {
    Constraint c{std::min(from, to), std::max(from, to), from > to ? int8_t(-relation) : relation, priority};
    auto& list = mAxes[axis].constraints;
    auto it = std::lower_bound(list.begin(), list.end(), c, [](const Constraint& a, const Constraint& b) {
        return a.low != b.low ? a.low < b.low : a.high < b.high;
    });
    if (it != list.end() && it->low == c.low && it->high == c.high) {
        if (c.priority > it->priority) *it = c;
        return;
    }
    list.insert(it, c);
}

void CFlowChartSolver::BuildClasses(int axis) {
    Axis& a = mAxes[axis];
    a.cls.resize(size_t(mCount));
    for (int32_t i = 0; i < mCount; ++i) a.cls[i] = i;
    for (const Constraint& c : a.constraints) {
        if (c.priority == kDisabled || c.relation != 0) continue;
        const int32_t from = a.cls[c.high], to = a.cls[c.low];
        if (from == to) continue;
        for (int32_t& k : a.cls)
            if (k == from) k = to;
    }
}

// Indexes of the constraints touching `item`, in list order.
std::vector<int> CFlowChartSolver::Adjacent(int axis, int32_t item) const {
    std::vector<int> out;
    const auto& list = mAxes[axis].constraints;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].low == item || list[i].high == item) out.push_back(int(i));
    return out;
}

// Depth-first walks over the active constraints from every item; a walk that
// comes back to an item on its path through an order step, or through an
// alignment at another level, has found a contradiction, and the weakest
// constraint on that loop is dropped. An item leaves the path when its
// constraints are exhausted and may be walked again by another path, so each
// contradiction is met on the path that reaches it first.
void CFlowChartSolver::BreakCycles(int axis) {
    auto& list = mAxes[axis].constraints;
    std::vector<std::vector<int>> adjacent(static_cast<size_t>(mCount));
    for (int32_t i = 0; i < mCount; ++i) adjacent[i] = Adjacent(axis, i);
    struct Entry {
        int32_t item;
        size_t next;  // position in adjacent[item]
        int32_t level;
        int via;  // constraint that led here, -1 for the start
    };
    std::vector<int32_t> onPath(size_t(mCount), -1);  // stack position, -1 when off the path
    for (int32_t start = 0; start < mCount; ++start) {
        // Walking every path is exponential on dense alignment meshes: past a
        // budget, items already exhausted from this start are not walked again.
        int64_t steps = 0;
        std::vector<char> done;
        std::vector<Entry> stack{{start, 0, 0, -1}};
        onPath[start] = 0;
        while (!stack.empty()) {
            Entry& top = stack.back();
            if (top.next >= adjacent[top.item].size()) {
                onPath[top.item] = -1;
                if (!done.empty()) done[top.item] = 1;
                stack.pop_back();
                continue;
            }
            if (++steps == kWalkBudget) done.assign(size_t(mCount), 0);
            const int ci = adjacent[top.item][top.next++];
            const Constraint& c = list[ci];
            if (c.priority == kDisabled || ci == top.via) continue;
            int32_t other = -1, level = top.level;
            if (c.relation == 0) {
                other = c.low == top.item ? c.high : c.low;
            } else if ((c.relation > 0 && c.low == top.item) || (c.relation < 0 && c.high == top.item)) {
                other = c.relation > 0 ? c.high : c.low;
                level = top.level + 1;
            } else {
                continue;  // leads the other way
            }
            const int32_t at = onPath[other];
            if (at >= 0) {
                if (c.relation == 0 && stack[size_t(at)].level == level) continue;
                // Contradiction: drop the weakest constraint on the loop; ties go to
                // the closing one, then to the one nearest the top.
                int weakest = ci;
                size_t weakestPos = stack.size();
                for (size_t k = stack.size(); k-- > size_t(at) + 1;) {
                    if (list[stack[k].via].priority < list[weakest].priority) {
                        weakest = stack[k].via;
                        weakestPos = k;
                    }
                }
                list[weakest].priority = kDisabled;
                while (stack.size() > weakestPos) {
                    onPath[stack.back().item] = -1;
                    stack.pop_back();
                }
                continue;
            }
            if (!done.empty() && done[other]) continue;
            onPath[other] = int32_t(stack.size());
            stack.push_back({other, 0, level, ci});
        }
    }
}

// Finds the alignment path between a and b on `axis` and drops its weakest link.
bool CFlowChartSolver::DropAlignmentBetween(int axis, int32_t a, int32_t b) {
    auto& list = mAxes[axis].constraints;
    std::vector<int> via(size_t(mCount), -2);
    std::vector<int32_t> stack{a};
    via[a] = -1;
    while (!stack.empty() && via[b] == -2) {
        int32_t v = stack.back();
        stack.pop_back();
        for (int ci : Adjacent(axis, v)) {
            const Constraint& c = list[ci];
            if (c.priority == kDisabled || c.relation != 0) continue;
            int32_t w = c.low == v ? c.high : c.low;
            if (via[w] != -2) continue;
            via[w] = ci;
            stack.push_back(w);
        }
    }
    if (via[b] == -2) return false;
    // Walk back from b; the first weakest (nearest a) is dropped.
    std::vector<int> path;
    for (int32_t v = b; via[v] >= 0;) {
        path.push_back(via[v]);
        const Constraint& c = list[via[v]];
        v = c.low == v ? c.high : c.low;
    }
    int weakest = path.back();
    for (auto it = path.rbegin(); it != path.rend(); ++it)
        if (list[*it].priority < list[weakest].priority) weakest = *it;
    list[weakest].priority = kDisabled;
    return true;
}

// Items that one item puts on the same side (before it or after it) must not be
// aligned with each other on the other axis, or they would coincide.
void CFlowChartSolver::ResolveFanOuts() {
    for (int axis = 0; axis < 2; ++axis) {
        const int other = 1 - axis;
        for (int8_t dir : {int8_t(-1), int8_t(+1)}) {
            for (int32_t n = 0; n < mCount; ++n) {
                int guard = 0;
                for (bool restart = true; restart && guard++ < mCount * mCount + 8;) {
                    restart = false;
                    std::vector<int32_t> side;
                    for (const Constraint& c : mAxes[axis].constraints) {
                        if (c.priority == kDisabled) continue;
                        if (c.low == n && c.relation == dir) side.push_back(c.high);
                        else if (c.high == n && c.relation == -dir) side.push_back(c.low);
                    }
                    for (size_t i = 0; i < side.size() && !restart; ++i)
                        for (size_t j = i + 1; j < side.size() && !restart; ++j)
                            if (side[i] != side[j] && mAxes[other].cls[side[i]] == mAxes[other].cls[side[j]] &&
                                DropAlignmentBetween(other, side[i], side[j])) {
                                BuildClasses(other);
                                restart = true;
                            }
                }
            }
        }
    }
}

// One relaxation sweep over both axes; true when something moved.
bool CFlowChartSolver::Relax() {
    bool changed = false;
    for (Axis& a : mAxes) {
        for (const Constraint& c : a.constraints) {
            if (c.priority == kDisabled || c.relation == 0) continue;
            const int32_t before = c.relation > 0 ? c.low : c.high;
            const int32_t after = c.relation > 0 ? c.high : c.low;
            if (a.coord[before] < a.coord[after]) continue;
            const int32_t value = a.coord[before] + 1;
            const int32_t cls = a.cls[after];
            for (int32_t i = 0; i < mCount; ++i)
                if (a.cls[i] == cls) a.coord[i] = value;
            changed = true;
        }
    }
    return changed;
}

// Moves one of the first pair of coinciding items; true when it moved something.
bool CFlowChartSolver::SeparateOverlaps() {
    Axis& a0 = mAxes[0];
    Axis& a1 = mAxes[1];
    for (int32_t i = 0; i < mCount; ++i) {
        for (int32_t j = 0; j < i; ++j) {
            if (mComponent[i] != mComponent[j] || a0.coord[i] != a0.coord[j] || a1.coord[i] != a1.coord[j]) continue;
            int axis;
            if (a1.cls[i] == a1.cls[j]) axis = 0;
            else if (a0.cls[i] == a0.cls[j]) axis = 1;
            else axis = mFlag[i] == 1 ? 0 : 1;
            Axis& a = mAxes[axis];
            const int32_t cls = a.cls[i];
            for (int32_t k = 0; k < mCount; ++k)
                if (a.cls[k] == cls) a.coord[k] += k == i ? 2 : 1;
            return true;
        }
    }
    return false;
}

void CFlowChartSolver::CloseGaps(int axis) {
    Axis& a = mAxes[axis];
    std::map<int32_t, std::set<int32_t>> used;  // component -> coordinates
    for (int32_t i = 0; i < mCount; ++i) used[mComponent[i]].insert(a.coord[i]);
    for (auto& [component, coords] : used) {
        // New coordinate for each used one: its rank.
        std::map<int32_t, int32_t> rank;
        int32_t r = 0;
        for (int32_t c : coords) rank[c] = r++;
        for (int32_t i = 0; i < mCount; ++i)
            if (mComponent[i] == component) a.coord[i] = rank[a.coord[i]];
    }
}

void CFlowChartSolver::Solve() {
    const size_t n = size_t(mCount);
    mSlot.assign(n, 0);
    mLayer.assign(n, 0);
    mMaxSlot = mMaxLayer = 0;
    if (mCount == 0) return;
    mComponent.resize(n);
    mFlag.assign(n, 1);
    for (int32_t i = 0; i < mCount; ++i) mComponent[i] = i;
    for (Axis& a : mAxes) a.coord.assign(n, 0);

    for (const Link& l : mLinks) {
        if (l.from == l.to || l.from < 0 || l.to < 0 || l.from >= mCount || l.to >= mCount) continue;
        if (mFlag[l.to] == 1) mFlag[l.to] = ((l.toHandle % 2) + 2) % 2;
        const int32_t oldLabel = mComponent[l.to], newLabel = mComponent[l.from];
        for (int32_t& c : mComponent)
            if (c == oldLabel) c = newLabel;
        if (l.fromHandle < 1 || l.fromHandle > 4 || l.toHandle < 1 || l.toHandle > 4) continue;
        for (int axis = 0; axis < 2; ++axis) {
            const Rule& r = kFlowConstraintTable[l.fromHandle - 1][l.toHandle - 1][axis];
            if (r.priority != kDisabled) AddConstraint(axis, l.from, l.to, r.relation, r.priority);
        }
    }
    BuildClasses(0);
    BuildClasses(1);
    BreakCycles(0);
    BreakCycles(1);
    BuildClasses(0);
    BuildClasses(1);
    ResolveFanOuts();

    // Relaxation ends once the constraints hold; a loop the cycle search missed
    // cannot hold, so the number of sweeps is bounded by what an acyclic set needs.
    const int sweepLimit = 4 * mCount + 8;
    auto relaxAll = [&] {
        for (int sweep = 0; sweep < sweepLimit && Relax(); ++sweep) {}
    };
    relaxAll();
    for (int moves = 0; moves < 4 * mCount * mCount + 16 && SeparateOverlaps(); ++moves) relaxAll();

    CloseGaps(0);
    CloseGaps(1);

    // Components side by side in label order.
    std::map<int32_t, int32_t> width;
    for (int32_t i = 0; i < mCount; ++i)
        width[mComponent[i]] = std::max(width[mComponent[i]], mAxes[0].coord[i] + 1);
    std::map<int32_t, int32_t> start;
    int32_t next = 0;
    for (auto& [label, w] : width) {
        start[label] = next;
        next += w;
    }
    int32_t minSlot = INT32_MAX, maxLayer = 0;
    for (int32_t i = 0; i < mCount; ++i) {
        mSlot[i] = start[mComponent[i]] + mAxes[0].coord[i];
        mLayer[i] = mAxes[1].coord[i];
        minSlot = std::min(minSlot, mSlot[i]);
        maxLayer = std::max(maxLayer, mLayer[i]);
    }
    for (int32_t i = 0; i < mCount; ++i) {
        mSlot[i] -= minSlot;
        mLayer[i] = maxLayer - mLayer[i] + 1;
        mMaxSlot = std::max(mMaxSlot, mSlot[i]);
        mMaxLayer = std::max(mMaxLayer, mLayer[i]);
    }
}

}  // namespace nodars
