// Automatic layout worked out by hand: tree in four directions, compact, hierarchy
// with a cycle; zoom, view and scroll ranges.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include "GraphTestSupport.h"

using namespace graphtest;
using namespace nodars;
using com::Variant;
using R = std::vector<int32_t>;

namespace {


QScrollBar* HBar(Control& c) { return static_cast<QAbstractScrollArea*>(c.Host()->Widget())->horizontalScrollBar(); }

}  // namespace

TEST(GraphLayout, TreeTopToBottom) {
    Control c;
    RootWithTwoChildren(c, 3, 3);
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 0);
    EXPECT_EQ(c.ItemRect(0), (R{70, 0, 190, 50}));
    EXPECT_EQ(c.ItemRect(1), (R{0, 90, 120, 140}));
    EXPECT_EQ(c.ItemRect(2), (R{140, 90, 260, 140}));
    EXPECT_EQ(c.Route(0, 1), (R{130, 50, 130, 60, 60, 80, 60, 90}));
    EXPECT_EQ(c.Route(0, 2), (R{130, 50, 130, 60, 200, 80, 200, 90}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kGraphBounds), (R{0, 0, 260, 140}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-5, -35, 265, 185}));
}

TEST(GraphLayout, TreeLeftToRight) {
    Control c;
    RootWithTwoChildren(c, 3, 1);
    EXPECT_EQ(c.ItemRect(0), (R{0, 35, 120, 85}));
    EXPECT_EQ(c.ItemRect(1), (R{160, 0, 280, 50}));
    EXPECT_EQ(c.ItemRect(2), (R{160, 70, 280, 120}));
    EXPECT_EQ(c.Route(0, 1), (R{120, 60, 130, 60, 150, 25, 160, 25}));
    EXPECT_EQ(c.Route(0, 2), (R{120, 60, 130, 60, 150, 95, 160, 95}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-35, -5, 325, 125}));
}

TEST(GraphLayout, TreeRightToLeft) {
    Control c;
    RootWithTwoChildren(c, 3, 0);
    EXPECT_EQ(c.ItemRect(0), (R{160, 35, 280, 85}));
    EXPECT_EQ(c.ItemRect(1), (R{0, 70, 120, 120}));
    EXPECT_EQ(c.ItemRect(2), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.Route(0, 1), (R{160, 60, 150, 60, 130, 95, 120, 95}));
    EXPECT_EQ(c.Route(0, 2), (R{160, 60, 150, 60, 130, 25, 120, 25}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-35, -5, 325, 125}));
}

TEST(GraphLayout, TreeBottomToTop) {
    Control c;
    RootWithTwoChildren(c, 3, 2);
    EXPECT_EQ(c.ItemRect(0), (R{70, 90, 190, 140}));
    EXPECT_EQ(c.ItemRect(1), (R{140, 0, 260, 50}));
    EXPECT_EQ(c.ItemRect(2), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.Route(0, 1), (R{130, 90, 130, 80, 200, 60, 200, 50}));
    EXPECT_EQ(c.Route(0, 2), (R{130, 90, 130, 80, 60, 60, 60, 50}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-5, -35, 265, 185}));
}

TEST(GraphLayout, TreeParentWiderThanItsChildrenKeepsThemCentred) {
    Control c;
    c.PutInt(dispidArrangeMode, 3);
    c.AddItem("wide root");
    c.AddItem("only child");
    c.Connect(0, 1);
    c.PutItem(dispidItemWidth, 0, 400);
    c.PutItem(dispidItemWidth, 1, 100);
    c.PutInt(dispidAutoArrange, 2);
    const R root = c.ItemRect(0), child = c.ItemRect(1);
    EXPECT_EQ((root[0] + root[2]) / 2, (child[0] + child[2]) / 2);
    EXPECT_EQ(child[1], 50 + 20 + 20);
}

TEST(GraphLayout, CompactTwoItems) {
    Control c;
    c.PutInt(dispidArrangeMode, 1);
    c.AddItem("a");
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.ItemRect(0), (R{0, 0, 120, 50}));  // row 1, column 0
    c.AddItem("b");
    c.Connect(0, 1);
    c.PutInt(dispidAutoArrange, 2);
    // The second item takes the first offered cell: the one above.
    EXPECT_EQ(c.ItemRect(0), (R{0, 70, 120, 120}));
    EXPECT_EQ(c.ItemRect(1), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.Route(0, 1), (R{60, 70, 60, 50}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-5, -5, 135, 135}));
}

