// The tree shown as rule text and as a flow chart, built through the real
// engine on small generated projects, and its colours and tooltips.
#include <gtest/gtest.h>

#include <set>

#include "CTreeDisplay.h"
#include "CTreeError.h"
#include "DisplayFixture.h"

using namespace treetest;

namespace {

const char* const kPruned0[] = {
    "Start",
    "  Colour = green",
    "    Size <= 5   [Kind = lime]  (75% Confidence)",
    "    Size > 5",
    "      Size <= 7   [Kind = melon]  (99% Confidence)",
    "      Size > 7",
    "        Size <= 8   [Kind = lime]  (99% Confidence)",
    "        Size > 8   [Kind = melon]  (99% Confidence)",
    "  Colour = red   [Kind = apple]  (99% Confidence)",
};

std::vector<std::string> Messages(const GeneratedProject& p) {
    std::vector<std::string> out;
    for (const auto& m : p.dialogs.Messages()) out.push_back((m.title + " | " + m.text).toStdString());
    return out;
}

}  // namespace

TEST(TreeDisplay, RuleTextAtPruneRatesZeroAndSeventyFive) {
    App();
    GeneratedProject p("display", FruitColumns(), FruitRows(), false);
    Panel panel;
    panel.type = 0;
    auto trx = Built(p, 0, 52);
    trx->Display(panel);
    EXPECT_EQ(panel.Lines(), std::vector<std::string>(std::begin(kPruned0), std::end(kPruned0)));
    EXPECT_TRUE(panel.tree->isVisibleTo(&panel.host));
    EXPECT_TRUE(panel.tree->ItemOf("N0")->isExpanded());
    EXPECT_EQ(CRuleTreeWidget::KeyOf(panel.tree->currentItem()), "N0");
    // Keys are node numbers: the leaf "Size <= 5" is the node under the test on Size.
    for (int32_t n = 0; n < trx->Nodes(); ++n) ASSERT_NE(panel.tree->ItemOf("N" + std::to_string(n)), nullptr) << n;

    // Harder pruning folds the melon and lime exceptions into one leaf each.
    trx = Built(p, 75, 52);
    trx->Display(panel);
    EXPECT_EQ(panel.Lines(), (std::vector<std::string>{
                                 "Start",
                                 "  Colour = green",
                                 "    Size <= 5   [Kind = lime]  (39% Confidence)",
                                 "    Size > 5   [Kind = melon]  (45% Confidence)",
                                 "  Colour = red   [Kind = apple]  (76% Confidence)",
                             }));
    EXPECT_TRUE(Messages(p).empty());
}

TEST(TreeDisplay, FlowChartItemsAreNodesWithLeafClassesOnASecondLine) {
    App();
    GeneratedProject p("display", FruitColumns(), FruitRows(), false);
    Panel panel;
    for (float rate : {0.0f, 75.0f}) {
        auto trx = Built(p, rate, 52);
        trx->Display(panel);
        ASSERT_EQ(panel.Int(nodars::dispidListCount), trx->Nodes());
        EXPECT_EQ(panel.Item(0), "Start");
        EXPECT_EQ(panel.Item(1), "Colour = green");
        EXPECT_EQ(panel.Item(2), "Size <= 5\r\n[Kind = lime]") << "no confidence on the chart";
        EXPECT_EQ(panel.Item(trx->Nodes() - 1), "Colour = red\r\n[Kind = apple]");
        // One connection per edge, from parent item to child item, laid out and fitted.
        for (int32_t n = 0; n < trx->Nodes(); ++n)
            for (int b = 0; b < trx->Tree().Node(n).Forks; ++b) {
                com::ComPtr<nodars::IGraphGeometry> geo;
                panel.graph.As(nodars::IID_IGraphGeometry, &geo);
                int count = 0;
                int32_t xy[12];
                EXPECT_EQ(geo->GetRoute(n, trx->Tree().Child(n, b), &count, xy), S_OK);
                EXPECT_EQ(count, 4) << "flow-chart route";
            }
        EXPECT_EQ(panel.Int(nodars::dispidDrawScale), 0);
        EXPECT_EQ(panel.Int(nodars::dispidAutoArrange), 0) << "arranged once, then manual";
        EXPECT_TRUE(panel.graphVisible);
        // Children lie below their parent (top to bottom).
        EXPECT_GT(panel.Int(nodars::dispidItemYPos, 1), panel.Int(nodars::dispidItemYPos, 0));
    }
    EXPECT_TRUE(Messages(p).empty());
}

TEST(TreeDisplay, OneNodeTreeShowsTheClassOnTheStartLine) {
    App();
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 10; ++i) rows.push_back({Cell::D(i), Cell::T(i % 2 ? "red" : "green"), Cell::T("apple")});
    GeneratedProject p("display1", FruitColumns(), rows, false);
    auto trx = Built(p, 0, 10);
    ASSERT_EQ(trx->Nodes(), 1);
    Panel panel;
    trx->Display(panel);
    ASSERT_EQ(panel.Int(nodars::dispidListCount), 1);
    EXPECT_EQ(panel.Item(0), "Start\r\n   [Kind = apple]");
    panel.type = 0;
    trx->Display(panel);
    EXPECT_EQ(panel.Lines(), std::vector<std::string>{"Start   [Kind = apple]"});
}

