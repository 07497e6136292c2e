// The tree driver filling the tree-graph panel: rule text in its tree view,
// the flow chart on its graph control, and node numbers read back from both.
#include "UTreeGraph.h"

#include "DisplayFixture.h"
#include "PanelTestSupport.h"

#include <gtest/gtest.h>

TEST(UTreeGraphDisplay, DriverFillsBothViewsOfThePanel) {
    paneltest::App();
    treetest::GeneratedProject p("panel-display", treetest::FruitColumns(), treetest::FruitRows(), false);
    auto trx = treetest::Built(p, 75, 52);
    UTreeGraph panel;
    panel.resize(600, 400);
    panel.show();

    panel.SetTreeType(0);
    trx->Display(*panel.DisplayTarget());
    QTreeWidget* view = panel.TreeView();
    ASSERT_EQ(view->topLevelItemCount(), 1);
    QTreeWidgetItem* start = view->topLevelItem(0);
    EXPECT_EQ(start->text(0), "Start");
    EXPECT_EQ(UTreeGraph::NodeOfKey(start->data(0, UTreeGraph::kKeyRole).toString()), 0);
    int shown = 0;
    for (QTreeWidgetItemIterator it(view); *it; ++it) ++shown;
    EXPECT_EQ(shown, trx->Nodes());
    EXPECT_EQ(panel.Tree(), view);

    // The flow chart: one item per node, spread over the chart.
    panel.SetTreeType(1);
    trx->Display(*panel.DisplayTarget());
    EXPECT_EQ(panel.Tree(), panel.GraphWidget());
    double lo = 0, hi = 0;
    EXPECT_GT(panel.GetXExtremes(lo, hi), 0);
    EXPECT_LT(lo, hi);
    EXPECT_TRUE(p.dialogs.calls.empty());
}
