// RecalcGraph and everything it computes after the arrangement: connection routes,
// drawing bounds, zoom, the view rectangle and the scroll bars.
#include <QScrollBar>
#include <QStyle>

#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"
#include "HandleSides.h"

namespace nodars {

namespace {

GPoint SidePoint(const GRect& r, int side) {
    switch (side) {
    case kTop: return {r.CentreX(), r.top};
    case kRight: return {r.right, r.CentreY()};
    case kBottom: return {r.CentreX(), r.bottom};
    case kLeft: return {r.left, r.CentreY()};
    default: return {r.CentreX(), r.CentreY()};
    }
}

GPoint StubPoint(const GRect& r, int side, int32_t gap) {
    GPoint p = SidePoint(r, side);
    switch (side) {
    case kTop: p.y -= gap; break;
    case kRight: p.x += gap; break;
    case kBottom: p.y += gap; break;
    case kLeft: p.x -= gap; break;
    default: break;
    }
    return p;
}

// Where the line from this rectangle's centre towards `other` leaves the rectangle.
GPoint ClipToBorder(const GRect& r, GPoint other) {
    GPoint c{r.CentreX(), r.CentreY()};
    int32_t dx = other.x - c.x;
    int32_t dy = other.y - c.y;
    if (dx == 0 && dy == 0) return c;
    if (dx != 0) {
        int32_t edge = other.x > r.right ? r.right : other.x < r.left ? r.left : INT32_MIN;
        if (edge != INT32_MIN) {
            int32_t y = c.y + MulDiv(dy, edge - c.x, dx);
            if (y >= r.top && y <= r.bottom) return {edge, y};
        }
    }
    if (dy != 0) {
        int32_t edge = other.y > r.bottom ? r.bottom : other.y < r.top ? r.top : INT32_MIN;
        if (edge != INT32_MIN) {
            int32_t x = c.x + MulDiv(dx, edge - c.y, dy);
            if (x >= r.left && x <= r.right) return {x, edge};
        }
    }
    return c;
}

}  // namespace

// ---------------------------------------------------------------- RecalcGraph

void CNodars32Ctrl::RecalcGraph(int autoLevel, int autoKeep, int manualLevel, int manualKeep) {
    if (!mUserMode || mInRecalc) return;
    if (autoLevel > 1) SetModified();
    mPendingAuto = std::max(mPendingAuto, autoLevel);
    mPendingManual = std::max(mPendingManual, manualLevel);
    if (autoKeep == 0) mPendingAutoKeep = 0;
    if (manualKeep == 0) mPendingManualKeep = 0;
    const int aLevel = mPendingAuto, aKeep = mPendingAutoKeep;
    const int mLevel = mPendingManual, mKeep = mPendingManualKeep;
    mPendingAuto = 0;
    mPendingManual = -1;
    mPendingAutoKeep = mPendingManualKeep = 1;
    if (!mShown || !mWnd) return;

    mInRecalc = true;
    const bool autoOn = mAutoArrange != 0;
    const int level = autoOn ? aLevel : mLevel;
    const int keep = autoOn ? aKeep : mKeep;
    if (level < 0) {
        mInRecalc = false;
        return;
    }
    if (level >= 4 && autoOn) {
        switch (mArrangeMode) {
        case 0: ArrangeHierarchy(); break;
        case 1: ArrangeCompact(); break;
        case 2: ArrangeFlowChart(); break;
        case 3: ArrangeTree(); break;
        default: break;
        }
    }
    if (level >= 3 && autoOn) PositionGrid();
    if (level >= 2) {
        for (auto& item : mItems)
            for (CGraphConnection* c : item->Outgoing) UpdateConnectionGeometry(c);
        mGraphBounds = GRect{};
        for (auto& item : mItems) mGraphBounds = GRect::Union(mGraphBounds, item->Rect);
    }
    if (level >= 1) ComputeDrawingBounds();

    ComputeView(level, keep);
    if (level > 0) {
        mHScroll = mVScroll = 0;
        mWnd->SetScrollState(0, 0, 0, 0);
    }
    if (mAutoArrange == 2) mAutoArrange = 0;
    if (!mClientRect.IsEmpty()) ComputeScrollBars();
    InvalidateControl();
    mInRecalc = false;
}

void CNodars32Ctrl::ComputeDrawingBounds() {
    GRect d = mGraphBounds;
    const int32_t gap = mGap, xs = mXSpace, ys = mYSpace;
    switch (mArrangeMode) {
    case 0:
        switch (mDrawDir) {
        case 0: d.left -= gap; d.right += xs + gap; d.bottom += ys / 2; break;
        case 1: d.left -= xs + gap; d.top -= ys / 2; d.right += gap; break;
        case 2: d.top -= gap; d.right += xs / 2; d.bottom += ys + gap; break;
        case 3: d.left -= xs / 2; d.top -= ys + gap; d.bottom += gap; break;
        default: break;
        }
        break;
    case 1: d.right += gap; d.bottom += gap; break;
    case 2: d.Inflate(gap + 4, gap + 4); break;
    case 3:
        if (mDrawDir == 0 || mDrawDir == 1) {
            d.left -= gap + xs;
            d.right += xs + 2 * gap;
        } else {
            d.top -= ys + gap;
            d.bottom += ys + 2 * gap;
        }
        break;
    default: break;
    }
    d.left = std::min(d.left, 0);
    d.top = std::min(d.top, 0);
    d.Inflate(5, 5);
    mDrawingBounds = d;
}

int32_t CNodars32Ctrl::ScrollBarWidth() const {
    return mWnd ? mWnd->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, mWnd) : 16;
}
int32_t CNodars32Ctrl::ScrollBarHeight() const { return ScrollBarWidth(); }

