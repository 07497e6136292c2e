// Mouse sequences on the control's viewport and the events they raise, in order
// and with their arguments (16-bit, graph coordinates).
#include <QAbstractScrollArea>
#include <QCursor>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

#include "GraphTestSupport.h"

using graphtest::Control;
using graphtest::EventSink;
using namespace nodars;

namespace {

QWidget* Viewport(Control& c) { return qobject_cast<QAbstractScrollArea*>(c.Host()->Widget())->viewport(); }

// Device point of a graph point.
QPoint At(Control& c, int gx, int gy) {
    return {c.Call(dispidGraphToScreenX, {com::Variant::I4(gx)}).ToI2() - 1,
            c.Call(dispidGraphToScreenY, {com::Variant::I4(gy)}).ToI2() - 1};
}

QPoint Centre(Control& c, int ix) {
    auto r = c.ItemRect(ix);
    return At(c, (r[0] + r[2]) / 2, (r[1] + r[3]) / 2);
}

// A move with buttons held or not, sent as the window system would.
void Move(QWidget* w, QPoint p, Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers mods = {}) {
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, buttons, mods);
    QCoreApplication::sendEvent(w, &e);
}

// Press at `from`, move along `path` with the button held, release at its end.
void Drag(QWidget* w, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint from, std::vector<QPoint> path) {
    QTest::mousePress(w, button, mods, from);
    for (QPoint p : path) Move(w, p, button, mods);
    QTest::mouseRelease(w, button, mods, path.empty() ? from : path.back());
}

// The events raised so far, without mouse moves unless asked for.
std::vector<EventSink::Event> Events(Control& c, bool moves = false) {
    std::vector<EventSink::Event> out;
    for (const auto& e : c.Sink()->events)
        if (moves || e.id != eventItemMouseMove) out.push_back(e);
    return out;
}

std::vector<DISPID> Ids(const std::vector<EventSink::Event>& events) {
    std::vector<DISPID> ids;
    for (const auto& e : events) ids.push_back(e.id);
    return ids;
}

std::vector<int> Args(const EventSink::Event& e) {
    std::vector<int> out;
    for (const auto& a : e.args) out.push_back(a.ToI2());
    return out;
}

// Two items side by side at known places, manual layout, 100 %.
void TwoItems(Control& c) {
    c.AddItem("a");
    c.AddItem("b");
    c.PutItem(dispidItemXPos, 0, 40);
    c.PutItem(dispidItemYPos, 0, 40);
    c.PutItem(dispidItemXPos, 1, 260);
    c.PutItem(dispidItemYPos, 1, 40);
    c.Sink()->events.clear();
}

}  // namespace

TEST(GraphMouse, LeftClickOnAnItemRaisesItemClickAndSelectsNothing) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 1);
    QTest::mouseClick(vp, Qt::LeftButton, {}, p);
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemClick});
    auto r = c.ItemRect(1);
    EXPECT_EQ(Args(ev[0]), (std::vector<int>{1, 0, 0, 0, (r[0] + r[2]) / 2, (r[1] + r[3]) / 2}));
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), -1);
}

TEST(GraphMouse, ShiftClickFallsBackToClickOnlyAndStillClicksTheItem) {
    Control c(500, 400);
    TwoItems(c);
    QTest::mouseClick(Viewport(c), Qt::LeftButton, Qt::ShiftModifier, Centre(c, 0));
    auto ev = Events(c);
    // Click only: the stock MouseDown fires at the press, ItemClick at the release.
    ASSERT_EQ(Ids(ev), (std::vector<DISPID>{eventMouseDown, eventItemClick}));
    EXPECT_EQ(Args(ev[1])[0], 0);
    EXPECT_EQ(Args(ev[1])[3], 1) << "Shift";
}

TEST(GraphMouse, LeftDragFromBodyToBodyAsksForAConnection) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    Drag(vp, Qt::LeftButton, {}, Centre(c, 0), {Centre(c, 0) + QPoint(60, 0), Centre(c, 1)});
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemConnect});
    EXPECT_EQ(Args(ev[0]), (std::vector<int>{0, 0, 1, 0, 0, 0}));
    // The control adds nothing by itself.
    EXPECT_TRUE(c.Route(0, 1).empty());
    // Every move reported the drag: IsDragging true, the left button.
    auto all = Events(c, true);
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all[0].id, eventItemMouseMove);
    EXPECT_NE(Args(all[0])[2], 0);
    EXPECT_EQ(Args(all[1])[0], 1) << "over item 1";
}

