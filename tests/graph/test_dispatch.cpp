// The dispatch conventions: design time, write-only and read-only members, the
// run-time-only and design-time-only members, invalid indexes, names, events.
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include "LargestAllocation.h"
#include "GraphTestSupport.h"

using namespace graphtest;
using namespace nodars;
using com::Variant;

namespace {

HRESULT GetError(Control& c, DISPID id, std::vector<Variant> index, std::string* text = nullptr) {
    Variant v;
    com::ExcepInfo ex;
    HRESULT hr = c.TryGet(id, std::move(index), &v, &ex);
    if (hr != DISP_E_EXCEPTION) return hr;
    if (text) *text = com::BStr(ex.bstrDescription ? std::u16string(ex.bstrDescription) : u"").Utf8();
    return ex.scode;
}

HRESULT PutError(Control& c, DISPID id, const Variant& value, std::vector<Variant> index = {},
                 std::string* text = nullptr) {
    com::ExcepInfo ex;
    HRESULT hr = c.TryPut(id, value, std::move(index), &ex);
    if (hr != DISP_E_EXCEPTION) return hr;
    if (text) *text = com::BStr(ex.bstrDescription ? std::u16string(ex.bstrDescription) : u"").Utf8();
    return ex.scode;
}

}  // namespace

TEST(GraphDispatch, DesignTimeRefusesMostGets) {
    Control c;
    c.AddItem("a");
    c.Host()->SetAmbient(FALSE, nullptr);
    EXPECT_EQ(GetError(c, dispidListCount, {}), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(GetError(c, dispidItemXPos, {Variant::I2(0)}), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(GetError(c, dispidQueryState, {}), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(GetError(c, dispidIsDirty, {}), CTL_E_GETNOTSUPPORTED);
    // Member properties, DrawScale, AutoArrange and the stock members still answer.
    EXPECT_EQ(c.GetInt(dispidDrawScale), 100);
    EXPECT_EQ(c.GetInt(dispidXSpan), 120);
    EXPECT_EQ(c.GetText(dispidPrintHeader), "");
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 0);
    EXPECT_EQ(c.GetInt(dispidBackColor), 0xFFFFFF);
    // Puts are not checked.
    c.PutInt(dispidXSpan, 90);
    EXPECT_EQ(c.GetInt(dispidXSpan), 90);
    c.Host()->SetAmbient(TRUE, nullptr);
    EXPECT_EQ(c.GetInt(dispidListCount), 1);
}

TEST(GraphDispatch, WriteOnlyMembersRefuseTheirGetAtAnyTime) {
    Control c;
    c.AddItem("a");
    for (DISPID id : {dispidZoomSelectRect, dispidSaveAs, dispidLoadFrom, dispidPrintGraph, dispidPrintToDC,
                      dispidPrintToWnd})
        EXPECT_EQ(GetError(c, id, {}), CTL_E_GETNOTSUPPORTED) << id;
    for (DISPID id : {dispidConnectTo, dispidRemoveFrom, dispidGraphicPath, dispidItemIndex})
        EXPECT_EQ(GetError(c, id, {Variant::I2(0)}), CTL_E_GETNOTSUPPORTED) << id;
    // The error information of the thread carries the text too.
    std::string text;
    EXPECT_TRUE(com::TakeErrorInfo(c.Disp(), IID_IDispatch, &text));
    EXPECT_FALSE(text.empty());
}

TEST(GraphDispatch, ReadOnlyMembersRefuseTheirPut) {
    Control c;
    std::string text;
    EXPECT_EQ(PutError(c, dispidListCount, Variant::I2(3), {}, &text), CTL_E_SETNOTSUPPORTED);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(PutError(c, dispidNewIndex, Variant::I2(3)), CTL_E_SETNOTSUPPORTED);
    c.Host()->SetAmbient(FALSE, nullptr);
    EXPECT_EQ(PutError(c, dispidListCount, Variant::I2(3)), CTL_E_SETNOTSUPPORTED);
}

TEST(GraphDispatch, DesignTimeOnlyMembersFailAtRunTime) {
    Control c;
    std::string text;
    EXPECT_EQ(GetError(c, dispidGraphics, {}, &text), CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(text, "AutoMouseEvents not available at run-time.");
    EXPECT_EQ(GetError(c, dispidAutoMouseEvents, {}, &text), CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(text, "AutoMouseEvents not available at run-time.");
    EXPECT_EQ(PutError(c, dispidGraphics, Variant::I4(0), {}, &text), CTL_E_ILLEGALFUNCTIONCALL);

    com::ExcepInfo ex;
    Variant r;
    EXPECT_EQ(com::Invoke(c.Disp(), dispidDTGraphicSelect, DISPATCH_METHOD, {}, &r, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.scode, CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(com::BStr(std::u16string(ex.bstrDescription)).Utf8(), "DTGraphicSelect not available at run-time.");

    c.Host()->SetAmbient(FALSE, nullptr);
    EXPECT_EQ(c.GetInt(dispidGraphics), 0);
    EXPECT_EQ(c.GetInt(dispidAutoMouseEvents), 0);
}

TEST(GraphDispatch, ConnectionMembersWithoutACurrentConnection) {
    Control c;
    c.AddItem("a");
    EXPECT_EQ(c.GetInt(dispidConnectFromHandle), -1);
    EXPECT_EQ(c.GetInt(dispidConnectToHandle), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionArrow), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionColor), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionAlign), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionLineWidth), -1);
    EXPECT_EQ(c.GetInt(dispidConnectFromIndex), -1);
    EXPECT_EQ(c.GetInt(dispidConnectToIndex), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 0);
    EXPECT_EQ(c.GetInt(dispidConnectionData), 0);
    EXPECT_EQ(c.GetText(dispidConnectionLabel), "");
    c.Put(dispidConnectionLabel, Variant::Str("x"));  // nothing to label: no failure
    c.Put(dispidConnectionData, Variant::I4(5));
    c.PutInt(dispidConnectFromHandle, 2);
    EXPECT_EQ(c.GetInt(dispidConnectionData), 0);
}

TEST(GraphDispatch, ConnectionMembersOfTheCurrentConnection) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionArrow), 1);
    EXPECT_EQ(c.GetInt(dispidConnectionAlign), 1);
    EXPECT_EQ(c.GetInt(dispidConnectionLineWidth), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionColor), 0);
    c.Put(dispidConnectionLabel, Variant::Str("yes"));
    c.Put(dispidConnectionData, Variant::I4(77));
    c.Put(dispidConnectionColor, Variant::I4(0xFF));
    c.PutInt(dispidConnectToHandle, 4);
    c.PutInt(dispidConnectFromIndex, 1);  // only marks the control modified
    c.Put(dispidIsDirty, Variant::Bool(false));
    c.PutInt(dispidConnectionId, 9);
    EXPECT_TRUE(c.Get(dispidIsDirty).ToBool());
    c.Connect(0, 1);
    EXPECT_EQ(c.GetText(dispidConnectionLabel), "yes");
    EXPECT_EQ(c.GetInt(dispidConnectionData), 77);
    EXPECT_EQ(c.GetInt(dispidConnectionColor), 0xFF);
    EXPECT_EQ(c.GetInt(dispidConnectToHandle), 4);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);
    EXPECT_EQ(c.GetInt(dispidConnectFromIndex), 0);
}