TEST(GraphLayout, HierarchyWithACycleHasOneBackLink) {
    Control c;
    c.AddItem("A");
    c.AddItem("B");
    c.AddItem("C");
    c.Connect(0, 1);
    c.Connect(1, 2);
    c.Connect(2, 0);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.ItemRect(0), (R{0, 90, 120, 140}));
    EXPECT_EQ(c.ItemRect(2), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.ItemRect(1), (R{0, -90, 120, -40}));
    EXPECT_EQ(c.Route(0, 1), (R{60, 140, 60, 150, -10, 150, -10, -120, 60, -100, 60, -90}));
    EXPECT_EQ(c.Route(1, 2), (R{60, -40, 60, -30, 60, -10, 60, 0}));
    EXPECT_EQ(c.Route(2, 0), (R{60, 50, 60, 60, 60, 80, 60, 90}));
    EXPECT_EQ(c.Bounds(IGraphGeometry::kDrawingBounds), (R{-15, -125, 125, 155}));
}

// The back link of a right-to-left hierarchy steps across the layers by xSpace.
TEST(GraphLayout, HierarchyBackLinkRightToLeftUsesXSpace) {
    Control c;
    c.PutInt(dispidDrawDir, 0);
    c.PutInt(dispidXSpace, 30);
    c.AddItem("A");
    c.AddItem("B");
    c.AddItem("C");
    c.Connect(0, 1);
    c.Connect(1, 2);
    c.Connect(2, 0);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.ItemRect(0), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.ItemRect(2), (R{170, 0, 290, 50}));
    EXPECT_EQ(c.ItemRect(1), (R{340, 0, 460, 50}));
    EXPECT_EQ(c.Route(0, 1), (R{0, 25, -10, 25, -10, -10, 500, -10, 470, 10, 460, 10}));
}

TEST(GraphLayout, SameLayerLinkRoutesAsBackLink) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    EXPECT_EQ(c.Route(0, 1).size(), 12u);
}

TEST(GraphLayout, HierarchyTreeFitsSmallDrawingAtFullSize) {
    Control c(600, 500);
    c.PutInt(dispidDrawScale, 0);
    for (const char* n : {"root", "a", "b", "c"}) c.AddItem(n);
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.Connect(1, 3);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 0);
    EXPECT_LT(c.Item(dispidItemYPos, 0), c.Item(dispidItemYPos, 1));
    EXPECT_EQ(c.Item(dispidItemYPos, 2), c.Item(dispidItemYPos, 3));  // every leaf on layer 1
    EXPECT_GT(c.Item(dispidItemYPos, 2), c.Item(dispidItemYPos, 1));
    int32_t num = 0, den = 0;
    c.Geometry()->GetView(&num, &den, nullptr, nullptr);
    EXPECT_EQ(num, den);
    const R d = c.Bounds(IGraphGeometry::kDrawingBounds);
    EXPECT_EQ(c.Call(dispidGraphToScreenX, {Variant::I2(int16_t(d[0]))}).ToI2(), 1);
    EXPECT_EQ(c.Call(dispidGraphToScreenY, {Variant::I2(int16_t(d[1]))}).ToI2(), 1);
}

TEST(GraphLayout, ManualModeNeverMovesItems) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.PutItem(dispidItemXPos, 1, 400);
    c.Connect(0, 1);
    c.PutInt(dispidArrangeMode, 3);
    c.Call(dispidAddItem, {Variant::Str("c")});
    EXPECT_EQ(c.Item(dispidItemXPos, 1), 400);
}

TEST(GraphLayout, DrawScaleToItsValueDoesNothing) {
    Control c;
    c.AddItem("a");
    c.Put(dispidIsDirty, Variant::Bool(false));
    c.PutInt(dispidDrawScale, 100);
    EXPECT_FALSE(c.Get(dispidIsDirty).ToBool());
    c.PutInt(dispidDrawScale, 200);
    EXPECT_TRUE(c.Get(dispidIsDirty).ToBool());
    int32_t num = 0, den = 0;
    c.Geometry()->GetView(&num, &den, nullptr, nullptr);
    EXPECT_EQ(num * 100, den * 200);
}