TEST(GraphMouse, RightDragMovesTheItemByGraphUnits) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 0);
    Drag(vp, Qt::RightButton, {}, p, {p + QPoint(12, 1), p + QPoint(30, 0)});
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemDrag});
    EXPECT_EQ(Args(ev[0]), (std::vector<int>{0, 40, 40, 70, 40, 2, 0}));
    EXPECT_EQ(c.Item(dispidItemXPos, 0), 70);
    EXPECT_EQ(c.Item(dispidItemWidth, 0), 120) << "size kept";
    EXPECT_EQ(c.Item(dispidItemXPos, 1), 260) << "other items stay";
}

TEST(GraphMouse, ConstrainedDragStaysOnItsFirstAxis) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 0);
    QTest::mousePress(vp, Qt::RightButton, Qt::ShiftModifier, p);
    Move(vp, p + QPoint(2, 10), Qt::RightButton, Qt::ShiftModifier);   // mostly vertical: locks
    Move(vp, p + QPoint(80, 30), Qt::RightButton, Qt::ShiftModifier);  // sideways is ignored now
    QTest::mouseRelease(vp, Qt::RightButton, Qt::ShiftModifier, p + QPoint(80, 30));
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemDrag});
    EXPECT_EQ(Args(ev[0]), (std::vector<int>{0, 40, 40, 40, 70, 2, 1}));
}

TEST(GraphMouse, RightWithCtrlFallsBackToTheRightButtonEntry) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 0);
    Drag(vp, Qt::RightButton, Qt::ControlModifier, p, {p + QPoint(0, 25)});
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemDrag});
    EXPECT_EQ(Args(ev[0]).back(), 2) << "Shift argument carries Ctrl";
}

TEST(GraphMouse, SelectRectangleSmallIsAClickLargeFiresOnceClippedToTheView) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    // 4 x 100 pixels: a click on the background.
    Drag(vp, Qt::LeftButton, {}, QPoint(100, 200), {QPoint(104, 300)});
    EXPECT_EQ(Ids(Events(c)), (std::vector<DISPID>{eventMouseUp, eventNDRClick, eventClick}));
    c.Sink()->events.clear();

    Drag(vp, Qt::LeftButton, {}, QPoint(150, 220), {QPoint(50, 200), QPoint(20, 300)});
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventSelectRect});
    const QPoint a = At(c, 0, 0);
    auto args = Args(ev[0]);
    int32_t view[4] = {};
    c.Geometry()->GetBounds(IGraphGeometry::kViewRect, view);
    EXPECT_EQ(args[0], std::max(20 - a.x(), view[0]));
    EXPECT_EQ(args[1], std::max(220 - a.y(), view[1]));
    EXPECT_EQ(args[2], 150 - 20);
    EXPECT_EQ(args[3], 300 - 220);
    EXPECT_EQ(c.GetInt(dispidSelectRectLeft), args[0]);
    EXPECT_EQ(c.GetInt(dispidSelectRectWidth), 130);
}

TEST(GraphMouse, DoubleClicksOnItemBackgroundAndTheirOrder) {
    Control c(500, 400);
    TwoItems(c);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 1);
    QTest::mouseClick(vp, Qt::LeftButton, {}, p);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, p);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, p);
    auto ev = Events(c);
    // The last release is no second click.
    ASSERT_EQ(Ids(ev), (std::vector<DISPID>{eventItemClick, eventItemDblClick}));
    EXPECT_EQ(Args(ev[1])[0], 1);
    EXPECT_EQ(Args(ev[1])[1], 0);

    c.Sink()->events.clear();
    const QPoint empty(200, 300);
    QTest::mouseClick(vp, Qt::LeftButton, {}, empty);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, empty);
    auto ids = Ids(Events(c));
    ASSERT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids[3], eventNDRDblClick);
    EXPECT_EQ(ids[4], eventDblClick);
    // An empty select rectangle at the view centre: zooming to it only re-centres.
    EXPECT_EQ(c.GetInt(dispidSelectRectWidth), 0);
    EXPECT_EQ(c.GetInt(dispidSelectRectHeight), 0);
}

