// The tree-graph panel over the real graph control: switching between rule
// text and flow chart, zoom, the chart's extent, expand and collapse, and the
// node numbers it reports for mouse actions over either control.
#include "UTreeGraph.h"

#include "PanelTestSupport.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace paneltest;
using namespace nodars;

namespace {

class TreeGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel.resize(500, 400);
        QObject::connect(&panel, &base::ITreeGraphPanel::NodeOver, [this](int32_t n) { over.push_back(n); });
        QObject::connect(&panel, &base::ITreeGraphPanel::ItemClick, [this](int32_t n) { clicked.push_back(n); });
        QObject::connect(&panel, &base::ITreeGraphPanel::Show, [this] { events += "S"; });
        QObject::connect(&panel, &base::ITreeGraphPanel::Hide, [this] { events += "H"; });
        panel.show();
        events.clear();
    }

    int32_t Get(DISPID id, int index = -1) {
        com::Variant v;
        std::vector<VARIANT> args;
        if (index >= 0) args.push_back(com::Variant::I2(int16_t(index)));
        EXPECT_EQ(com::PropertyGet(panel.GraphControl(), id, &v, args), S_OK) << id;
        com::Variant c;
        VariantChangeType(&c, &v, 0, VT_I4);
        return c.lVal;
    }
    void Put(DISPID id, int32_t value, int index = -1) {
        std::vector<VARIANT> args;
        if (index >= 0) args.push_back(com::Variant::I2(int16_t(index)));
        EXPECT_EQ(com::PropertyPut(panel.GraphControl(), id, com::Variant::I2(int16_t(value)), args), S_OK) << id;
    }
    int AddItem(const std::string& name) {
        com::Variant v;
        EXPECT_EQ(com::Invoke(panel.GraphControl(), dispidAddItem, DISPATCH_METHOD, {com::Variant::Str(name)}, &v),
                  S_OK);
        return v.ToI2();
    }
    // Rule text as the tree driver fills it: keys "N" and the node number.
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, int node, const QString& text) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(panel.TreeView());
        item->setText(0, text);
        item->setData(0, UTreeGraph::kKeyRole, QString("N%1").arg(node));
        return item;
    }
    // Raises a graph-control event at the panel the way the control does.
    void Fire(DISPID id, int16_t itemIndex) {
        com::ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(panel.GraphControl()->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), S_OK);
        com::ComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(DIID__DNodars32Events, point.Put()), S_OK);
        com::ComPtr<IEnumConnections> connections;
        ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
        CONNECTDATA data{};
        ULONG fetched = 0;
        int calls = 0;
        while (connections->Next(1, &data, &fetched) == S_OK && fetched == 1) {
            com::ComPtr<IDispatch> sink;
            ASSERT_EQ(data.pUnk->QueryInterface(IID_IDispatch, sink.PutVoid()), S_OK);
            data.pUnk->Release();
            // ItemIx, ItemHandle, then button, shift, x, y: last argument first.
            std::vector<com::Variant> args = {com::Variant::I2(7), com::Variant::I2(3), com::Variant::I2(0),
                                              com::Variant::I2(1), com::Variant::I2(0), com::Variant::I2(itemIndex)};
            std::vector<VARIANTARG> raw(args.begin(), args.end());
            DISPPARAMS params{raw.data(), nullptr, UINT(raw.size()), 0};
            sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
            ++calls;
        }
        EXPECT_EQ(calls, 1);
    }

    WithApp app;
    UTreeGraph panel;
    std::vector<int32_t> over, clicked;
    std::string events;
};

}  // namespace

TEST_F(TreeGraphTest, TheControlStartsWithThePanelsSettings) {
    EXPECT_EQ(Get(dispidArrangeMode), 3);
    EXPECT_EQ(Get(dispidDrawBackLinks), 2);
    EXPECT_EQ(Get(dispidFillColor), 0xFFFFFF);
    EXPECT_EQ(Get(dispidStoreGraphics), 2);
    EXPECT_EQ(Get(dispidYSpan), 50);
    // Rule text first.
    EXPECT_EQ(panel.TreeType(), 0);
    EXPECT_EQ(panel.Tree(), panel.TreeView());
    EXPECT_TRUE(panel.TreeView()->isVisible());
    EXPECT_FALSE(panel.GraphWidget()->isVisible());
}