// A zoom below 1 percent other than 0 (fit) is never used: it would mirror or
// collapse the drawing.
TEST(GraphLayout, DrawScaleBelowOneIsClamped) {
    Control c;
    c.AddItem("a");
    c.PutInt(dispidDrawScale, -50);
    EXPECT_EQ(c.GetInt(dispidDrawScale), 1);
    int32_t num = 0, den = 0;
    c.Geometry()->GetView(&num, &den, nullptr, nullptr);
    EXPECT_GT(num, 0);
    EXPECT_GT(den, 0);
    EXPECT_EQ(num * 100, den * 1);
    c.PutInt(dispidDrawScale, -32768);
    EXPECT_EQ(c.GetInt(dispidDrawScale), 1);
    c.PutInt(dispidDrawScale, 0);  // fit stays fit
    EXPECT_EQ(c.GetInt(dispidDrawScale), 0);
    c.PutInt(dispidDrawScale, 32767);
    EXPECT_EQ(c.GetInt(dispidDrawScale), 32767);
    // A stored negative zoom is clamped the same way.
    CPropertyBag bag;
    bag.WriteValue("DrawScale", Variant::I2(-7));
    ASSERT_EQ(c.Host()->LoadProperties(&bag), S_OK);
    EXPECT_EQ(c.GetInt(dispidDrawScale), 1);
}

// Coordinates convert with MulDiv: halves round away from zero.
TEST(GraphLayout, ConversionsRoundHalvesAwayFromZero) {
    Control c;
    c.AddItem("a");
    c.PutInt(dispidDrawScale, 150);
    const int32_t left = c.Bounds(IGraphGeometry::kViewRect)[0];
    auto toScreen = [&](int32_t x) { return c.Call(dispidGraphToScreenX, {Variant::I2(int16_t(x))}).ToI2(); };
    EXPECT_EQ(toScreen(left + 1) - toScreen(left - 1), 4);  // 1.5 -> 2, -1.5 -> -2
    EXPECT_EQ(toScreen(left + 3) - toScreen(left), 5);      // 4.5 -> 5
    EXPECT_EQ(c.Call(dispidScreenToGraphX, {Variant::I2(int16_t(toScreen(left + 30)))}).ToI2(), left + 30);
    // A border shifts the window coordinates by one more pixel.
    const int plain = toScreen(left);
    c.PutInt(dispidBorderStyle, 1);
    EXPECT_EQ(toScreen(left), plain + 1);
}

TEST(GraphLayout, ZoomSelectRectFalseOnlyMovesTheView) {
    Control c(500, 400);
    c.AddItem("a");
    c.PutInt(dispidSelectRectLeft, 1900);
    c.PutInt(dispidSelectRectTop, 950);
    c.PutInt(dispidSelectRectWidth, 200);
    c.PutInt(dispidSelectRectHeight, 100);
    c.Put(dispidZoomSelectRect, Variant::Bool(false));
    EXPECT_EQ(c.GetInt(dispidDrawScale), 100);
    EXPECT_EQ(c.Call(dispidGraphToScreenX, {Variant::I2(2000)}).ToI2(), 250);
    EXPECT_EQ(c.Call(dispidGraphToScreenY, {Variant::I2(1000)}).ToI2(), 200);
}

TEST(GraphLayout, ZoomSelectRectTrueFillsTheControl) {
    Control c(500, 400);
    c.AddItem("a");
    c.PutInt(dispidSelectRectWidth, 100);
    c.PutInt(dispidSelectRectHeight, 50);
    c.Put(dispidZoomSelectRect, Variant::Bool(true));
    // Client 498 x 398: the width limits, 100 x 498 / 100.
    EXPECT_EQ(c.GetInt(dispidDrawScale), 498);
    c.PutInt(dispidDrawScale, 0);
    c.PutInt(dispidSelectRectWidth, 996);
    c.Put(dispidZoomSelectRect, Variant::Bool(true));
    EXPECT_EQ(c.GetInt(dispidDrawScale), 50);
}