TEST(TreeDisplay, UnnamedValuesDatesAndBrokenFields) {
    App();
    const std::vector<Column> cols = {{"Picked", "DATETIME", MatchType::Numeric},
                                      {"Colour", "TEXT", MatchType::Text},
                                      {"Kind", "TEXT", MatchType::Output}};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 12; ++i)
        rows.push_back({Cell::D(45290 + i), Cell::T(i % 2 ? "red" : "green"), Cell::T(i < 6 ? "apple" : "lime")});
    GeneratedProject p("display-date", cols, rows, false);
    // Root and a date threshold on Picked.
    auto trx = Holding(p,
                       {TRXNode{-1, 2, -1, 0, 0, 0, 12, 6}, TRXNode{2, 0, 0, 45296.5f, 1, 0, 6, 0},
                        TRXNode{2, 0, 0, 45296.5f, 2, 1, 6, 0}},
                       2, {1, 2, 0, 0, 0, 0}, 12);
    Panel panel;
    panel.type = 0;
    trx->Display(panel);
    EXPECT_EQ(panel.Lines(), (std::vector<std::string>{
                                 "Start",
                                 "  Picked <= 01/05/2024 12:00:00   [Kind = apple]  (99% Confidence)",
                                 "  Picked > 01/05/2024 12:00:00   [Kind = lime]  (99% Confidence)",
                             }));
    EXPECT_TRUE(Messages(p).empty());

    // Stored trees that test a field the engine never had, or a Colour value
    // the table does not have, are refused when loaded: nothing to display.
    const std::vector<std::vector<TRXNode>> damaged = {
        {TRXNode{-1, 1, -1, 0, 0, 0, 12, 6}, TRXNode{2, 0, 7, 1.5f, 1, 0, 12, 6}},
        {TRXNode{-1, 1, -1, 0, 0, 0, 12, 6}, TRXNode{1, 0, 1, 0, 3, 1, 12, 0}},
    };
    for (const auto& nodes : damaged) {
        CTreeModel model;
        model.Assign(nodes, 1, {1, 0});
        p.SetNodeDataBytes(CTreeBlob::Pack(model));
        CTRX fresh;
        ASSERT_TRUE(fresh.Initialize(p.dataDef, &p.project));
        EXPECT_THROW(fresh.LoadTree(&p.project), CTreeError);
        EXPECT_FALSE(fresh.HasTree());
    }
}

TEST(TreeDisplay, ColoursByQuantityConfidenceAndClass) {
    App();
    GeneratedProject p("display-colour", FruitColumns(), FruitRows(), false);
    auto trx = Built(p, 75, 52);
    Panel panel;
    trx->Display(panel);
    const int red = trx->Nodes() - 1;  // "Colour = red", 20 of 52 items, all apples

    // Quantity at contrast 50: the root is pure blue; 20/52 gives sqrt(0.385) = 0.62 of the colour.
    trx->SetContrast(panel, 0, 50);
    EXPECT_NE(panel.Int(nodars::dispidDrawColored), 0);
    EXPECT_EQ(panel.Fill(0), 0xFF0000u);
    EXPECT_EQ(panel.TextColour(0), 0xFFFFFFu);
    EXPECT_EQ(panel.Fill(red), 0xFF6161u);  // 255 - Int(0.6202 * 255) = 97
    EXPECT_EQ(panel.TextColour(red), 0xFFFFFFu);

    // Confidence at contrast 0: every node with items gets the full red and white text.
    trx->SetContrast(panel, 1, 0);
    for (int n = 0; n < trx->Nodes(); ++n) {
        EXPECT_EQ(panel.Fill(n), 0x0000FFu) << n;
        EXPECT_EQ(panel.TextColour(n), 0xFFFFFFu) << n;
    }
    // Class: the table colours, black text.
    trx->SetContrast(panel, 2, 100);
    EXPECT_NE(panel.Int(nodars::dispidDrawColored), 0) << "class colours ignore the full contrast";
    EXPECT_EQ(panel.Fill(red), 0xC0C0FFu) << "apple, class 0, light red";
    EXPECT_EQ(panel.Fill(2), 0xC0FFC0u) << "lime, class 1, light green";
    EXPECT_EQ(panel.Fill(3), 0xFFC0C0u) << "melon, class 2, light blue";
    EXPECT_EQ(panel.TextColour(red), 0u);
    // Contrast 100 in the scales: uncoloured.
    trx->SetContrast(panel, 0, 100);
    EXPECT_EQ(panel.Int(nodars::dispidDrawColored), 0);
    trx->SetContrast(panel, 1, 100);
    EXPECT_EQ(panel.Int(nodars::dispidDrawColored), 0);
    // The rule tree shows no colours: nothing is set.
    trx->SetContrast(panel, 2, 50);
    panel.type = 0;
    trx->SetContrast(panel, 0, 50);
    EXPECT_NE(panel.Int(nodars::dispidDrawColored), 0);
    EXPECT_EQ(panel.Fill(0), 0xC0C0FFu);
}