TEST_F(TreeGraphTest, SwitchingEmptiesTheControlThatGoesOutOfView) {
    AddNode(AddNode(nullptr, 0, "Start"), 1, "x > 1");
    panel.SetTreeType(0);
    EXPECT_EQ(events, "");
    EXPECT_EQ(panel.TreeView()->topLevelItemCount(), 1);

    panel.SetTreeType(1);
    EXPECT_EQ(events, "HS");
    EXPECT_EQ(panel.TreeType(), 1);
    EXPECT_EQ(panel.TreeView()->topLevelItemCount(), 0);
    EXPECT_EQ(panel.Tree(), panel.GraphWidget());
    EXPECT_TRUE(panel.GraphWidget()->isVisible());
    EXPECT_FALSE(panel.TreeView()->isVisible());

    AddItem("Start");
    AddItem("x > 1");
    EXPECT_EQ(Get(dispidListCount), 2);
    panel.SetTreeType(1);
    EXPECT_EQ(Get(dispidListCount), 2);
    panel.SetTreeType(0);
    EXPECT_EQ(events, "HSHS");
    EXPECT_EQ(Get(dispidListCount), 0);
    EXPECT_TRUE(panel.TreeView()->isVisible());

    // Showing and hiding the panel itself is reported too.
    events.clear();
    panel.hide();
    panel.show();
    EXPECT_EQ(events, "HS");
}

TEST_F(TreeGraphTest, ZoomIsTheDrawingScale) {
    panel.SetTreeType(1);
    for (int i = 0; i < 3; ++i) AddItem("n" + std::to_string(i));
    panel.SetZoom(150);
    EXPECT_EQ(Get(dispidDrawScale), 150);
    EXPECT_EQ(panel.Zoom(), 150);
    // 0 fits the whole chart into the control.
    panel.SetZoom(0);
    EXPECT_EQ(Get(dispidDrawScale), 0);
    EXPECT_EQ(panel.Zoom(), 0);
    Put(dispidDrawScale, 75);
    EXPECT_EQ(panel.Zoom(), 75);
}

TEST_F(TreeGraphTest, ExtremesOfTheChartsItems) {
    panel.SetTreeType(1);
    double lo = 0, hi = 0;
    // No items: the minimum keeps its start and the maximum is one item wide.
    EXPECT_EQ(panel.GetXExtremes(lo, hi), 120 - 10000000);
    EXPECT_EQ(lo, 10000000);
    EXPECT_EQ(hi, 120);

    const int a = AddItem("a"), b = AddItem("b"), c = AddItem("c");
    Put(dispidItemXPos, 400, a);
    Put(dispidItemXPos, 40, b);
    Put(dispidItemXPos, 200, c);
    Put(dispidItemYPos, 30, a);
    Put(dispidItemYPos, 300, b);
    Put(dispidItemYPos, 90, c);
    ASSERT_EQ(Get(dispidItemXPos, b), 40);
    EXPECT_EQ(panel.GetXExtremes(lo, hi), 480);
    EXPECT_EQ(lo, 40);
    EXPECT_EQ(hi, 520);
    EXPECT_EQ(panel.GetYExtremes(lo, hi), 320);
    EXPECT_EQ(lo, 30);
    EXPECT_EQ(hi, 350);
    // One item: the span is its width, never 0.
    panel.SetTreeType(0);
    panel.SetTreeType(1);
    Put(dispidItemXPos, 55, AddItem("only"));
    EXPECT_EQ(panel.GetXExtremes(lo, hi), 120);
}

TEST_F(TreeGraphTest, ExpandAndCollapseTheRuleText) {
    QTreeWidgetItem* root = AddNode(nullptr, 0, "Start");
    QTreeWidgetItem* left = AddNode(root, 1, "x <= 1");
    QTreeWidgetItem* leaf = AddNode(left, 3, "y <= 2");
    AddNode(leaf, 5, "z = a");
    QTreeWidgetItem* right = AddNode(root, 2, "x > 1");
    panel.Expand();
    for (QTreeWidgetItem* item : {root, left, leaf, right}) EXPECT_TRUE(item->isExpanded());
    panel.Collapse();
    EXPECT_TRUE(root->isExpanded());
    for (QTreeWidgetItem* item : {left, leaf, right}) EXPECT_FALSE(item->isExpanded());
    EXPECT_TRUE(panel.TreeView()->isVisible());

    // Mouse moves report the node under the pointer, every time.
    panel.Expand();
    const QRect r = panel.TreeView()->visualItemRect(leaf);
    QWidget& viewport = *panel.TreeView()->viewport();
    Move(viewport, r.center());
    Move(viewport, r.center());
    Move(viewport, QPoint(5, viewport.height() - 3));
    EXPECT_EQ(over, (std::vector<int32_t>{3, 3, -1}));
    // A double click acts on where the pointer last moved.
    DoubleClick(viewport, QPoint(5, viewport.height() - 3));
    EXPECT_TRUE(clicked.empty());
    const QRect deepest = panel.TreeView()->visualItemRect(leaf->child(0));
    Move(viewport, deepest.center());
    DoubleClick(viewport, deepest.center());
    EXPECT_EQ(clicked, std::vector<int32_t>{5});
    Screenshot(panel, "tree_graph_rule_text");

    // Flow chart: both do nothing.
    panel.SetTreeType(1);
    panel.SetTreeType(0);
    panel.Collapse();  // an empty view: nothing to collapse, and the view stays on show
    EXPECT_TRUE(panel.TreeView()->isVisible());
    root = AddNode(nullptr, 0, "Start");
    left = AddNode(root, 1, "x <= 1");
    panel.SetTreeType(1);
    panel.Expand();
    EXPECT_FALSE(panel.TreeView()->isVisible());
}