GRect CNodars32Ctrl::ClientInGraphUnits() const { return ScreenToGraph(mClientRect); }

void CNodars32Ctrl::ComputeView(int level, int keep) {
    ComputeZoom();
    GRect client = ClientInGraphUnits();
    const GRect& db = mDrawingBounds;
    // Scroll-bar thickness in graph units.
    GRect lessBars = mClientRect;
    lessBars.right -= ScrollBarWidth();
    lessBars.bottom -= ScrollBarHeight();
    GRect lessInGraph = ScreenToGraph(lessBars);
    const int32_t wAllow = client.Width() - lessInGraph.Width();
    const int32_t hAllow = client.Height() - lessInGraph.Height();
    auto shrinkForBars = [&](GRect& v) {
        bool hBar = db.left < v.left || db.right > v.right || (db.bottom > v.bottom && db.right > v.right - wAllow);
        bool vBar = db.top < v.top || db.bottom > v.bottom || (db.right > v.right && db.bottom > v.bottom - hAllow);
        if (hBar) v.bottom -= hAllow;
        if (vBar) v.right -= wAllow;
    };
    if (mDrawScale == 0) {
        client.MoveTo(db.left, db.top);
        mViewRect = GRect::Union(db, client);
        // The fitted drawing sits at the top left and fills the window one way
        // only; the window's centre may lie in the blank beside it. Its own
        // centre is what a zoom from here keeps at the centre of the window.
        mViewCentre = {db.CentreX(), db.CentreY()};
    } else if (keep == 1 && !(mArrangeMode != 0 && level >= 3)) {
        GRect v = client;
        v.MoveTo(mViewCentre.x - client.Width() / 2, mViewCentre.y - client.Height() / 2);
        shrinkForBars(v);
        mViewRect = GRect::Union(v, db);
    } else {
        GRect v = client;
        v.MoveTo(db.left, db.top);
        mViewCentre = {v.CentreX(), v.CentreY()};
        shrinkForBars(v);
        mViewRect = GRect::Union(v, db);
    }
}

void CNodars32Ctrl::ComputeScrollBars() {
    int32_t w = mViewRect.Width(), h = mViewRect.Height();
    int32_t cw = mClientRect.Width(), ch = mClientRect.Height();
    int32_t rw = w, rh = h, rcw = cw, rch = ch;
    if (w > 32767 || h > 32767) {
        rw /= 2; rh /= 2; rcw /= 2; rch /= 2;
    }
    int32_t num = 1, den = 1;
    if (mDrawScale != 0) {
        num = mDrawScale;
        den = 100;
    } else if (rw > 0 && rh > 0 && MulDiv(1000, rw, rcw) > MulDiv(1000, rh, rch)) {
        num = rcw;
        den = rw;
    } else if (rh < rch || rh <= 0) {
        num = den = 1;
    } else {
        num = rch;
        den = rh;
    }
    const int32_t sw = MulDiv(w, num, den), sh = MulDiv(h, num, den);
    const int32_t cxv = ScrollBarWidth(), cyh = ScrollBarHeight();
    int32_t hMax = sw - cw;
    if (sh > ch || (sw > cw && sh > ch - cyh)) hMax += cxv;
    int32_t vMax = sh - ch;
    if (sw > cw || (sh > ch && sw > cw - cxv)) vMax += cyh;
    if (hMax < 1) hMax = 0;
    if (vMax < 1) vMax = 0;
    int32_t hPos = std::clamp(MulDiv(mViewCentre.x - mViewRect.left, num, den) - cw / 2, 0, hMax);
    int32_t vPos = std::clamp(MulDiv(mViewCentre.y - mViewRect.top, num, den) - ch / 2, 0, vMax);
    mWnd->SetScrollState(hMax, hPos, vMax, vPos);
    mHScroll = mWnd->ScrollPosition(Qt::Horizontal);
    mVScroll = mWnd->ScrollPosition(Qt::Vertical);
}