TEST(GraphMouse, ClickOnAConnectionRaisesLineClick) {
    Control c(500, 400);
    TwoItems(c);
    c.PutInt(dispidArrangeMode, 1);  // compact: a straight line between the boxes
    c.Connect(0, 1);
    c.Sink()->events.clear();
    auto route = c.Route(0, 1);
    ASSERT_EQ(route.size(), 4u);
    const QPoint mid = At(c, (route[0] + route[2]) / 2, (route[1] + route[3]) / 2 + 3);
    QTest::mouseClick(Viewport(c), Qt::LeftButton, {}, mid);
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventLineClick});
    EXPECT_EQ(Args(ev[0])[0], 0);
    EXPECT_EQ(Args(ev[0])[1], 1);
}

TEST(GraphMouse, ResizeFromTheDrawnHandleNormalisesTheBox) {
    Control c(500, 400);
    TwoItems(c);
    c.PutInt(dispidSelectedIndex, 0);
    QWidget* vp = Viewport(c);
    // The bottom-right mark is drawn at R+3 .. R+8: press its middle.
    const QPoint corner = At(c, 160, 90) + QPoint(5, 5);
    QTest::mousePress(vp, Qt::LeftButton, {}, corner);
    // Past the opposite corner: the box turns over.
    const QPoint past = At(c, 20, 30) + QPoint(5, 5);
    Move(vp, past, Qt::LeftButton);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, past);
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemResize});
    auto a = Args(ev[0]);
    EXPECT_EQ((std::vector<int>(a.begin(), a.begin() + 5)), (std::vector<int>{0, 40, 40, 120, 50}));
    EXPECT_EQ(a[5], 20);
    EXPECT_EQ(a[6], 30);
    EXPECT_EQ(a[7], 20) << "width from 20 to 40";
    EXPECT_EQ(a[8], 10);
    EXPECT_EQ(c.Item(dispidItemWidth, 0), 20);
}

TEST(GraphMouse, FlowChartHandlesConnectHandleToHandle) {
    Control c(500, 400);
    TwoItems(c);
    c.PutInt(dispidArrangeMode, 2);
    c.PutInt(dispidRubberBand, 2);
    QWidget* vp = Viewport(c);
    // Stub ends lie Gap (10) outside the middle of each side; top to bottom, the
    // bottom side is handle 3 and the top side handle 1.
    const QPoint from = At(c, 100, 90 + 10), to = At(c, 320, 40 - 10);
    Drag(vp, Qt::LeftButton, {}, from, {to});
    auto ev = Events(c);
    ASSERT_EQ(Ids(ev), std::vector<DISPID>{eventItemConnect});
    EXPECT_EQ(Args(ev[0]), (std::vector<int>{0, 3, 1, 1, 0, 0}));
    // A move over a handle reports it.
    c.Sink()->events.clear();
    Move(vp, At(c, 40 - 10, 65));
    auto moves = Events(c, true);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(Args(moves[0])[0], 0);
    EXPECT_EQ(Args(moves[0])[1], 4) << "left side";
    EXPECT_EQ(Args(moves[0])[2], 0) << "not dragging";
}

TEST(GraphMouse, MovesOverEmptySpaceReportNoItem) {
    Control c(500, 400);
    TwoItems(c);
    Move(Viewport(c), QPoint(200, 300));
    auto ev = Events(c, true);
    ASSERT_EQ(ev.size(), 1u);
    auto a = Args(ev[0]);
    EXPECT_EQ(a[0], -1);
    EXPECT_EQ(a[1], -1);
    EXPECT_EQ(a[3], 0);
    EXPECT_EQ(a[4], 0);
}

