// What the control draws, read back as pixels of its viewport at positions the
// control itself reports (GraphToScreenX/Y less the one-pixel border).
#include <QAbstractScrollArea>
#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QScrollBar>

#include "GraphTestSupport.h"

using graphtest::Control;
using namespace nodars;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);

QImage Grab(Control& c) {
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    return area->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int X(Control& c, int gx) { return c.Call(dispidGraphToScreenX, {com::Variant::I4(gx)}).ToI2() - 1; }
int Y(Control& c, int gy) { return c.Call(dispidGraphToScreenY, {com::Variant::I4(gy)}).ToI2() - 1; }

// A root over two children, laid out as a top-down flow chart.
void Tree(Control& c, int scale = 100) {
    c.PutInt(dispidDrawScale, scale);
    graphtest::RootWithTwoChildren(c, 2, 3);
}

struct Box {
    int l, t, r, b;  // device pixels, right and bottom excluded
};

Box Device(Control& c, int ix) {
    auto r = c.ItemRect(ix);
    return {X(c, r[0]), Y(c, r[1]), X(c, r[2]), Y(c, r[3])};
}

}  // namespace

TEST(GraphRender, ItemsHaveBorderFillAndTheirOwnColours) {
    Control c(500, 400);
    Tree(c);
    c.PutItem(dispidItemFillColor, 1, 0x0000FF);  // red (0x00BBGGRR)
    QImage img = Grab(c);
    Box b = Device(c, 1);
    const int my = (b.t + b.b) / 2;
    EXPECT_EQ(img.pixel(b.l, my), kBlack) << "left border";
    EXPECT_EQ(img.pixel(b.r - 1, my), kBlack) << "right border, inside the box";
    EXPECT_EQ(img.pixel(b.l + 3, b.t + 3), qRgb(255, 0, 0)) << "own fill colour";
    EXPECT_EQ(img.pixel(b.r + 1, b.t + 2), kWhite) << "nothing beside the box";

    // Uncoloured: white fill whatever the item carries, black outline.
    c.Put(dispidDrawColored, com::Variant::Bool(false));
    img = Grab(c);
    EXPECT_EQ(img.pixel(b.l + 3, b.t + 3), kWhite);
    EXPECT_EQ(img.pixel(b.l, my), kBlack);
}

TEST(GraphRender, ArrowHeadsScaleWithTheZoom) {
    for (int scale : {100, 200}) {
        Control c(600, 500);
        Tree(c, scale);
        auto route = c.Route(0, 1);
        ASSERT_EQ(route.size(), 8u);
        // The tip is the last point; the head points down onto the target's top.
        const int tx = X(c, route[6]), ty = Y(c, route[7]);
        const int len = 5 * scale / 100, half = 3 * scale / 100;
        QImage img = Grab(c);
        EXPECT_EQ(img.pixel(tx + half - 1, ty - len + 1), kBlack) << scale << " % inside the head, off the line";
        EXPECT_EQ(img.pixel(tx + half + 2, ty - len + 1), kWhite) << scale << " % beside the head";
        c.Put(dispidDrawArrows, com::Variant::Bool(false));
        img = Grab(c);
        EXPECT_EQ(img.pixel(tx + half - 1, ty - len + 1), kWhite) << scale << " % no head";
    }
}

TEST(GraphRender, SelectionMarksStayFivePixelsAtAnyZoom) {
    for (int scale : {100, 50}) {
        Control c(500, 400);
        Tree(c, scale);
        Box b = Device(c, 2);
        QImage img = Grab(c);
        EXPECT_EQ(img.pixel(b.r + 5, b.b + 5), kWhite);
        c.PutInt(dispidSelectedIndex, 2);
        img = Grab(c);
        // Around the box inflated by 3: the bottom-right mark spans R+3 .. R+7.
        EXPECT_EQ(img.pixel(b.r + 3, b.b + 3), kBlack) << scale;
        EXPECT_EQ(img.pixel(b.r + 7, b.b + 7), kBlack) << scale;
        EXPECT_EQ(img.pixel(b.r + 8, b.b + 8), kWhite) << scale;
        const int mx = (b.l + b.r) / 2;
        EXPECT_EQ(img.pixel(mx, b.t - 4), kBlack) << scale << " top middle";
    }
}

