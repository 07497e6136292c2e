// Mouse editing: the auto-mouse-event table picks what a press may start
// (resize, drag, connect, select rectangle); the release applies it and raises
// the events. Indexes kept across events are checked again before use: a sink
// may change the graph from inside any event.
#include <QCursor>
#include <cmath>

#include "CGraphRenderer.h"
#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"
#include "HandleSides.h"

namespace nodars {

namespace {

constexpr int16_t kClick = 1, kConnect = 2, kConstrained = 4, kDrag = 8, kSelect = 16, kResize = 32;
constexpr int kScrollStep = 10;

bool Inside(const GRect& r, QPoint p) { return p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom; }

com::Variant I2(int32_t v) { return com::Variant::I2(int16_t(v)); }

GRect Normalised(const GRect& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right), std::max(r.top, r.bottom)};
}

// Whether p lies within 5 units of the segment a-b (a band along the segment).
bool NearSegment(GPoint a, GPoint b, GPoint p) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    if (len2 == 0) return false;
    const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2;
    if (t < 0 || t > 1) return false;
    const double cross = std::abs((p.x - a.x) * dy - (p.y - a.y) * dx);
    return cross / std::sqrt(len2) <= 5.0;
}

}  // namespace

GPoint CNodars32Ctrl::ClientToGraph(QPoint client) const { return ScreenToGraph(GPoint{client.x(), client.y()}); }

GPoint CNodars32Ctrl::ScrollPoint(QPoint client) const { return {client.x() + mHScroll, client.y() + mVScroll}; }

GRect CNodars32Ctrl::ItemScreenRect(int32_t ix) const {
    const GRect& r = mItems[size_t(ix)]->Rect;
    const GPoint a = GraphToScreen({r.left, r.top}), b = GraphToScreen({r.right, r.bottom});
    return {a.x, a.y, b.x, b.y};
}

void CNodars32Ctrl::RepaintSelection(int32_t ix) {
    if (!mWnd || !ValidItem(ix)) return;
    GRect r = ItemScreenRect(ix);
    r.Inflate(9, 9);
    mWnd->viewport()->update(CGraphRenderer::Box(r));
}

int16_t CNodars32Ctrl::ActionMask(int button, int16_t shift) const {
    int mods = shift & 7;
    auto entry = [&] { return mAutoMouseEvents[size_t(button * 8 + mods)]; };
    // An empty entry falls back by dropping Shift, then Ctrl, then Alt.
    for (int drop : {1, 2, 4}) {
        if (entry() != 0) break;
        mods &= ~drop;
    }
    return entry();
}

int32_t CNodars32Ctrl::HitItem(QPoint client, int16_t* handle) const {
    *handle = 0;
    const bool handles = mArrangeMode == 2 && mDrawHandles;
    const int32_t gap = MulDiv(mGap, mZoomNum, mZoomDen);
    for (int32_t i = int32_t(mItems.size()) - 1; i >= 0; --i) {
        const GRect r = ItemScreenRect(i);
        if (Inside(r, client)) return i;
        if (!handles) continue;
        const GPoint ends[4] = {{r.left - gap, r.CentreY()}, {r.right + gap, r.CentreY()},
                                {r.CentreX(), r.top - gap}, {r.CentreX(), r.bottom + gap}};
        const int sides[4] = {kLeft, kRight, kTop, kBottom};
        for (int k = 0; k < 4; ++k) {
            if (std::abs(client.x() - ends[k].x) <= 4 && std::abs(client.y() - ends[k].y) <= 4) {
                *handle = SideHandle(mDrawDir, sides[k]);
                return i;
            }
        }
    }
    return -1;
}

// The handles are drawn around the item's box inflated by 3; the press may land
// on the drawn box or on the one just outside the item itself.
int32_t CNodars32Ctrl::HitResizeHandle(QPoint client) const {
    if (!ValidItem(mSelectedIndex)) return -1;
    const GRect r = ItemScreenRect(mSelectedIndex);
    GRect drawn = r;
    drawn.Inflate(3, 3);
    for (int i = 0; i < 8; ++i) {
        GRect a, b;
        CGraphRenderer::SelectionHandleRect(i, r, &a);
        CGraphRenderer::SelectionHandleRect(i, drawn, &b);
        if (Inside(a, client) || Inside(b, client)) return i;
    }
    return -1;
}