void CNodars32Ctrl::ComputeZoom() {
    if (!mUserMode || mDrawScale == 100) {
        mZoomNum = mZoomDen = 1;
        return;
    }
    if (mDrawScale != 0) {
        mZoomNum = mDrawScale;
        mZoomDen = 100;
        return;
    }
    int32_t w = mDrawingBounds.Width(), h = mDrawingBounds.Height();
    int32_t cw = mClientRect.Width(), ch = mClientRect.Height();
    if (w > 20000 || h > 20000) {
        w /= 2; h /= 2; cw /= 2; ch /= 2;
    }
    if ((w <= cw && h <= ch) || cw <= 0 || ch <= 0 || w <= 0 || h <= 0) {
        mZoomNum = mZoomDen = 1;
    } else if (int64_t(1000) * w / cw <= int64_t(1000) * h / ch) {
        mZoomNum = ch;
        mZoomDen = h;
    } else {
        mZoomNum = cw;
        mZoomDen = w;
    }
}

// An empty rectangle only re-centres: zooming to it would divide by zero.
void CNodars32Ctrl::ZoomSelectRect(bool zoom) {
    const GRect& r = mSelectRect;
    if (zoom && r.Width() > 0 && r.Height() > 0) {
        ComputeZoom();
        if (mDrawScale == 0) mDrawScale = MulDiv(mZoomNum, 100, mZoomDen);
        const int32_t cw = mClientRect.Width(), ch = mClientRect.Height();
        int32_t scale = MulDiv(1000, ch, r.Height()) >= MulDiv(1000, cw, r.Width()) ? MulDiv(100, cw, r.Width())
                                                                                     : MulDiv(100, ch, r.Height());
        mDrawScale = ClampScale(std::max(scale, 1));
        SetModified();
    }
    mViewCentre = {r.CentreX(), r.CentreY()};
    RecalcGraph(0, 1, 0, 1);
}

GPoint CNodars32Ctrl::GraphToScreen(GPoint p) const {
    return {MulDiv(p.x - mViewRect.left, mZoomNum, mZoomDen) - mHScroll,
            MulDiv(p.y - mViewRect.top, mZoomNum, mZoomDen) - mVScroll};
}

GPoint CNodars32Ctrl::ScreenToGraph(GPoint p) const {
    return {MulDiv(p.x + mHScroll, mZoomDen, mZoomNum) + mViewRect.left,
            MulDiv(p.y + mVScroll, mZoomDen, mZoomNum) + mViewRect.top};
}

GRect CNodars32Ctrl::ScreenToGraph(const GRect& r) const {
    GPoint a = ScreenToGraph(GPoint{r.left, r.top});
    GPoint b = ScreenToGraph(GPoint{r.right, r.bottom});
    return {a.x, a.y, b.x, b.y};
}

// ---------------------------------------------------------------- connection routes

void CNodars32Ctrl::UpdateConnectionGeometry(CGraphConnection* c) {
    c->PointCount = int16_t(RouteConnection(c, c->Points.data()));
    if (c->PointCount == 0) {
        c->BoundsRect = GRect{};
        return;
    }
    GRect b{c->Points[0].x, c->Points[0].y, c->Points[0].x, c->Points[0].y};
    for (int i = 1; i < c->PointCount; ++i) {
        b.left = std::min(b.left, c->Points[i].x);
        b.top = std::min(b.top, c->Points[i].y);
        b.right = std::max(b.right, c->Points[i].x);
        b.bottom = std::max(b.bottom, c->Points[i].y);
    }
    b.Inflate(5, 5);
    c->BoundsRect = b;
}

