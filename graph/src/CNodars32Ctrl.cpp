#include "CNodars32Ctrl.h"

#include <QApplication>
#include <algorithm>

#include "CNodars32Wnd.h"
#include "ui/HandleTable.h"
#include "Nodars32Module.h"

namespace nodars {

namespace {

const char16_t* const kShapeNames[] = {
    u"<No Shape>", u"Rectangle", u"Ellipse", u"Round Rectangle", u"Parallelogram 1", u"Parallelogram 2",
    u"Hexagon", u"Page", u"Diamond", u"Octagon", u"Papers 1", u"Papers 2",
};

}  // namespace

CNodars32Ctrl::CNodars32Ctrl() : mEventPoint(this, DIID__DNodars32Events) {
    ModuleLock();
    mPoints.Add(&mEventPoint);
    if (QCoreApplication::instance() && qobject_cast<QApplication*>(QCoreApplication::instance()))
        mFont = QApplication::font();
    for (const char16_t* name : kShapeNames) mShapes.emplace_back(1, name);
    InitGraphicsPlaceholder();
    SetStoredDefaults();
    ResetQuery();
}

CNodars32Ctrl::~CNodars32Ctrl() {
    if (mWindowHandle) ui::HandleTable::Release(mWindowHandle);
    for (const QPointer<QObject>& overlay : mOverlays) delete overlay.data();
    if (mWnd) {
        mWnd->Detach();
        delete mWnd.data();
    }
    for (auto& item : mItems)
        for (CGraphConnection* c : item->Outgoing) delete c;
    ModuleUnlock();
}

// ---------------------------------------------------------------- IUnknown

HRESULT CNodars32Ctrl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__DNodars32)
        *ppv = static_cast<IDispatch*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IControlHosting)
        *ppv = static_cast<IControlHosting*>(this);
    else if (riid == IID_IGraphGeometry)
        *ppv = static_cast<IGraphGeometry*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *ppv = static_cast<ISupportErrorInfo*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT CNodars32Ctrl::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_IDispatch || riid == DIID__DNodars32 ? S_OK : S_FALSE;
}

HRESULT CNodars32Ctrl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return mPoints.EnumConnectionPoints(ppEnum);
}

HRESULT CNodars32Ctrl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return mPoints.FindConnectionPoint(riid, ppCP);
}

void CNodars32Ctrl::FireEvent(DISPID id, std::vector<com::Variant> args) {
    std::vector<VARIANTARG> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);
    // The sinks may call back into the control: keep it alive for the call.
    com::ComPtr<IDispatch> self(static_cast<IDispatch*>(this));
    mEventPoint.Fire(id, reversed.data(), UINT(reversed.size()));
}

// ---------------------------------------------------------------- hosting

HRESULT CNodars32Ctrl::SetParentWidget(QWidget* parent) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
    return com::Guard(kProgId, [&] {
        if (!mWnd) {
            mWnd = new CNodars32Wnd(this, parent);
            mWnd->setFont(mFont);
        } else {
            mWnd->setParent(parent);
        }
        return S_OK;
    });
}

QWidget* CNodars32Ctrl::Widget() { return mWnd.data(); }

HRESULT CNodars32Ctrl::SetAmbient(BOOL userMode, const QFont* font) {
    mUserMode = userMode != FALSE;
    if (font) {
        mFont = *font;
        if (mWnd) mWnd->setFont(mFont);
    }
    InvalidateControl();
    return S_OK;
}

HRESULT CNodars32Ctrl::SetBounds(int left, int top, int width, int height) {
    if (!mWnd) return E_UNEXPECTED;
    if (width < 0 || height < 0) return E_INVALIDARG;
    mWnd->setGeometry(left, top, width, height);
    return S_OK;
}

// Window size change: the client rectangle is the window rectangle shrunk by one
// pixel on every side.
void CNodars32Ctrl::OnSize() {
    if (!mWnd) return;
    GRect r{0, 0, mWnd->width(), mWnd->height()};
    r.Inflate(-1, -1);
    if (r == mClientRect) return;
    mClientRect = r;
    RecalcGraph(4, 0, 2, 0);
}

void CNodars32Ctrl::OnShowWindow() {
    if (!mWnd) return;
    GRect r{0, 0, mWnd->width(), mWnd->height()};
    r.Inflate(-1, -1);
    mClientRect = r;
    if (!mShown) {
        mShown = true;
        RecalcGraph(4, 0, 2, 0);
    } else {
        RecalcGraph(0, 1, 0, 1);
    }
}

void CNodars32Ctrl::InvalidateControl() {
    if (mWnd) mWnd->viewport()->update();
}