bool CNodars32Ctrl::HitConnection(GPoint g, int32_t* from, int32_t* to) const {
    bool found = false;
    for (const auto& item : mItems) {
        for (const CGraphConnection* c : item->Incoming) {
            const GRect& b = c->BoundsRect;
            if (g.x < b.left || g.x > b.right || g.y < b.top || g.y > b.bottom) continue;
            GPoint pts[CGraphConnection::kMaxPoints];
            const int n = RouteConnection(c, pts);
            bool hit = false;
            for (int k = 0; k + 1 < n && !hit; ++k) hit = NearSegment(pts[k], pts[k + 1], g);
            if (!hit) continue;
            const int32_t f = IndexOf(c->From), t = IndexOf(c->To);
            if (!found) {
                *from = f;
                *to = t;
                found = true;
            } else {
                if (*from != f) *from = -1;
                if (*to != t) *to = -1;
            }
        }
    }
    return found;
}

void CNodars32Ctrl::EndMouseOperation() {
    const bool running = mMouse.op != MouseOp::None;
    mMouse = MouseState{};
    if (mWnd) {
        mWnd->StopMouseTimer();
        if (running) mWnd->viewport()->update();
    }
}

void CNodars32Ctrl::UpdateCursor(QPoint client) {
    if (!mWnd) return;
    static constexpr Qt::CursorShape kShapes[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                   Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                   Qt::SizeBDiagCursor, Qt::SizeHorCursor};
    const int32_t h = HitResizeHandle(client);
    mWnd->viewport()->setCursor(h >= 0 ? kShapes[h] : Qt::ArrowCursor);
}

// ---------------------------------------------------------------- press

void CNodars32Ctrl::OnButtonDown(int button, int16_t shift, QPoint client) {
    if (mMouse.op != MouseOp::None) return;
    ComputeZoom();
    mMouse = MouseState{};
    mMouse.button = button;
    mMouse.shift = shift;
    mMouse.mask = ActionMask(button, shift);
    const int16_t mask = mMouse.mask;
    int16_t handle = 0;
    const int32_t hit = HitItem(client, &handle);
    mMouse.pressedItem = hit;
    mMouse.pressedHandle = handle;
    mMouse.start = mMouse.current = ScrollPoint(client);
    const GPoint scroll{mHScroll, mVScroll};
    const int32_t resize = (mask & kResize) ? HitResizeHandle(client) : -1;

    if (resize >= 0) {
        GRect r = ItemScreenRect(mSelectedIndex);
        r.Offset(scroll.x, scroll.y);
        mMouse.feedback = r;
        mMouse.resizeHandle = resize;
        mMouse.grab[0] = r.left - mMouse.start.x;
        mMouse.grab[1] = r.top - mMouse.start.y;
        mMouse.grab[2] = r.right - mMouse.start.x;
        mMouse.grab[3] = r.bottom - mMouse.start.y;
        mMouse.pressedItem = -1;
        mMouse.op = MouseOp::Resize;
    } else if (hit >= 0 && handle == 0 && (mask & (kDrag | kConnect))) {
        GRect r = ItemScreenRect(hit);
        r.Offset(scroll.x, scroll.y);
        mMouse.feedback = r;
        mMouse.constraint = (mask & kConstrained) ? 1 : 0;
        mMouse.op = (mask & kDrag) ? MouseOp::Drag : MouseOp::ConnectBody;
    } else if (hit >= 0 && handle > 0 && mArrangeMode == 2 && mDrawHandles && (mask & kConnect) &&
               (mRubberBand == 2 || mRubberBand == 3)) {
        mMouse.op = MouseOp::ConnectHandle;
    } else if (mask & kSelect) {
        mMouse.pressedItem = -1;
        mMouse.op = MouseOp::Select;
    } else if (mask & kClick) {
        const GPoint g = ClientToGraph(client);
        FireEvent(eventMouseDown, {I2(button), I2(shift), I2(g.x), I2(g.y)});
    }
    if (mMouse.op != MouseOp::None && mWnd) {
        mWnd->StartMouseTimer();
        mWnd->viewport()->update();
    }
}

// ---------------------------------------------------------------- move

bool CNodars32Ctrl::AutoScroll(QPoint client) {
    if (!mWnd) return false;
    const QRect area = mWnd->viewport()->rect();
    int32_t pos[2] = {mHScroll, mVScroll};
    int32_t max[2] = {mWnd->ScrollMaximum(Qt::Horizontal), mWnd->ScrollMaximum(Qt::Vertical)};
    const int step[2] = {client.x() > area.right() ? kScrollStep : client.x() < area.left() ? -kScrollStep : 0,
                         client.y() > area.bottom() ? kScrollStep : client.y() < area.top() ? -kScrollStep : 0};
    bool moved = false;
    for (int a = 0; a < 2; ++a) {
        if (step[a] == 0) continue;
        int32_t p = pos[a] + step[a];
        if (p > max[a]) {
            // Only an item being dragged may take the drawing further out.
            if (mMouse.op == MouseOp::Drag) {
                max[a] = p;
                mMouse.pushedRange = true;
            } else {
                p = max[a];
            }
        }
        p = std::max(p, 0);
        if (p != pos[a]) {
            pos[a] = p;
            moved = true;
        }
    }
    if (!moved) return false;
    const int32_t dx = pos[0] - mHScroll, dy = pos[1] - mVScroll;
    mWnd->SetScrollState(max[0], pos[0], max[1], pos[1]);
    mHScroll = mWnd->ScrollPosition(Qt::Horizontal);
    mVScroll = mWnd->ScrollPosition(Qt::Vertical);
    mWnd->viewport()->scroll(-dx, -dy);
    mWnd->viewport()->repaint();
    return true;
}