// An empty rectangle used to divide by zero.
TEST(GraphLayout, ZoomSelectRectWithAnEmptyRectangleOnlyCentres) {
    Control c(500, 400);
    c.AddItem("a");
    c.PutInt(dispidSelectRectLeft, 800);
    c.PutInt(dispidSelectRectTop, 600);
    c.Put(dispidZoomSelectRect, Variant::Bool(true));
    EXPECT_EQ(c.GetInt(dispidDrawScale), 100);
    EXPECT_EQ(c.Call(dispidGraphToScreenX, {Variant::I2(800)}).ToI2(), 250);
}

TEST(GraphLayout, WideDrawingKeepsTheScrollRangeWithin16Bits) {
    Control c(500, 400);
    c.AddItem("a");
    c.PutItem(dispidItemXPos, 0, 40000);
    // A 16-bit get whose value does not fit comes back as a Long, never wrapped.
    const com::Variant x = c.Get(dispidItemXPos, {Variant::I2(0)});
    EXPECT_EQ(x.vt, VT_I4);
    EXPECT_EQ(x.lVal, 40000);
    EXPECT_EQ(c.Get(dispidItemWidth, {Variant::I2(0)}).vt, VT_I2);
    QScrollBar* bar = HBar(c);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_LE(bar->maximum(), 32767);
    bar->setValue(bar->maximum());
    const int right = c.Call(dispidGraphToScreenX, {Variant::I4(40120)}).ToI4();
    EXPECT_LE(right, 500);
    EXPECT_GT(right, 300);
}

// A 128-leaf tree at 800 % is about 144 000 pixels wide: positions and scroll
// offsets must not wrap at 16 bits.
TEST(GraphLayout, LargeTreeAtHighZoomScrollsToItsFarEnd) {
    Control c(500, 400);
    c.PutInt(dispidArrangeMode, 3);
    for (int i = 0; i < 255; ++i) c.AddItem("n" + std::to_string(i));
    for (int i = 0; i < 127; ++i) {
        c.Connect(i, 2 * i + 1);
        c.Connect(i, 2 * i + 2);
    }
    c.PutInt(dispidAutoArrange, 2);
    const R last = c.ItemRect(254);
    EXPECT_EQ(last[2], 128 * 140 - 20);
    c.PutInt(dispidDrawScale, 800);
    com::Variant far = c.Call(dispidGraphToScreenX, {Variant::I4(last[2])});
    EXPECT_EQ(far.vt, VT_I4);
    EXPECT_GT(far.lVal, 140000);
    QScrollBar* bar = HBar(c);
    EXPECT_LE(bar->maximum(), 32767);
    bar->setValue(bar->maximum());
    int32_t h = 0;
    c.Geometry()->GetView(nullptr, nullptr, &h, nullptr);
    EXPECT_GT(h, 140000);
    const int right = c.Call(dispidGraphToScreenX, {Variant::I4(last[2])}).ToI4();
    EXPECT_LE(right, 500);
    EXPECT_GT(right, 400);
}

TEST(GraphLayout, DesignTimeRunsNoLayout) {
    Control c;
    c.Host()->SetAmbient(FALSE, nullptr);
    c.PutInt(dispidArrangeMode, 3);
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 2);  // not run, so not reset
    c.Host()->SetAmbient(TRUE, nullptr);
    EXPECT_EQ(c.Route(0, 1).size(), 0u);
}

// Nothing is laid out before the window shows; its first showing runs the
// pending arrangement.
TEST(GraphLayout, FirstShowingRunsTheFirstArrangement) {
    Control c(500, 400, false);
    c.PutInt(dispidArrangeMode, 3);
    c.AddItem("root");
    c.AddItem("left");
    c.AddItem("right");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 2);
    EXPECT_EQ(c.Item(dispidItemXPos, 1), c.Item(dispidItemXPos, 2));  // all still at the centre
    c.Parent()->show();
    EXPECT_EQ(c.GetInt(dispidAutoArrange), 0);
    EXPECT_EQ(c.ItemRect(0), (R{70, 0, 190, 50}));
    EXPECT_EQ(c.ItemRect(2), (R{140, 90, 260, 140}));
}