TEST(GraphRender, FlowChartStubsEndInDotsAndNeverPrint) {
    Control c(500, 400);
    Tree(c);
    Box b = Device(c, 1);
    const int my = (b.t + b.b) / 2;
    QImage img = Grab(c);
    // The left stub runs Gap (10) out of the side and ends in a dot of radius 4.
    EXPECT_EQ(img.pixel(b.l - 5, my), kBlack);
    EXPECT_EQ(img.pixel(b.l - 10 - 4, my), kBlack) << "dot outline";
    c.Put(dispidDrawHandles, com::Variant::Bool(false));
    img = Grab(c);
    EXPECT_EQ(img.pixel(b.l - 5, my), kWhite);
    EXPECT_EQ(img.pixel(b.l - 14, my), kWhite);
}

TEST(GraphRender, HigherIndexCoversLowerAndConnectionsStayBeneathItems) {
    Control c(500, 400);
    c.AddItem("under");
    c.AddItem("over");
    c.AddItem("target");
    c.PutItem(dispidItemXPos, 0, 50);
    c.PutItem(dispidItemYPos, 0, 50);
    c.PutItem(dispidItemXPos, 1, 100);
    c.PutItem(dispidItemYPos, 1, 70);
    c.PutItem(dispidItemXPos, 2, 100);
    c.PutItem(dispidItemYPos, 2, 250);
    c.PutItem(dispidItemFillColor, 0, 0x00FF00);
    c.PutItem(dispidItemFillColor, 1, 0xFF0000);
    // Compact mode: a straight line between centres, through item 1's box.
    c.PutInt(dispidArrangeMode, 1);
    c.Connect(0, 2);
    QImage img = Grab(c);
    const int ox = X(c, 140), oy = Y(c, 90);  // inside both items
    EXPECT_EQ(img.pixel(ox, oy), qRgb(0, 0, 255)) << "item 1 is on top";
    auto route = c.Route(0, 2);
    ASSERT_EQ(route.size(), 4u);
    // Where the line crosses item 1, item 1's fill shows.
    const int lx = X(c, route[0] + (route[2] - route[0]) * (105 - route[1]) / (route[3] - route[1]));
    EXPECT_EQ(img.pixel(lx, Y(c, 105)), qRgb(0, 0, 255));
    // Below item 1 the line shows on the background.
    const int ly = 200;
    const int x2 = X(c, route[0] + (route[2] - route[0]) * (ly - route[1]) / (route[3] - route[1]));
    bool line = false;
    for (int dx = -1; dx <= 1; ++dx) line |= img.pixel(x2 + dx, Y(c, ly)) == kBlack;
    EXPECT_TRUE(line);
}

TEST(GraphRender, DesignTimeShowsTheSampleItem) {
    Control c(400, 300);
    c.Host()->SetAmbient(FALSE, nullptr);
    QImage img = Grab(c);
    // 120 x 50 centred in the control.
    const int l = (img.width() - 120) / 2, t = (img.height() - 50) / 2;
    int black = 0;
    for (int dx = -1; dx <= 1; ++dx) black += img.pixel(l + dx, t + 25) == kBlack;
    EXPECT_GE(black, 1) << "left edge of the sample";
    EXPECT_EQ(img.pixel(l - 6, t + 25), kWhite);
}