void CNodars32Ctrl::OnMouseMove(QPoint client, bool) {
    ComputeZoom();
    if (mMouse.op == MouseOp::None) {
        UpdateCursor(client);
    } else {
        AutoScroll(client);
        const GPoint now = ScrollPoint(client);
        switch (mMouse.op) {
        case MouseOp::Resize: {
            GRect& f = mMouse.feedback;
            const int h = mMouse.resizeHandle;
            if (h == 0 || h == 6 || h == 7) f.left = now.x + mMouse.grab[0];
            if (h == 0 || h == 1 || h == 2) f.top = now.y + mMouse.grab[1];
            if (h == 2 || h == 3 || h == 4) f.right = now.x + mMouse.grab[2];
            if (h == 4 || h == 5 || h == 6) f.bottom = now.y + mMouse.grab[3];
            break;
        }
        case MouseOp::Drag: {
            int32_t dx = now.x - mMouse.current.x, dy = now.y - mMouse.current.y;
            if (mMouse.constraint == 1) {
                if (std::abs(dx) > std::abs(dy)) mMouse.constraint = 2;
                else if (std::abs(dy) > std::abs(dx)) mMouse.constraint = 3;
            }
            if (mMouse.constraint == 1) dx = dy = 0;
            if (mMouse.constraint == 2) dy = 0;
            if (mMouse.constraint == 3) dx = 0;
            mMouse.feedback.Offset(dx, dy);
            break;
        }
        default: break;
        }
        mMouse.current = now;
        if (mWnd) mWnd->viewport()->update();
    }
    int16_t handle = 0;
    const int32_t hit = HitItem(client, &handle);
    const bool handles = mArrangeMode == 2 && mDrawHandles;
    const GPoint g = ClientToGraph(client);
    const bool dragging = mMouse.op != MouseOp::None;
    FireEvent(eventItemMouseMove, {I2(hit), I2(hit < 0 ? -1 : handles ? handle : 0), I2(dragging ? -1 : 0),
                                   I2(dragging ? mMouse.button : 0), I2(dragging ? mMouse.shift : 0), I2(g.x),
                                   I2(g.y)});
}

void CNodars32Ctrl::OnMouseTimer() {
    if (mMouse.op == MouseOp::None || !mWnd) return;
    OnMouseMove(mWnd->viewport()->mapFromGlobal(QCursor::pos()), true);
}

// ---------------------------------------------------------------- release

void CNodars32Ctrl::OnButtonUp(int button, QPoint client) {
    if (button != mMouse.button) return;
    ComputeZoom();
    if (mMouse.op == MouseOp::None) {
        ClickAt(client);
        return;
    }
    const MouseOp op = mMouse.op;
    mMouse.op = MouseOp::None;
    if (mWnd) {
        mWnd->StopMouseTimer();
        mWnd->viewport()->update();
    }
    const GPoint scroll{mHScroll, mVScroll};
    auto toGraph = [&](GRect r) {
        r.Offset(-scroll.x, -scroll.y);
        return ScreenToGraph(Normalised(r));
    };

    switch (op) {
    case MouseOp::Select: {
        const GPoint end = ScrollPoint(client);
        const GRect r = Normalised({mMouse.start.x, mMouse.start.y, end.x, end.y});
        if (mMouse.start.x == end.x || mMouse.start.y == end.y || r.Width() < 5 || r.Height() < 5) {
            ClickAt(client);
            return;
        }
        GRect g = toGraph(r);
        g.left = std::max(g.left, mViewRect.left);
        g.top = std::max(g.top, mViewRect.top);
        if (mMouse.pushedRange) {
            mMouse.pushedRange = false;
            RecalcGraph(0, 1, 0, 1);
        }
        mSelectRect = g;
        FireEvent(eventSelectRect, {I2(g.left), I2(g.top), I2(g.Width()), I2(g.Height()), I2(mMouse.button),
                                    I2(mMouse.shift)});
        return;
    }
    case MouseOp::ConnectHandle: ClickAt(client); return;
    case MouseOp::Resize: {
        if (!ValidItem(mSelectedIndex)) return;
        const int32_t ix = mSelectedIndex;
        CGraphItem& item = *mItems[size_t(ix)];
        const GRect before = item.Rect, after = toGraph(mMouse.feedback);
        item.Rect = after;
        SetModified();
        RecalcGraph(2, 1, 2, 1);
        FireEvent(eventItemResize, {I2(ix), I2(before.left), I2(before.top), I2(before.Width()), I2(before.Height()),
                                    I2(after.left), I2(after.top), I2(after.Width()), I2(after.Height()),
                                    I2(mMouse.button), I2(mMouse.shift)});
        return;
    }
    default: {  // drag, or connect from an item body
        const int32_t ix = mMouse.pressedItem;
        if ((mMouse.mask & kDrag) && ValidItem(ix)) {
            CGraphItem& item = *mItems[size_t(ix)];
            const GRect before = item.Rect;
            const GRect moved = toGraph(mMouse.feedback);
            GRect after = before;
            after.MoveTo(moved.left, moved.top);
            if (!(after == before)) {
                item.Rect = after;
                SetModified();
                RecalcGraph(2, 1, 2, 1);
                FireEvent(eventItemDrag, {I2(ix), I2(before.left), I2(before.top), I2(after.left), I2(after.top),
                                          I2(mMouse.button), I2(mMouse.shift)});
                return;
            }
        }
        ClickAt(client);
        return;
    }
    }
}