void CNodars32Ctrl::RepaintItem(int32_t ix) {
    if (!mWnd || !ValidItem(ix)) return;
    const GRect& r = mItems[ix]->Rect;
    GPoint a = GraphToScreen({r.left, r.top});
    GPoint b = GraphToScreen({r.right, r.bottom});
    mWnd->viewport()->update(QRect(QPoint(a.x - 5, a.y - 5), QPoint(b.x + 5, b.y + 5)));
}

uint32_t CNodars32Ctrl::BackColorRgb() const { return TranslateColor(mBackColor); }

// OLE colours: 0x80 in the high byte names a system colour, 0x01 a palette index.
uint32_t CNodars32Ctrl::TranslateColor(uint32_t oleColor) const {
    switch (oleColor >> 24) {
    case 0x80: {
        switch (oleColor & 0xFF) {
        case 5:  // window
        case 14: // highlight text
            return 0xFFFFFF;
        case 4:  // menu
        case 15: // button face
            return 0xC0C0C0;
        case 16: // button shadow
        case 17: // grey text
            return 0x808080;
        case 13: // highlight
            return 0x800000;
        default: return 0x000000;
        }
    }
    case 0x01:
    case 0x02: return oleColor & 0xFFFFFF;
    default: return oleColor & 0xFFFFFF;
    }
}

// ---------------------------------------------------------------- geometry

HRESULT CNodars32Ctrl::GetRoute(int from, int to, int* count, int32_t xy[12]) {
    if (!count || !xy) return E_POINTER;
    *count = 0;
    if (!ValidItem(from) || !ValidItem(to)) return S_FALSE;
    const CGraphConnection* c = mItems[from]->OutgoingTo(mItems[to].get());
    if (!c) return S_FALSE;
    *count = c->PointCount;
    for (int i = 0; i < c->PointCount; ++i) {
        xy[2 * i] = c->Points[i].x;
        xy[2 * i + 1] = c->Points[i].y;
    }
    return S_OK;
}

HRESULT CNodars32Ctrl::GetBounds(int which, int32_t rect[4]) {
    if (!rect) return E_POINTER;
    const GRect* r = nullptr;
    switch (which) {
    case kGraphBounds: r = &mGraphBounds; break;
    case kDrawingBounds: r = &mDrawingBounds; break;
    case kViewRect: r = &mViewRect; break;
    case kClientRect: r = &mClientRect; break;
    default: return E_INVALIDARG;
    }
    rect[0] = r->left;
    rect[1] = r->top;
    rect[2] = r->right;
    rect[3] = r->bottom;
    return S_OK;
}

HRESULT CNodars32Ctrl::GetView(int32_t* zoomNum, int32_t* zoomDen, int32_t* hScroll, int32_t* vScroll) {
    if (zoomNum) *zoomNum = mZoomNum;
    if (zoomDen) *zoomDen = mZoomDen;
    if (hScroll) *hScroll = mHScroll;
    if (vScroll) *vScroll = mVScroll;
    return S_OK;
}

// ---------------------------------------------------------------- graph operations

int32_t CNodars32Ctrl::IndexOf(const CGraphItem* item) const {
    for (size_t i = 0; i < mItems.size(); ++i)
        if (mItems[i].get() == item) return int32_t(i);
    return -1;
}

void CNodars32Ctrl::Renumber() {
    for (size_t i = 0; i < mItems.size(); ++i) mItems[i]->Index = int32_t(i);
}

// New items are centred on the centre of the client area.
int32_t CNodars32Ctrl::InsertItem(std::optional<std::u16string> name, int32_t position) {
    auto item = std::make_unique<CGraphItem>(mNextItemId++, std::move(name));
    GPoint centre = ScreenToGraph(
        GPoint{mClientRect.left + (mClientRect.right - mClientRect.left) / 2,
               mClientRect.top + (mClientRect.bottom - mClientRect.top) / 2});
    item->Rect.left = centre.x - mXSpan / 2;
    item->Rect.right = item->Rect.left + mXSpan;
    item->Rect.top = centre.y - mYSpan / 2;
    item->Rect.bottom = item->Rect.top + mYSpan;
    item->FillColor = TranslateColor(mFillColor);
    item->BorderColor = TranslateColor(mForeColor);
    item->TextColor = item->BorderColor;
    int32_t count = int32_t(mItems.size());
    if (position >= 0 && position < count) {
        mItems.insert(mItems.begin() + position, std::move(item));
        if (mSelectedIndex >= position) ++mSelectedIndex;
        mNewIndex = position;
        Renumber();
    } else {
        item->Index = count;
        mItems.push_back(std::move(item));
        mNewIndex = count;
    }
    SetModified();
    return mNewIndex;
}