// A route left over from another arrangement is drawn from the points it has.
TEST(GraphRender, StaleRouteFromAnotherArrangementIsDrawnSafely) {
    Control c(500, 400);
    c.AddItem("a");
    c.AddItem("b");
    c.PutItem(dispidItemXPos, 1, 300);
    c.PutInt(dispidArrangeMode, 1);
    c.Connect(0, 1);
    c.Put(dispidConnectionLabel, com::Variant::Str("yes"));
    ASSERT_EQ(c.Route(0, 1).size(), 4u);  // two points
    c.PutInt(dispidArrangeMode, 2);        // only repaints: the route stays two points long
    c.Put(dispidDrawHandles, com::Variant::Bool(false));
    QImage img = Grab(c);
    auto route = c.Route(0, 1);
    const int y = Y(c, route[1]), x = X(c, (route[0] + route[2]) / 2);
    bool line = false;
    for (int dy = -1; dy <= 1; ++dy) line |= img.pixel(x, y + dy) != kWhite;
    EXPECT_TRUE(line);
}

TEST(GraphRender, ScrollingRepaintsTheUncoveredStripOnly) {
    Control c(300, 200);
    graphtest::FlowChartChain(c, 6);
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    ASSERT_GT(area->verticalScrollBar()->maximum(), 0);
    Box before = Device(c, 1);
    area->verticalScrollBar()->setValue(40);
    Box after = Device(c, 1);
    EXPECT_EQ(after.t, before.t - 40);
    QImage img = Grab(c);
    EXPECT_EQ(img.pixel(after.l, (after.t + after.b) / 2), kBlack) << "item drawn where the view now shows it";
}

TEST(GraphRender, BackLinksHiddenDottedOrSolid) {
    Control c(500, 400);
    c.AddItem("a");
    c.AddItem("b");
    c.AddItem("c");
    c.Connect(0, 1);
    c.Connect(1, 2);
    c.Connect(2, 0);  // closes a cycle: one link runs against the layers
    c.PutInt(dispidArrangeMode, 0);
    c.PutInt(dispidDrawScale, 100);
    c.PutInt(dispidAutoArrange, 2);
    std::vector<int32_t> back;
    for (auto [f, t] : {std::pair{0, 1}, {1, 2}, {2, 0}})
        if (c.Route(f, t).size() == 12) back = c.Route(f, t);
    ASSERT_EQ(back.size(), 12u) << "one back link";
    // The long middle segment, from point 2 to point 3, away from every item.
    const int x0 = X(c, back[4]), y0 = Y(c, back[5]), x1 = X(c, back[6]), y1 = Y(c, back[7]);
    auto darkAlong = [&](const QImage& img) {
        int dark = 0, n = 0;
        for (int k = 5; k < 45; ++k, ++n) {
            const int x = x0 + (x1 - x0) * k / 50, y = y0 + (y1 - y0) * k / 50;
            dark += img.pixel(x, y) == kBlack;
        }
        return std::pair{dark, n};
    };
    c.PutInt(dispidDrawBackLinks, 1);
    auto [solid, n] = darkAlong(Grab(c));
    EXPECT_EQ(solid, n);
    c.PutInt(dispidDrawBackLinks, 2);
    auto [dotted, n2] = darkAlong(Grab(c));
    EXPECT_GT(dotted, n2 / 5);
    EXPECT_LT(dotted, n2 * 4 / 5);
    c.PutInt(dispidDrawBackLinks, 0);
    EXPECT_EQ(darkAlong(Grab(c)).first, 0);
}