TEST(TreeDisplay, ClassesBeyondTheTableKeepLightColours) {
    std::set<uint32_t> seen;
    for (int k = 7; k < 40; ++k) {
        const uint32_t c = CTreeDisplay::ExtraClassColor(k);
        seen.insert(c);
        for (int shift : {0, 8, 16}) {
            const uint32_t v = (c >> shift) & 0xFF;
            EXPECT_GE(v, 186u);
            EXPECT_LE(v, 255u);
        }
    }
    EXPECT_GE(seen.size(), 30u) << "classes side by side are told apart";
    EXPECT_EQ(CTreeDisplay::ExtraClassColor(7), CTreeDisplay::ExtraClassColor(507)) << "seed (k + 1) mod 500";
}

TEST(TreeDisplay, DegenerateCountsColourWithoutNaN) {
    App();
    GeneratedProject p("display-degenerate", FruitColumns(), FruitRows(), false);
    // A root without items; a node with more errors than items (by rounding, as
    // a stored tree may have them); a node without items.
    auto trx = Holding(p,
                       {TRXNode{-1, 2, -1, 0, 0, 0, 0, 0}, TRXNode{1, 0, 1, 0, 1, 1, 4, 4.00003f},
                        TRXNode{1, 0, 1, 0, 2, 0, 0, 0}},
                       2, {1, 2, 0, 0, 0, 0}, 52);
    CTreeDisplay d(trx->CurrentTree(), trx->Fields());
    uint32_t fill = 1, text = 1;
    ASSERT_TRUE(d.NodeColors(1, 0, 0.5f, &fill, &text));
    EXPECT_EQ(fill, 0xFFFFFFu) << "no root items: no shade";
    EXPECT_EQ(text, 0u);
    ASSERT_TRUE(d.NodeColors(1, 1, 0.5f, &fill, &text));
    EXPECT_EQ(fill, 0xFFFFFFu) << "more errors than items: no confidence";
    ASSERT_TRUE(d.NodeColors(2, 1, 0.0f, &fill, &text));
    EXPECT_EQ(fill, 0xFFFFFFu) << "no items: white";
    EXPECT_EQ(text, 0u) << "and black text";
    EXPECT_FALSE(d.NodeColors(1, 3, 0.5f, &fill, &text)) << "no such mode";
}

TEST(TreeDisplay, ToolTipsPerMode) {
    App();
    GeneratedProject p("display-tips", FruitColumns(), FruitRows(), false);
    auto trx = Built(p, 0, 52);
    EXPECT_EQ(trx->NodeToolTip(0, 0), "52 Cases");
    EXPECT_EQ(trx->NodeToolTip(2, 1), "75% Confidence)");
    EXPECT_EQ(trx->NodeToolTip(2, 2), "lime  (75% Confidence)");
    EXPECT_EQ(trx->NodeToolTip(0, 2), "apple  Tendency");
    EXPECT_EQ(trx->NodeToolTip(0, 5), "");
    EXPECT_EQ(trx->NodeToolTip(-1, 0), "") << "the panel passes -1 over empty space";
    EXPECT_EQ(trx->NodeToolTip(trx->Nodes(), 0), "");
    EXPECT_EQ(trx->GetClassName(2), "lime");
    EXPECT_EQ(trx->GetClassName(-1), "");
}

TEST(TreeDisplay, BuildFillsTheViewItIsGiven) {
    App();
    GeneratedProject p("display-build", FruitColumns(), FruitRows(), false);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx.LoadData(1, 52));
    trx.SetPruneRate(0);
    trx.SetMinItems(2);
    Panel panel;
    // Given both, the rule tree is filled and the chart is left alone.
    ASSERT_TRUE(trx.BuildTree(panel.tree, &panel));
    EXPECT_EQ(panel.Lines(), std::vector<std::string>(std::begin(kPruned0), std::end(kPruned0)));
    EXPECT_EQ(panel.Int(nodars::dispidListCount), 0);
    ASSERT_TRUE(trx.BuildTree(nullptr, &panel));
    EXPECT_EQ(panel.Int(nodars::dispidListCount), 9);
}

TEST(TreeDisplay, FlowChartUpTo128Leaves) {
    EXPECT_FALSE(CTreeDisplay::FlowChartFits(0));
    EXPECT_TRUE(CTreeDisplay::FlowChartFits(1));
    EXPECT_TRUE(CTreeDisplay::FlowChartFits(128));
    EXPECT_FALSE(CTreeDisplay::FlowChartFits(129));
}