TEST(GraphDispatch, IndexesOutOfRangeAreNeverErrors) {
    Control c;
    c.AddItem("a");
    EXPECT_EQ(c.Item(dispidItemId, 5), -1);
    EXPECT_EQ(c.Item(dispidItemData, 5), 0);
    EXPECT_EQ(c.Item(dispidItemXPos, -1), 0);
    EXPECT_EQ(c.Item(dispidItemYPos, 1), 0);
    EXPECT_EQ(c.Item(dispidItemBorderColor, 1), -1);
    EXPECT_EQ(c.Item(dispidItemFillColor, 1), -1);
    EXPECT_EQ(c.Item(dispidItemTextColor, 1), -1);
    EXPECT_EQ(c.Item(dispidItemShape, 1), 0);
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(3)}), "");
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 24), -1);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, -1), -1);
    c.PutItem(dispidAutoMouseEvent, 24, 7);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 23), 0);
    c.PutItem(dispidItemData, 4, 99);
    c.PutItem(dispidItemXPos, 4, 99);
    EXPECT_EQ(c.Item(dispidItemData, 0), 0);
    // Within range the table answers.
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 0), 51);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 7), 1);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 16), 24);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 17), 28);
    c.PutItem(dispidAutoMouseEvent, 23, 9);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 23), 9);
}