TEST(GraphRender, LabelAlignmentPlacesTheTextInsideTheBox) {
    Control c(500, 400);
    c.AddItem("Wide label");
    c.PutItem(dispidItemXPos, 0, 100);
    c.PutItem(dispidItemYPos, 0, 100);
    c.PutItem(dispidItemWidth, 0, 240);
    c.PutItem(dispidItemHeight, 0, 120);
    Box b = Device(c, 0);
    // Bounding box of the text pixels inside the item's border.
    auto ink = [&](const QImage& img) {
        QRect r;
        for (int y = b.t + 1; y < b.b - 1; ++y)
            for (int x = b.l + 1; x < b.r - 1; ++x)
                if (qGray(img.pixel(x, y)) < 128) r = r.united(QRect(x, y, 1, 1));
        return r;
    };
    c.PutItem(dispidItemLabelAlign, 0, 0);
    QRect topLeft = ink(Grab(c));
    ASSERT_FALSE(topLeft.isEmpty());
    EXPECT_LT(topLeft.left() - b.l, 8);
    EXPECT_LT(topLeft.top() - b.t, 10);
    c.PutItem(dispidItemLabelAlign, 0, 8);
    QRect bottomRight = ink(Grab(c));
    EXPECT_LT(b.r - bottomRight.right(), 8);
    EXPECT_LT(b.b - bottomRight.bottom(), 10);
    // The same text, give or take a pixel of glyph rendering.
    EXPECT_LE(std::abs(bottomRight.width() - topLeft.width()), 1);
    EXPECT_LE(std::abs(bottomRight.height() - topLeft.height()), 1);
    c.PutItem(dispidItemLabelAlign, 0, 4);
    QRect middle = ink(Grab(c));
    EXPECT_LE(std::abs((middle.left() + middle.right()) / 2 - (b.l + b.r) / 2), 2);
    EXPECT_LE(std::abs((middle.top() + middle.bottom()) / 2 - (b.t + b.b) / 2), 3);
    c.Put(dispidDrawItemLabels, com::Variant::Bool(false));
    EXPECT_TRUE(ink(Grab(c)).isEmpty());
}

// A label measured to fit its box is drawn as measured: a text whose widest
// line fills the box exactly keeps all its lines (drawing it two units
// narrower would wrap a third line out of sight). Text that does not fit
// stays inside the box.
TEST(GraphRender, LabelThatFitsItsBoxKeepsEveryLine) {
    Control c(500, 400);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    c.Put(dispidFont, com::Variant::Str(font.toString().toStdString()));
    const QString lines[2] = {QStringLiteral("worst_perimeter > 114.3"), QStringLiteral("[diagnosis = malignant]")};
    const QFontMetrics fm(font);
    const auto measure = [&](int width) {
        return fm.boundingRect(QRect(0, 0, width, 1000), Qt::TextWordWrap | Qt::AlignHCenter, lines[0] + '\n' + lines[1]);
    };
    const QRect whole = measure(1000);
    ASSERT_GT(measure(whole.width() - 2).height(), whole.height()) << "the text must wrap just inside its width";

    c.AddItem((lines[0] + "\r\n" + lines[1]).toStdString());
    c.PutItem(dispidItemXPos, 0, 100);
    c.PutItem(dispidItemYPos, 0, 100);
    c.PutItem(dispidItemWidth, 0, whole.width());
    c.PutItem(dispidItemHeight, 0, whole.height() + 6);
    Box b = Device(c, 0);
    // Ink width per row band of the item's inside.
    auto inkWidth = [](const QImage& img, int left, int right, int top, int bottom) {
        int lo = right, hi = left - 1;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (qGray(img.pixel(x, y)) < 128) lo = std::min(lo, x), hi = std::max(hi, x);
        return std::max(0, hi - lo + 1);
    };
    QImage img = Grab(c);
    const int mid = (b.t + b.b) / 2;
    EXPECT_NEAR(inkWidth(img, b.l + 1, b.r - 1, b.t + 1, mid), fm.boundingRect(lines[0]).width(), 3);
    EXPECT_NEAR(inkWidth(img, b.l + 1, b.r - 1, mid, b.b - 1), fm.boundingRect(lines[1]).width(), 3);

    // One line's height: the second line is cut, nothing lands outside the box.
    c.PutItem(dispidItemHeight, 0, fm.lineSpacing() + 4);
    b = Device(c, 0);
    img = Grab(c);
    EXPECT_GT(inkWidth(img, b.l + 1, b.r - 1, b.t + 1, b.b - 1), 0);
    EXPECT_EQ(inkWidth(img, b.l - 20, b.r + 20, b.b + 1, b.b + 2 * fm.lineSpacing()), 0) << "below the box";
    EXPECT_EQ(inkWidth(img, b.l - 20, b.r + 20, b.t - 2 * fm.lineSpacing(), b.t - 1), 0) << "above the box";
}