// Rule text deeper and longer than the panel is wide: once expanded, every
// line has room for all of its text, far below the first screen too, and the
// view scrolls sideways to the end of the longest; collapsed, the room shrinks.
TEST_F(TreeGraphTest, EveryRuleLineShowsWholeWithAScrollBarWhenWider) {
    QTreeWidget& view = *panel.TreeView();
    std::vector<QTreeWidgetItem*> lines;
    QTreeWidgetItem* root = AddNode(nullptr, 0, "Start");
    QTreeWidgetItem* parent = root;
    for (int depth = 1; depth <= 12; ++depth) {
        // Short siblings first, so the long lines lie below the first screen.
        for (int i = 0; i < 40; ++i) AddNode(parent, 1000 + depth * 100 + i, QString("k%1 = %2").arg(depth).arg(i));
        parent = AddNode(parent, depth, QString("FieldWithALongName%1 <= 12345.678  ->  class%1 (%2 items, 97.5%)")
                                           .arg(depth)
                                           .arg(depth * 11));
        lines.push_back(parent);
    }
    panel.Expand();
    QCoreApplication::processEvents();
    ASSERT_GT(view.header()->sectionSize(0), view.viewport()->width()) << "the lines are wider than the panel";
    const QFontMetrics metrics(view.font());
    for (QTreeWidgetItem* line : lines) {
        view.scrollToItem(line);
        const QRect room = view.visualItemRect(line);
        EXPECT_GE(room.width(), metrics.horizontalAdvance(line->text(0))) << line->text(0).toStdString();
    }
    QScrollBar* across = view.horizontalScrollBar();
    EXPECT_TRUE(across->isVisible());
    across->setValue(across->maximum());
    EXPECT_LE(view.visualItemRect(lines.back()).right(), view.viewport()->width() + 2) << "the end comes into view";
    Screenshot(panel, "tree_graph_long_rule_text");

    panel.Collapse();
    QCoreApplication::processEvents();
    EXPECT_LE(view.header()->sectionSize(0), view.viewport()->width()) << "only the short lines are open";
    QCoreApplication::processEvents();  // the bar goes at the next pass
    EXPECT_FALSE(across->isVisible());

    // Opened line by line, as the tree driver shows a node: measured once they are open.
    for (QTreeWidgetItem* line : lines) line->setExpanded(true);
    QCoreApplication::processEvents();
    view.scrollToItem(lines.back());
    EXPECT_GE(view.visualItemRect(lines.back()).width(), metrics.horizontalAdvance(lines.back()->text(0)));
}

TEST_F(TreeGraphTest, ChartEventsBecomeNodeNumbers) {
    panel.SetTreeType(1);
    for (int i = 0; i < 5; ++i) AddItem("n" + std::to_string(i));
    Fire(eventItemMouseMove, 3);
    Fire(eventItemDblClick, 4);
    Fire(eventItemClick, 2);  // a single click does nothing
    EXPECT_EQ(over, std::vector<int32_t>{3});
    EXPECT_EQ(clicked, std::vector<int32_t>{4});
}

TEST_F(TreeGraphTest, ASelectionRectangleZoomsTheChart) {
    panel.SetTreeType(1);
    for (int i = 0; i < 4; ++i) AddItem("n" + std::to_string(i));
    Put(dispidSelectRectLeft, 0);
    Put(dispidSelectRectTop, 0);
    Put(dispidSelectRectWidth, 100);
    Put(dispidSelectRectHeight, 80);
    ASSERT_EQ(Get(dispidSelectRectWidth), 100);
    Fire(eventSelectRect, 0);
    EXPECT_NE(panel.Zoom(), 100);
    EXPECT_GT(panel.Zoom(), 0);
}

TEST(TreeGraphKeys, NodeNumberFromKey) {
    EXPECT_EQ(UTreeGraph::NodeOfKey("N0"), 0);
    EXPECT_EQ(UTreeGraph::NodeOfKey("N17"), 17);
}