void CNodars32Ctrl::ConnectItems(int32_t from, int32_t to) {
    if (!ValidItem(from) || !ValidItem(to)) return;
    CGraphItem* source = mItems[from].get();
    CGraphItem* target = mItems[to].get();
    CGraphConnection* existing = target->IncomingFrom(source);
    if (!existing) existing = source->OutgoingTo(target);
    if (existing) {
        mCurrent = existing;
        return;
    }
    auto* c = new CGraphConnection(mNextConnectionId++, source, target, TranslateColor(mForeColor));
    source->Outgoing.push_back(c);
    target->Incoming.push_back(c);
    mCurrent = c;
    SetModified();
    RecalcGraph(4, 0, 2, 1);
}

void CNodars32Ctrl::FreeConnection(CGraphConnection* c) {
    if (mCurrent == c) mCurrent = nullptr;
    c->From->Detach(c);
    c->To->Detach(c);
    delete c;
}

void CNodars32Ctrl::RemoveItem(int32_t ix) {
    if (!ValidItem(ix)) return;
    CGraphItem* item = mItems[ix].get();
    // A running query may be walking the item's lists.
    if (mQueryKind != 0) EndQuery();
    // Every connection touching the item is in one of its two lists; freeing
    // detaches it from the other end as well.
    while (!item->Incoming.empty()) FreeConnection(item->Incoming.front());
    while (!item->Outgoing.empty()) FreeConnection(item->Outgoing.front());
    if (mSelectedIndex == ix)
        mSelectedIndex = -1;
    else if (mSelectedIndex > ix)
        --mSelectedIndex;
    mItems.erase(mItems.begin() + ix);
    // The index fields are renumbered too: the tree arrangement orders children by them.
    Renumber();
    SetModified();
    mNewIndex = -1;
}

void CNodars32Ctrl::RemoveConnection(int32_t from, int32_t to) {
    if (!ValidItem(from) || !ValidItem(to)) return;
    CGraphItem* source = mItems[from].get();
    CGraphItem* target = mItems[to].get();
    CGraphConnection* c = source->OutgoingTo(target);
    if (!c) c = target->IncomingFrom(source);
    if (!c) return;
    // A running query may be walking the list the connection leaves.
    if (mQueryKind != 0) EndQuery();
    FreeConnection(c);
}

void CNodars32Ctrl::MoveItem(int32_t oldIx, int32_t newIx) {
    if (oldIx == newIx || !ValidItem(oldIx) || !ValidItem(newIx)) return;
    auto item = std::move(mItems[oldIx]);
    mItems.erase(mItems.begin() + oldIx);
    mItems.insert(mItems.begin() + newIx, std::move(item));
    if (mSelectedIndex == oldIx)
        mSelectedIndex = newIx;
    else if (oldIx < newIx && mSelectedIndex > oldIx && mSelectedIndex <= newIx)
        --mSelectedIndex;
    else if (newIx < oldIx && mSelectedIndex >= newIx && mSelectedIndex < oldIx)
        ++mSelectedIndex;
    Renumber();
}

void CNodars32Ctrl::ClearGraph() {
    FreeItems();
    for (size_t i = mGraphics.size(); i-- > 0;)
        if (mGraphics[i].DesignTime == 0) mGraphics.erase(mGraphics.begin() + i);
    // Entry 0 must be the placeholder (graphic 0 means no picture), and there is
    // exactly one: a placeholder per Clear would grow the table without bound.
    if (mGraphics.empty() || !mGraphics[0].IsPlaceholder())
        mGraphics.insert(mGraphics.begin(), CGraphic::Placeholder());
    mNextItemId = 1;
    mNextConnectionId = 1;
    mCurrent = nullptr;
    mHScroll = mVScroll = 0;
    if (mWnd) mWnd->SetScrollState(0, 0, 0, 0);
    mNewIndex = -1;
    mSelectedIndex = -1;
    // A running query walked the graph that is gone: it ends.
    EndQuery();
    ResetQuery();
    mSelectRect = GRect{};
    RecalcGraph(4, 0, 2, 0);
    mDirty = false;
}

int32_t CNodars32Ctrl::ClampScale(int32_t scale) {
    if (scale == 0) return 0;  // fit the graph to the control
    return std::clamp(scale, 1, 32767);
}

void CNodars32Ctrl::InitGraphicsPlaceholder() {
    mGraphics.clear();
    mGraphics.push_back(CGraphic::Placeholder());
}

void CNodars32Ctrl::SetAutoMouseDefaults() {
    mAutoMouseEvents.fill(0);
    for (int i = 0; i < 8; ++i) mAutoMouseEvents[i] = 1;
    mAutoMouseEvents[0] = 51;
    mAutoMouseEvents[16] = 24;
    mAutoMouseEvents[17] = 28;
}

}  // namespace nodars
