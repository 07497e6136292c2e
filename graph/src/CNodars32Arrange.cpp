// The hierarchy, tree and compact arrangements, and grid placement.
#include <deque>
#include <map>

#include "CFlowChartSolver.h"
#include "CNodars32Ctrl.h"

namespace nodars {

// ---------------------------------------------------------------- hierarchy

namespace {

using Items = std::vector<std::unique_ptr<CGraphItem>>;

// A breadth-first walk backwards from each item s; reaching s again through a
// connection s -> v makes that connection a back link.
void MarkBackLinks(const Items& items) {
    for (auto& item : items) item->BackTargets.clear();
    for (auto& sOwner : items) {
        CGraphItem* s = sOwner.get();
        for (auto& item : items) item->Visited = false;
        std::deque<CGraphItem*> queue{s};
        while (!queue.empty()) {
            CGraphItem* v = queue.front();
            queue.pop_front();
            for (CGraphConnection* c : v->Incoming) {
                CGraphItem* p = c->From;
                if (p == s) {
                    s->BackTargets.push_back(v);
                } else if (!p->Visited && !p->HasBackTarget(v)) {
                    p->Visited = true;
                    queue.push_back(p);
                }
            }
        }
    }
}

// Sinks (no forward outgoing connection) are the roots of the layering.
void ResetForLayering(const Items& items) {
    for (auto& item : items) item->ResetLayout();
    for (auto& v : items)
        for (CGraphConnection* c : v->Incoming)
            if (!c->From->HasBackTarget(v.get())) c->From->IsRoot = false;
}

// v was raised: the sources above it must stay above it.
void RaiseSourcesAbove(CGraphItem* v, size_t limit) {
    std::deque<CGraphItem*> raise{v};
    size_t steps = 0;
    while (!raise.empty() && steps++ < limit) {
        CGraphItem* u = raise.front();
        raise.pop_front();
        for (CGraphConnection* in : u->Incoming) {
            CGraphItem* q = in->From;
            if (q->Layer != 0 && q->Layer <= u->Layer && !q->HasBackTarget(u)) {
                q->Layer = u->Layer + 1;
                raise.push_back(q);
            }
        }
    }
}

// Layers by longest path to a sink; each item's primary neighbour is its
// lowest-layered forward target.
void AssignLayers(const Items& items) {
    std::deque<CGraphItem*> queue;
    for (auto& item : items)
        if (item->IsRoot) queue.push_back(item.get());
    const size_t raiseLimit = items.size() * items.size() + 16;
    while (!queue.empty()) {
        CGraphItem* v = queue.front();
        queue.pop_front();
        for (CGraphConnection* c : v->Incoming) {
            CGraphItem* p = c->From;
            if (!p->Visited && !p->HasBackTarget(v)) {
                p->Visited = true;
                queue.push_back(p);
            }
        }
        if (v->IsRoot) {
            v->Visited = true;
            v->Layer = 1;
            continue;
        }
        for (CGraphConnection* c : v->Outgoing) {
            CGraphItem* t = c->To;
            if (t->Layer < 1 || v->HasBackTarget(t)) continue;
            if (!v->PrimaryNeighbour || t->Layer < v->PrimaryNeighbour->Layer) {
                v->PrimaryNeighbour = t;
                ++t->PrimaryCount;
            }
            if (v->Layer <= t->Layer) {
                v->Layer = t->Layer + 1;
                RaiseSourcesAbove(v, raiseLimit);
            }
        }
    }
}

std::vector<CGraphItem*> PrimaryChildren(CGraphItem* v) {
    std::vector<CGraphItem*> children;
    for (CGraphConnection* c : v->Incoming)
        if (c->From->PrimaryNeighbour == v && !c->From->HasBackTarget(v) &&
            std::find(children.begin(), children.end(), c->From) == children.end())
            children.push_back(c->From);
    return children;
}

// Breadth over the primary tree: leaves 1, others the sum of their children.
void SumBreadths(const Items& items) {
    std::vector<CGraphItem*> order;
    std::vector<char> seen(items.size(), 0);
    for (auto& rootOwner : items) {
        if (rootOwner->PrimaryNeighbour) continue;
        std::vector<CGraphItem*> stack{rootOwner.get()};
        while (!stack.empty()) {
            CGraphItem* v = stack.back();
            stack.pop_back();
            if (seen[v->Index]) continue;
            seen[v->Index] = 1;
            order.push_back(v);
            auto children = PrimaryChildren(v);
            for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        CGraphItem* v = *it;
        if (v->Breadth == 0) v->Breadth = 1;
        if (v->PrimaryNeighbour) v->PrimaryNeighbour->Breadth += v->Breadth;
    }
}

// Roots side by side, children in consecutive ranges under their neighbour.
void AssignSlots(const Items& items) {
    int32_t counter = 0;
    std::deque<CGraphItem*> slotQueue;
    for (auto& item : items) {
        if (item->PrimaryNeighbour) continue;
        item->Slot = counter;
        counter += item->Breadth;
        slotQueue.push_back(item.get());
    }
    std::vector<char> seen(items.size(), 0);
    while (!slotQueue.empty()) {
        CGraphItem* v = slotQueue.front();
        slotQueue.pop_front();
        if (seen[v->Index]) continue;
        seen[v->Index] = 1;
        int32_t next = v->Slot;
        for (CGraphItem* child : PrimaryChildren(v)) {
            child->Slot = next;
            next += child->Breadth;
            slotQueue.push_back(child);
        }
    }
}

// Back links need a free column where another back link would cross them.
void MakeRoomForBackLinks(const Items& items) {
    for (auto& aOwner : items) {
        CGraphItem* a = aOwner.get();
        for (CGraphItem* t : a->BackTargets) {
            for (auto& bOwner : items) {
                CGraphItem* b = bOwner.get();
                if (b->Slot == a->Slot && b->Layer > a->Layer && b->Layer <= t->Layer + 1 && !b->BackTargets.empty()) {
                    const int32_t from = a->Slot;
                    for (auto& x : items)
                        if (x.get() != a && x->Slot >= from) ++x->Slot;
                    break;
                }
            }
        }
    }
}

}  // namespace

void CNodars32Ctrl::ArrangeHierarchy() {
    MarkBackLinks(mItems);
    ResetForLayering(mItems);
    AssignLayers(mItems);
    mMaxLayer = 0;
    for (auto& item : mItems) mMaxLayer = std::max(mMaxLayer, item->Layer);
    SumBreadths(mItems);
    AssignSlots(mItems);
    MakeRoomForBackLinks(mItems);
    mMaxSlot = 0;
    for (auto& item : mItems) mMaxSlot = std::max(mMaxSlot, item->Slot);
}

// ---------------------------------------------------------------- tree

void CNodars32Ctrl::ArrangeTree() {
    for (auto& item : mItems) {
        item->ResetLayout();
        std::stable_sort(item->Outgoing.begin(), item->Outgoing.end(),
                         [](const CGraphConnection* a, const CGraphConnection* b) { return a->To->Index < b->To->Index; });
    }
    std::deque<CGraphItem*> queue;
    for (auto& item : mItems) {
        if (!item->Incoming.empty()) {
            item->PrimaryNeighbour = item->Incoming.front()->From;
            item->IsRoot = false;
        } else {
            item->Visited = true;
            item->Layer = 0;
            queue.push_back(item.get());
        }
    }
    std::vector<CGraphItem*> order;
    mMaxLayer = 0;
    while (!queue.empty()) {
        CGraphItem* v = queue.front();
        queue.pop_front();
        order.push_back(v);
        v->Layer = v->PrimaryNeighbour ? v->PrimaryNeighbour->Layer + 1 : 0;
        mMaxLayer = std::max(mMaxLayer, v->Layer);
        for (CGraphConnection* c : v->Outgoing) {
            CGraphItem* t = c->To;
            if (t->PrimaryNeighbour == v && !t->Visited) {
                t->Visited = true;
                queue.push_back(t);
            }
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        CGraphItem* v = *it;
        v->Layer = mMaxLayer - v->Layer;
        if (v->Breadth == 0) v->Breadth = 1;
        if (v->PrimaryNeighbour) v->PrimaryNeighbour->Breadth += v->Breadth;
    }
    mMaxSlot = 0;
}

// ---------------------------------------------------------------- compact

void CNodars32Ctrl::ArrangeCompact() {
    const size_t n = mItems.size();
    for (auto& item : mItems) {
        item->ResetLayout();
        item->Neighbours.clear();
        auto add = [&](CGraphItem* other) {
            if (other != item.get() &&
                std::find(item->Neighbours.begin(), item->Neighbours.end(), other) == item->Neighbours.end())
                item->Neighbours.push_back(other);
        };
        for (CGraphConnection* c : item->Incoming) add(c->From);
        for (CGraphConnection* c : item->Outgoing) add(c->To);
    }
    mMaxLayer = mMaxSlot = 0;
    if (n == 0) return;

    auto key = [](int32_t col, int32_t row) { return (uint32_t(uint16_t(row)) << 16) | uint16_t(col); };
    std::map<uint32_t, bool> cells;  // true: taken
    struct Cell { int32_t col, row; };
    std::vector<Cell> candidates;
    std::vector<char> placed(n, 0);
    std::vector<CGraphItem*> placedItems;
    auto offer = [&](int32_t col, int32_t row) {
        static constexpr int kOffsets[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
        for (const auto& o : kOffsets) {
            uint32_t k = key(col + o[0], row + o[1]);
            if (cells.count(k)) continue;
            cells[k] = false;
            candidates.push_back({col + o[0], row + o[1]});
        }
    };
    auto place = [&](CGraphItem* item, int32_t col, int32_t row) {
        item->Slot = col;
        item->Layer = row;
        placed[item->Index] = 1;
        placedItems.push_back(item);
        cells[key(col, row)] = true;
        offer(col, row);
    };

    CGraphItem* first = mItems[0].get();
    for (auto& item : mItems)
        if (item->Neighbours.size() > first->Neighbours.size()) first = item.get();
    place(first, 0, 0);

    for (size_t round = 1; round < n; ++round) {
        CGraphItem* next = nullptr;
        int32_t best = -1;
        for (auto& item : mItems) {
            if (placed[item->Index]) continue;
            int32_t score = 0;
            if (!item->Neighbours.empty()) {
                int32_t placedNeighbours = 0;
                for (CGraphItem* nb : item->Neighbours) placedNeighbours += placed[nb->Index] ? 1 : 0;
                score = MulDiv(placedNeighbours, 1000, int32_t(item->Neighbours.size()));
            }
            if (score > best) {
                best = score;
                next = item.get();
            }
        }
        size_t bestCell = 0;
        int64_t bestCost = INT64_MAX;
        for (size_t i = 0; i < candidates.size(); ++i) {
            int64_t cost = 0;
            for (CGraphItem* p : placedItems) {
                int64_t dx = candidates[i].col - p->Slot, dy = candidates[i].row - p->Layer;
                int64_t d2 = dx * dx + dy * dy, d = 0;
                while (d * d < d2) ++d;
                cost += d;
            }
            if (cost < bestCost) {
                bestCost = cost;
                bestCell = i;
            }
        }
        Cell cell = candidates[bestCell];
        candidates.erase(candidates.begin() + bestCell);
        place(next, cell.col, cell.row);
    }

    int32_t minCol = INT32_MAX, minRow = INT32_MAX;
    for (auto& item : mItems) {
        minCol = std::min(minCol, item->Slot);
        minRow = std::min(minRow, item->Layer);
    }
    for (auto& item : mItems) {
        item->Slot -= minCol;
        item->Layer -= minRow - 1;
        mMaxSlot = std::max(mMaxSlot, item->Slot);
        mMaxLayer = std::max(mMaxLayer, item->Layer);
    }
}

// ---------------------------------------------------------------- flow chart

void CNodars32Ctrl::ArrangeFlowChart() {
    for (auto& item : mItems) item->ResetLayout();
    std::vector<CFlowChartSolver::Link> links;
    for (auto& item : mItems)
        for (CGraphConnection* c : item->Outgoing)
            links.push_back({c->From->Index, c->To->Index, c->FromHandle, c->ToHandle});
    CFlowChartSolver solver(int32_t(mItems.size()), links);
    solver.Solve();
    for (auto& item : mItems) {
        item->Slot = solver.Slot(item->Index);
        item->Layer = solver.Layer(item->Index);
    }
    mMaxSlot = solver.MaxSlot();
    mMaxLayer = solver.MaxLayer();
}

// ---------------------------------------------------------------- grid placement

void CNodars32Ctrl::PositionGrid() {
    int32_t cellW = 0, cellH = 0;
    for (auto& item : mItems) {
        cellW = std::max(cellW, item->Rect.Width());
        cellH = std::max(cellH, item->Rect.Height());
    }
    if (!(mArrangeMode == 3 && mDrawDir == 3))
        for (auto& item : mItems) PlaceItem(item.get(), cellW, cellH);
    if (mArrangeMode == 3) PlaceTree();
}

void CNodars32Ctrl::PlaceItem(CGraphItem* item, int32_t cellW, int32_t cellH) {
    const int32_t w = item->Rect.Width(), h = item->Rect.Height();
    if (mArrangeMode == 1) {
        item->Rect.MoveTo((item->Slot - (mMaxSlot + 1) / 2) * (cellW + mXSpace) + (cellW - w) / 2,
                          (item->Layer - 1) * (cellH + mYSpace) + (cellH - h) / 2);
        return;
    }
    const bool horizontal = mDrawDir == 0 || mDrawDir == 1;
    const int32_t layerPitch = horizontal ? cellW + mXSpace + 2 * mGap : cellH + mYSpace + 2 * mGap;
    int32_t slotPitch = horizontal ? cellH + mYSpace : cellW + mXSpace;
    if (mArrangeMode == 2) slotPitch += 2 * mGap;
    int32_t shift = 0;
    if (mArrangeMode == 3) {
        shift = MulDiv(item->Breadth - 1, slotPitch, 2);
        if (mDrawDir == 1 || mDrawDir == 2) shift = -shift;
    }
    int32_t x = 0, y = 0;
    switch (mDrawDir) {
    case 0:
        x = (item->Layer - 1) * layerPitch;
        y = item->Slot * slotPitch + shift;
        item->Rect.MoveTo(x + cellW - w, y + (cellH - h) / 2);
        break;
    case 1:
        x = (mMaxLayer - item->Layer) * layerPitch;
        y = (mMaxSlot - item->Slot) * slotPitch + shift;
        item->Rect.MoveTo(x, y + (cellH - h) / 2);
        break;
    case 2:
        y = (item->Layer - 1) * layerPitch;
        x = (mMaxSlot - item->Slot) * slotPitch + shift;
        item->Rect.MoveTo(x + (cellW - w) / 2, y + cellH - h);
        break;
    case 3:
        y = ((mMaxLayer + 1) / 2 - item->Layer) * layerPitch;
        x = (item->Slot - (mMaxSlot + 1) / 2) * slotPitch + shift;
        item->Rect.MoveTo(x + (cellW - w) / 2, y);
        break;
    default: break;
    }
}

namespace {

// The directions of a tidy tree: breadth along x when it grows vertically.
struct TreeAxes {
    bool vertical;
    int32_t Breadth(const CGraphItem* it) const { return vertical ? it->Rect.Width() : it->Rect.Height(); }
    int32_t Depth(const CGraphItem* it) const { return vertical ? it->Rect.Height() : it->Rect.Width(); }
    int32_t Low(const CGraphItem* it) const { return vertical ? it->Rect.left : it->Rect.top; }
    int32_t High(const CGraphItem* it) const { return vertical ? it->Rect.right : it->Rect.bottom; }
    int32_t Centre(const CGraphItem* it) const { return (Low(it) + High(it)) / 2; }
    void MoveTo(CGraphItem* it, int32_t breadth, int32_t depth) const {
        if (vertical) it->Rect.MoveTo(breadth, depth);
        else it->Rect.MoveTo(depth, breadth);
    }
};

// A subtree's band along the breadth axis, and where its root goes in depth.
struct TreeFrame {
    CGraphItem* item = nullptr;  // null: the virtual root
    int parent = -1;
    std::vector<int> children;
    int32_t start = 0;
    int32_t extent = 0;
    int32_t surplus = 0;
    int32_t maxChildDepth = 0;
    int32_t running = 0;
    int32_t childSum = 0;
    int32_t depth = 0;
};

// One generation below the parent's; a parent's surplus passes to its subtree.
void SetTreeDepths(std::vector<TreeFrame>& frames, const std::vector<int>& preorder, int32_t depthStep) {
    for (int id : preorder) {
        TreeFrame& f = frames[id];
        const TreeFrame& p = frames[f.parent];
        if (f.parent == 0) {
            f.depth = 0;
        } else {
            f.depth = p.depth + frames[p.parent].maxChildDepth + depthStep;
        }
        f.surplus += p.surplus;
    }
}

// Children before parents: a parent centred over its children, a leaf in the
// middle of its band.
void PlaceTreeFrames(const std::vector<TreeFrame>& frames, const std::vector<int>& postorder, const TreeAxes& axes,
                     int32_t breadthSpace) {
    for (int id : postorder) {
        const TreeFrame& f = frames[id];
        CGraphItem* it = f.item;
        const int32_t size = axes.Breadth(it);
        int32_t pos = 0;
        if (!f.children.empty()) {
            const CGraphItem* first = frames[f.children.front()].item;
            const CGraphItem* last = frames[f.children.back()].item;
            int32_t mid = (axes.Centre(first) + axes.Centre(last)) / 2;
            if (f.surplus == 0) mid = std::clamp(mid, axes.Low(first), std::max(axes.Low(first), axes.High(last)));
            pos = mid - size / 2;
        } else {
            const int32_t spanStart = f.start + frames[f.parent].surplus / 2;
            pos = spanStart + (f.extent - breadthSpace - size) / 2;
        }
        axes.MoveTo(it, pos, f.depth);
    }
}

// Turns the tree so that it grows from the right or bottom edge.
void MirrorTree(const std::vector<std::unique_ptr<CGraphItem>>& items) {
    int32_t maxRight = INT32_MIN, maxBottom = INT32_MIN;
    for (auto& item : items) {
        maxRight = std::max(maxRight, item->Rect.right);
        maxBottom = std::max(maxBottom, item->Rect.bottom);
    }
    for (auto& item : items) item->Rect.MoveTo(maxRight - item->Rect.right, maxBottom - item->Rect.bottom);
}

}  // namespace

// Tidy tree: every subtree gets a band along the breadth axis as wide as its
// leaves need (or its own root, when that is wider), parents centred over their
// children, one depth step per generation.
void CNodars32Ctrl::PlaceTree() {
    const TreeAxes axes{mDrawDir == 2 || mDrawDir == 3};
    const int32_t breadthSpace = axes.vertical ? mXSpace : mYSpace;
    const int32_t depthSpace = axes.vertical ? mYSpace : mXSpace;

    std::vector<TreeFrame> frames(1);
    std::vector<int> preorder;  // frames in opening order (parents before children)
    std::vector<int> postorder;
    auto childrenOf = [&](int f) {
        std::vector<CGraphItem*> out;
        if (!frames[f].item) {
            for (auto& item : mItems)
                if (!item->PrimaryNeighbour) out.push_back(item.get());
        } else {
            for (CGraphConnection* c : frames[f].item->Outgoing)
                if (c->To->PrimaryNeighbour == frames[f].item && c->To != frames[f].item) out.push_back(c->To);
        }
        return out;
    };
    // Depth-first walk with an explicit stack: (frame, its children, next child).
    struct Step { int frame; std::vector<CGraphItem*> kids; size_t next; };
    std::vector<char> opened(mItems.size(), 0);
    std::vector<Step> stack{{0, childrenOf(0), 0}};
    while (!stack.empty()) {
        Step& top = stack.back();
        if (top.next < top.kids.size()) {
            CGraphItem* child = top.kids[top.next++];
            if (opened[child->Index]) continue;
            opened[child->Index] = 1;
            const int parent = top.frame;
            TreeFrame f;
            f.item = child;
            f.parent = parent;
            f.start = frames[parent].running;
            f.running = f.start;
            frames.push_back(f);
            const int id = int(frames.size()) - 1;
            frames[parent].children.push_back(id);
            preorder.push_back(id);
            stack.push_back({id, childrenOf(id), 0});
            continue;
        }
        // Children done: the extent of this frame.
        const int id = top.frame;
        stack.pop_back();
        if (id == 0) break;
        TreeFrame& f = frames[id];
        f.extent = f.childSum;
        const int32_t own = axes.Breadth(f.item) + breadthSpace;
        if (own > f.extent) {
            f.surplus = own - f.extent;
            f.extent = own;
        }
        TreeFrame& p = frames[f.parent];
        p.running += f.extent;
        p.childSum += f.extent;
        p.maxChildDepth = std::max(p.maxChildDepth, axes.Depth(f.item));
        postorder.push_back(id);
    }
    SetTreeDepths(frames, preorder, depthSpace + 2 * mGap);
    PlaceTreeFrames(frames, postorder, axes, breadthSpace);
    if (mDrawDir == 0 || mDrawDir == 2) MirrorTree(mItems);
}

}  // namespace nodars