int CNodars32Ctrl::RouteConnection(const CGraphConnection* c, GPoint* pts) const {
    const GRect& from = c->From->Rect;
    const GRect& to = c->To->Rect;
    const int32_t gap = mGap, xs = mXSpace, ys = mYSpace;
    switch (mArrangeMode) {
    case 2: {
        const int fs = HandleSide(mDrawDir, c->FromHandle);
        const int ts = HandleSide(mDrawDir, c->ToHandle);
        const GPoint s1 = SidePoint(from, fs), t1 = StubPoint(from, fs, gap);
        const GPoint s2 = SidePoint(to, ts), t2 = StubPoint(to, ts, gap);
        if (!c->IsSelf() || fs == kCentre || ts == kCentre) {
            pts[0] = s1; pts[1] = t1; pts[2] = t2; pts[3] = s2;
            return 4;
        }
        if (fs == ts) {
            // A small triangle Gap wide on either side of the stub end.
            const GPoint p{t1.x + s1.y - t1.y, t1.y + t1.x - s1.x};
            pts[0] = s1;
            pts[1] = {2 * t1.x - p.x, 2 * t1.y - p.y};
            pts[2] = p;
            pts[3] = s1;
            return 4;
        }
        if ((fs - ts == 2) || (ts - fs == 2)) {
            GPoint d{};
            switch (fs) {
            case kTop: d.x = from.Width() / 2 + gap; break;
            case kRight: d.y = from.Height() / 2 + gap; break;
            case kBottom: d.x = -(from.Width() / 2 + gap); break;
            default: d.y = -(from.Height() / 2 + gap); break;
            }
            pts[0] = s1; pts[1] = t1;
            pts[2] = {t1.x + d.x, t1.y + d.y};
            pts[3] = {t2.x + d.x, t2.y + d.y};
            pts[4] = t2; pts[5] = s2;
            return 6;
        }
        pts[0] = s1; pts[1] = t1;
        pts[2] = (fs == kTop || fs == kBottom) ? GPoint{t2.x, t1.y} : GPoint{t1.x, t2.y};
        pts[3] = t2; pts[4] = s2;
        return 5;
    }
    case 1:
        if (c->IsSelf()) {
            pts[0] = {from.right - gap, from.bottom};
            pts[1] = {from.right - gap, from.bottom + gap};
            pts[2] = {from.right + gap, from.bottom + gap};
            pts[3] = {from.right + gap, from.bottom - gap};
            pts[4] = {from.right, from.bottom - gap};
            return 5;
        }
        pts[0] = ClipToBorder(from, {to.CentreX(), to.CentreY()});
        pts[1] = ClipToBorder(to, {from.CentreX(), from.CentreY()});
        return 2;
    case 0:
    case 3:
        if (mArrangeMode == 3 || c->From->Layer > c->To->Layer) {
            switch (mDrawDir) {
            case 0:
                pts[0] = {from.left, from.CentreY()}; pts[1] = {to.right + xs + gap, from.CentreY()};
                pts[2] = {to.right + gap, to.CentreY()}; pts[3] = {to.right, to.CentreY()};
                return 4;
            case 1:
                pts[0] = {from.right, from.CentreY()}; pts[1] = {to.left - xs - gap, from.CentreY()};
                pts[2] = {to.left - gap, to.CentreY()}; pts[3] = {to.left, to.CentreY()};
                return 4;
            case 2:
                pts[0] = {from.CentreX(), from.top}; pts[1] = {from.CentreX(), to.bottom + ys + gap};
                pts[2] = {to.CentreX(), to.bottom + gap}; pts[3] = {to.CentreX(), to.bottom};
                return 4;
            case 3:
                pts[0] = {from.CentreX(), from.bottom}; pts[1] = {from.CentreX(), to.top - ys - gap};
                pts[2] = {to.CentreX(), to.top - gap}; pts[3] = {to.CentreX(), to.top};
                return 4;
            default: return 0;
            }
        }
        // A back link or a link within a layer. The horizontal directions step
        // across layers by xSpace, in both directions.
        switch (mDrawDir) {
        case 0:
            pts[0] = {from.left, from.CentreY()}; pts[1] = {from.left - gap, from.CentreY()};
            pts[2] = {from.left - gap, from.top - ys / 2}; pts[3] = {to.right + xs + gap, from.top - ys / 2};
            pts[4] = {to.right + gap, to.top + ys / 2}; pts[5] = {to.right, to.top + ys / 2};
            return 6;
        case 1:
            pts[0] = {from.right, from.CentreY()}; pts[1] = {from.right + gap, from.CentreY()};
            pts[2] = {from.right + gap, from.top - ys / 2}; pts[3] = {to.left - xs - gap, from.top - ys / 2};
            pts[4] = {to.left - gap, to.top + ys / 2}; pts[5] = {to.left, to.top + ys / 2};
            return 6;
        case 2:
            pts[0] = {from.CentreX(), from.top}; pts[1] = {from.CentreX(), from.top - gap};
            pts[2] = {from.left - xs / 2, from.top - gap}; pts[3] = {from.left - xs / 2, to.bottom + ys + gap};
            pts[4] = {to.CentreX(), to.bottom + gap}; pts[5] = {to.CentreX(), to.bottom};
            return 6;
        case 3:
            pts[0] = {from.CentreX(), from.bottom}; pts[1] = {from.CentreX(), from.bottom + gap};
            pts[2] = {from.left - xs / 2, from.bottom + gap}; pts[3] = {from.left - xs / 2, to.top - ys - gap};
            pts[4] = {to.CentreX(), to.top - gap}; pts[5] = {to.CentreX(), to.top};
            return 6;
        default: return 0;
        }
    default: return 0;
    }
}

}  // namespace nodars