TEST(GraphDispatch, SelectAndPrintRectanglesKeepTheirSize) {
    Control c;
    c.PutInt(dispidSelectRectWidth, 40);
    c.PutInt(dispidSelectRectHeight, 30);
    c.PutInt(dispidSelectRectLeft, 100);
    c.PutInt(dispidSelectRectTop, -20);
    EXPECT_EQ(c.GetInt(dispidSelectRectWidth), 40);
    EXPECT_EQ(c.GetInt(dispidSelectRectHeight), 30);
    EXPECT_EQ(c.GetInt(dispidSelectRectLeft), 100);
    EXPECT_EQ(c.GetInt(dispidSelectRectTop), -20);
    c.PutInt(dispidPrintRectWidth, 500);
    c.PutInt(dispidPrintRectLeft, 10);
    EXPECT_EQ(c.GetInt(dispidPrintRectWidth), 500);
    EXPECT_EQ(c.GetInt(dispidPrintRectLeft), 10);
}

TEST(GraphDispatch, SelectedIndexOutOfRangeBecomesNone) {
    Control c;
    c.AddItem("a");
    c.PutInt(dispidSelectedIndex, 0);
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), 0);
    c.PutInt(dispidSelectedIndex, 3);
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), -1);
}

TEST(GraphDispatch, MemberPropertiesStoreAndMarkModified) {
    Control c;
    c.Put(dispidIsDirty, Variant::Bool(false));
    c.PutInt(dispidDrawDir, 1);
    EXPECT_TRUE(c.Get(dispidIsDirty).ToBool());
    EXPECT_EQ(c.GetInt(dispidDrawDir), 1);
    c.Put(dispidDrawArrows, Variant::Bool(false));
    EXPECT_FALSE(c.Get(dispidDrawArrows).ToBool());
    c.Put(dispidPrintHeader, Variant::Str("Page &p"));
    EXPECT_EQ(c.GetText(dispidPrintHeader), "Page &p");
    // A 16-bit member refuses a value that does not fit.
    EXPECT_EQ(c.TryPut(dispidGap, Variant::I4(70000)), DISP_E_OVERFLOW);
    EXPECT_EQ(c.GetInt(dispidGap), 10);
}