TEST(GraphLayout, ResizingRefitsTheDrawing) {
    Control c(300, 200);
    c.PutInt(dispidArrangeMode, 3);
    c.PutInt(dispidDrawScale, 0);
    for (int i = 0; i < 7; ++i) c.AddItem("n");
    for (int i = 0; i < 3; ++i) {
        c.Connect(i, 2 * i + 1);
        c.Connect(i, 2 * i + 2);
    }
    c.PutInt(dispidAutoArrange, 1);
    int32_t num = 0, den = 0;
    c.Geometry()->GetView(&num, &den, nullptr, nullptr);
    EXPECT_LT(num, den);  // 560 units wide in a 298-pixel client
    const double small = double(num) / den;
    c.Host()->SetBounds(0, 0, 450, 300);
    c.Geometry()->GetView(&num, &den, nullptr, nullptr);
    EXPECT_GT(double(num) / den, small);
    EXPECT_EQ(c.Bounds(IGraphGeometry::kClientRect), (R{1, 1, 449, 299}));
}

// Two cycles, the second hanging above the first in the same column: the first
// back link gets a column of its own.
TEST(GraphLayout, HierarchyBackLinksAreKeptApart) {
    Control c;
    for (const char* n : {"A", "B", "C", "D"}) c.AddItem(n);
    c.Connect(2, 0);
    c.Connect(0, 1);
    c.Connect(1, 0);
    c.Connect(2, 3);
    c.Connect(3, 2);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_EQ(c.ItemRect(0), (R{-140, 90, -20, 140}));
    EXPECT_EQ(c.ItemRect(1), (R{140, 0, 260, 50}));
    EXPECT_EQ(c.ItemRect(2), (R{0, 0, 120, 50}));
    EXPECT_EQ(c.ItemRect(3), (R{0, -90, 120, -40}));
    EXPECT_EQ(c.Route(0, 1).size(), 12u);  // back links
    EXPECT_EQ(c.Route(2, 3).size(), 12u);
    EXPECT_EQ(c.Route(3, 2).size(), 8u);
}

// A fitted chart fills the window one way only and sits at its top left. Each
// zoom from there keeps the chart's centre at the centre of the window, and the
// items in view are drawn: a wide chart leaves blank below it, a tall one
// beside it, and the window's centre there is no point of the chart.
TEST(GraphLayout, ZoomingAFittedChartKeepsItsCentreInTheMiddleAndDrawsIt) {
    struct Case {
        const char* name;
        int children;  // under the root, side by side
        int depth;     // a chain below the root
    };
    for (const Case& k : {Case{"wide", 12, 0}, Case{"tall", 0, 8}}) {
        SCOPED_TRACE(k.name);
        Control c(500, 400);
        c.PutInt(dispidArrangeMode, 3);
        c.PutInt(dispidDrawScale, 0);
        c.Put(dispidFillColor, Variant::I4(0x00FFFF));  // yellow, told apart from the white ground
        c.AddItem("root");
        for (int i = 1; i <= k.children; ++i) c.Connect(0, c.AddItem("leaf"));
        for (int i = 1; i <= k.depth; ++i) c.Connect(i - 1, c.AddItem("step"));
        c.PutInt(dispidAutoArrange, 2);
        const R d = c.Bounds(IGraphGeometry::kDrawingBounds);
        const int cx = (d[0] + d[2]) / 2, cy = (d[1] + d[3]) / 2;
        auto* area = static_cast<QAbstractScrollArea*>(c.Host()->Widget());
        for (int scale : {60, 70}) {
            SCOPED_TRACE(scale);
            c.PutInt(dispidDrawScale, scale);
            QApplication::processEvents();
            const QImage img = area->viewport()->grab().toImage();
            // Window coordinates count the one-pixel border.
            auto x = [&](int gx) { return c.Call(dispidGraphToScreenX, {Variant::I4(gx)}).ToI4() - 1; };
            auto y = [&](int gy) { return c.Call(dispidGraphToScreenY, {Variant::I4(gy)}).ToI4() - 1; };
            EXPECT_NEAR(x(cx), 498 / 2, 1);
            EXPECT_NEAR(y(cy), 398 / 2, 1);
            int drawn = 0;
            for (int i = 0; i < c.GetInt(dispidListCount); ++i) {
                const R r = c.ItemRect(i);
                if (x(r[0]) < 0 || y(r[1]) < 0 || x(r[2]) > img.width() || y(r[3]) > img.height()) continue;
                EXPECT_EQ(img.pixel(x(r[0]) + 3, y(r[1]) + 3), qRgb(255, 255, 0)) << "item " << i;
                ++drawn;
            }
            EXPECT_GE(drawn, 3);
        }
    }
}