TEST(GraphMouse, AutoMouseEventsTableIsHonoured) {
    Control c(500, 400);
    TwoItems(c);
    // Left without modifiers: click only.
    c.Put(dispidAutoMouseEvent, com::Variant::I2(1), {com::Variant::I2(0)});
    QWidget* vp = Viewport(c);
    Drag(vp, Qt::LeftButton, {}, Centre(c, 0), {Centre(c, 1)});
    // No connection asked for, and the release on another item is no click.
    EXPECT_EQ(Ids(Events(c)), std::vector<DISPID>{eventMouseDown});
    // Right: nothing at all.
    c.Sink()->events.clear();
    for (int i = 16; i < 24; ++i) c.Put(dispidAutoMouseEvent, com::Variant::I2(0), {com::Variant::I2(int16_t(i))});
    QTest::mouseClick(vp, Qt::RightButton, {}, Centre(c, 0));
    EXPECT_TRUE(Events(c).empty());
}

// A sink that clears the graph from inside a drag: the release finds nothing stale.
namespace {
class ClearingSink final : public IDispatch {
public:
    explicit ClearingSink(IDispatch* control) : mControl(control) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__DNodars32Events) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++mRefs; }
    ULONG Release() override { return --mRefs; }
    HRESULT GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == eventItemMouseMove && params && params->cArgs == 7 && params->rgvarg[4].iVal != 0 && !mDone) {
            mDone = true;
            com::Invoke(mControl, dispidClear, DISPATCH_METHOD, {}, nullptr);
        }
        return S_OK;
    }
    bool mDone = false;

private:
    IDispatch* mControl;
    ULONG mRefs = 1;
};
}  // namespace

TEST(GraphMouse, ASinkClearingTheGraphMidDragLeavesNoStaleIndex) {
    Control c(500, 400);
    TwoItems(c);
    ClearingSink sink(c.Disp());
    DWORD cookie = 0;
    ASSERT_EQ(com::Advise(c.Disp(), DIID__DNodars32Events, &sink, &cookie), S_OK);
    QWidget* vp = Viewport(c);
    const QPoint p = Centre(c, 1);
    QTest::mousePress(vp, Qt::RightButton, {}, p);
    Move(vp, p + QPoint(30, 0), Qt::RightButton);
    ASSERT_TRUE(sink.mDone);
    EXPECT_EQ(c.GetInt(dispidListCount), 0);
    c.Sink()->events.clear();
    QTest::mouseRelease(vp, Qt::RightButton, {}, p + QPoint(30, 0));
    EXPECT_TRUE(Events(c).empty());
    com::Unadvise(c.Disp(), DIID__DNodars32Events, cookie);
}

TEST(GraphMouse, DraggingOutsideScrollsAndOnlyAnItemDragPushesTheRange) {
    Control c(300, 200);
    graphtest::FlowChartChain(c, 6);
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    QWidget* vp = area->viewport();
    const int max = area->verticalScrollBar()->maximum();
    ASSERT_GT(max, 20);
    int32_t h = 0, v = 0;
    // A select rectangle dragged below the window scrolls by 10 per move, up to the end.
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(5, 5));
    const QPoint below(20, vp->height() + 20);
    Move(vp, below, Qt::LeftButton);
    c.Geometry()->GetView(nullptr, nullptr, &h, &v);
    EXPECT_EQ(v, 10);
    for (int i = 0; i < 200; ++i) Move(vp, below, Qt::LeftButton);
    c.Geometry()->GetView(nullptr, nullptr, &h, &v);
    EXPECT_EQ(v, max);
    EXPECT_EQ(area->verticalScrollBar()->maximum(), max);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, below);

    // The 50 ms timer keeps scrolling while the pointer stands outside.
    area->verticalScrollBar()->setValue(0);
    const QPoint p = Centre(c, 0);
    QTest::mousePress(vp, Qt::RightButton, {}, p);
    QCursor::setPos(vp->mapToGlobal(below));
    Move(vp, below, Qt::RightButton);
    QTest::qWait(400);
    c.Geometry()->GetView(nullptr, nullptr, &h, &v);
    EXPECT_GT(v, 10) << "the timer scrolled on";
    // Dragging an item past the end grows the range.
    for (int i = 0; i < 200; ++i) Move(vp, below, Qt::RightButton);
    EXPECT_GT(area->verticalScrollBar()->maximum(), max);
    QTest::mouseRelease(vp, Qt::RightButton, {}, below);
    auto ev = Events(c);
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev.back().id, eventItemDrag);
}