// No exception leaves the control: a member that runs out of memory fails the
// call, and the graph is as it was.
TEST(GraphDispatch, AMemberThatThrowsFailsTheCallAndTheControlGoesOn) {
    Control c;
    c.AddItem("kept");
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(u"a name too long to be kept inside a string");
    DISPPARAMS params{&name, nullptr, 1, 0};
    HRESULT hr = S_OK;
    {
        FailingAllocations failing;
        hr = c.Disp()->Invoke(dispidAddItem, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    VariantClear(&name);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(c.GetInt(dispidListCount), 1);
    EXPECT_EQ(c.AddItem("next"), 1);
}

TEST(GraphDispatch, NamesMapToMemberIds) {
    Control c;
    std::u16string names[] = {u"AddItem", u"itemxpos", u"ZoomSelectRect", u"NoSuchMember"};
    const DISPID expected[] = {dispidAddItem, dispidItemXPos, dispidZoomSelectRect};
    for (int i = 0; i < 3; ++i) {
        LPOLESTR p = names[i].data();
        DISPID id = 0;
        EXPECT_EQ(c.Disp()->GetIDsOfNames(IID_NULL, &p, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, expected[i]);
    }
    LPOLESTR p = names[3].data();
    DISPID id = 0;
    EXPECT_EQ(c.Disp()->GetIDsOfNames(IID_NULL, &p, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    Variant v;
    EXPECT_EQ(c.TryGet(104, {}, &v), DISP_E_MEMBERNOTFOUND);
}

// Editing through the interface raises no events (they come from the mouse); keys
// reach the container as the stock key events.
TEST(GraphDispatch, EventsReachTheConnectionPoint) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    c.Call(dispidRemoveItem, {Variant::I2(0)});
    EXPECT_TRUE(c.Sink()->events.empty());

    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    QApplication::sendEvent(c.Host()->Widget(), &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    QApplication::sendEvent(c.Host()->Widget(), &release);
    ASSERT_EQ(c.Sink()->events.size(), 3u);
    EXPECT_EQ(c.Sink()->events[0].id, eventKeyDown);
    EXPECT_EQ(c.Sink()->events[0].args[0].ToI2(), 0x41);
    EXPECT_EQ(c.Sink()->events[0].args[1].ToI2(), 1);
    EXPECT_EQ(c.Sink()->events[1].id, eventKeyPress);
    EXPECT_EQ(c.Sink()->events[1].args[0].ToI2(), 'A');
    EXPECT_EQ(c.Sink()->events[2].id, eventKeyUp);

    c.Call(dispidDoClick);
    ASSERT_EQ(c.Sink()->events.size(), 4u);
    EXPECT_EQ(c.Sink()->events[3].id, eventClick);
}

// The control reports keys with the codes the program's own windows use.
TEST(GraphDispatch, KeysCarryTheProgramsKeyCodes) {
    Control c;
    for (auto [key, code] : {std::pair{Qt::Key_Minus, 189}, {Qt::Key_Period, 190}, {Qt::Key_F3, 114}}) {
        c.Sink()->events.clear();
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(c.Host()->Widget(), &press);
        ASSERT_FALSE(c.Sink()->events.empty());
        EXPECT_EQ(c.Sink()->events[0].args[0].ToI2(), code);
        EXPECT_EQ(c.Sink()->events[0].args[1].ToI2(), 2);
    }
}

TEST(GraphDispatch, TheWidgetBelongsToTheHostParent) {
    Control c(320, 240);
    QWidget* w = c.Host()->Widget();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), c.Parent());
    EXPECT_EQ(w->size(), QSize(320, 240));
    EXPECT_TRUE(w->isVisible());
    // The client area is the window less one pixel on each side.
    EXPECT_EQ(c.Bounds(IGraphGeometry::kClientRect), (std::vector<int32_t>{1, 1, 319, 239}));
    c.Host()->SetBounds(0, 0, 200, 100);
    EXPECT_EQ(c.Bounds(IGraphGeometry::kClientRect), (std::vector<int32_t>{1, 1, 199, 99}));
}

TEST(GraphDispatch, ReleasingTheControlDeletesItsWidget) {
    auto c = std::make_unique<Control>();
    QWidget parent;
    QPointer<QWidget> widget = c->Host()->Widget();
    ASSERT_TRUE(widget);
    c->Host()->SetParentWidget(&parent);
    EXPECT_EQ(widget->parentWidget(), &parent);
    c.reset();
    EXPECT_TRUE(widget.isNull());
}

TEST(GraphDispatch, AControlOutlivesItsWidget) {
    Control c;
    delete c.Host()->Widget();
    EXPECT_EQ(c.Host()->Widget(), nullptr);
    EXPECT_EQ(c.AddItem("a"), 0);
    c.PutInt(dispidDrawScale, 50);
    c.Call(dispidRefresh);
    EXPECT_EQ(c.GetInt(dispidListCount), 1);
}

// Putting 0 to PrintToDC makes the whole drawing the part to print.
TEST(GraphDispatch, PrintToDCZeroSelectsTheDrawing) {
    Control c;
    c.PutInt(dispidArrangeMode, 3);
    c.AddItem("root");
    c.AddItem("leaf");
    c.Connect(0, 1);
    c.PutInt(dispidAutoArrange, 2);
    c.Put(dispidPrintToDC, Variant::I4(0));
    const std::vector<int32_t> d = c.Bounds(IGraphGeometry::kDrawingBounds);
    EXPECT_EQ(c.GetInt(dispidSelectRectLeft), d[0]);
    EXPECT_EQ(c.GetInt(dispidSelectRectTop), d[1]);
    EXPECT_EQ(c.GetInt(dispidSelectRectWidth), d[2] - d[0]);
    EXPECT_EQ(c.GetInt(dispidSelectRectHeight), d[3] - d[1]);
}