// A press and release that made no edit: item, line or background click, or a
// connection between two items.
void CNodars32Ctrl::ClickAt(QPoint client) {
    const MouseState m = mMouse;
    int16_t handle = 0;
    const int32_t hit = HitItem(client, &handle);
    const GPoint g = ClientToGraph(client);
    if (m.pushedRange) {
        mMouse.pushedRange = false;
        RecalcGraph(0, 1, 0, 1);
    }
    if (hit < 0) {
        int32_t from = -1, to = -1;
        if (HitConnection(g, &from, &to)) {
            if (m.mask & kClick)
                FireEvent(eventLineClick, {I2(from), I2(to), I2(m.button), I2(m.shift), I2(g.x), I2(g.y)});
        } else if (m.mask & kClick) {
            FireEvent(eventMouseUp, {I2(m.button), I2(m.shift), I2(g.x), I2(g.y)});
            FireEvent(eventNDRClick, {I2(m.button), I2(m.shift), I2(g.x), I2(g.y)});
            FireEvent(eventClick, {});
        }
    } else if (hit == m.pressedItem && handle == m.pressedHandle && (m.mask & kClick)) {
        FireEvent(eventItemClick, {I2(hit), I2(handle), I2(m.button), I2(m.shift), I2(g.x), I2(g.y)});
    } else if (m.pressedItem >= 0 && (m.mask & kConnect)) {
        // Body to body, or handle to handle; a mix connects nothing.
        if ((m.pressedHandle == 0) == (handle == 0))
            FireEvent(eventItemConnect, {I2(m.pressedItem), I2(m.pressedHandle), I2(hit), I2(handle), I2(m.button),
                                         I2(m.shift)});
    }
}

// ---------------------------------------------------------------- double click

void CNodars32Ctrl::OnDoubleClick(int button, int16_t shift, QPoint client) {
    if (mMouse.op != MouseOp::None) {
        if (mMouse.button != button) return;
        // Delivered after a second press of the same button: that press only
        // stood for the double click, so its operation ends without a trace.
        mMouse.op = MouseOp::None;
        if (mWnd) {
            mWnd->StopMouseTimer();
            mWnd->viewport()->update();
        }
    }
    ComputeZoom();
    // The double click stands for the second press: its release belongs to it.
    const int16_t mask = mMouse.button == button ? mMouse.mask : ActionMask(button, shift);
    const int16_t pressedHandle = mMouse.pressedHandle;
    mMouse.button = button;
    mMouse.mask = mask;
    mMouse.shift = shift;
    if (!(mask & kClick)) return;
    int16_t handle = 0;
    const int32_t hit = HitItem(client, &handle);
    const GPoint g = ClientToGraph(client);
    int32_t from = -1, to = -1;
    if (hit >= 0) {
        mMouse.pressedItem = -1;
        FireEvent(eventItemDblClick, {I2(hit), I2(handle == pressedHandle ? handle : 0), I2(button), I2(shift), I2(g.x),
                                      I2(g.y)});
    } else if (HitConnection(g, &from, &to)) {
        FireEvent(eventLineDblClick, {I2(from), I2(to), I2(button), I2(shift), I2(g.x), I2(g.y)});
    } else {
        mSelectRect = {mViewCentre.x, mViewCentre.y, mViewCentre.x, mViewCentre.y};
        FireEvent(eventNDRDblClick, {I2(button), I2(shift), I2(g.x), I2(g.y)});
        FireEvent(eventDblClick, {});
    }
}

}  // namespace nodars
