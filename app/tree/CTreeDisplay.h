// Shows a rule tree: as indented rule text in a tree view (one line
// per node, the leaves with their class and confidence) or as a flow chart on
// the graph-layout control (one item per node, item index = node number), and
// colours the flow chart by quantity, confidence or class.
#pragma once

#include <cstdint>
#include <string>

#include "CTreeFields.h"

class CTreeModel;
class ITreeDisplayTarget;
class ITreeView;
struct IDispatch;

class CTreeDisplay {
public:
    // The flow chart is offered for trees of 1 to 128 leaves; larger ones show
    // as rule text only.
    static constexpr int16_t kMaxFlowChartLeaves = 128;
    static bool FlowChartFits(int16_t leaves) { return leaves >= 1 && leaves <= kMaxFlowChartLeaves; }

    // Seven colours for classes 0 to 6 (0x00BBGGRR): light red, green, blue ...
    static constexpr uint32_t kClassColors[7] = {0xC0C0FF, 0xC0FFC0, 0xFFC0C0, 0xC0FFFF, 0xFFC0FF, 0xFFFFC0, 0xC0E0FF};

    // tree: null when there is none, which every member answers with nothing.
    CTreeDisplay(const CTreeModel* tree, CTreeFields fields) : mTree(tree), mFields(fields) {}

    // The view the panel shows now.
    void Display(ITreeDisplayTarget& panel) const;
    // Both trap their failures: the standard error box, titled
    // "CTRX::DisplayTree()" or "CTRX::DisplayGraph"; false then.
    bool DisplayTree(ITreeView& view) const;
    bool DisplayGraph(ITreeDisplayTarget& panel) const;
    // Colour mode 0 quantity, 1 confidence, 2 class; contrast 0..100 (the
    // exponent is contrast / 100). Failures are ignored node by node.
    void SetContrast(ITreeDisplayTarget& panel, int16_t colorMode, int16_t contrast) const;
    // Fill and text colour (0x00BBGGRR) of a node; false when the mode makes none
    // or there is no tree.
    bool NodeColors(int32_t node, int16_t colorMode, float exponent, uint32_t* fill, uint32_t* text) const;
    // Class name of the output field for the node's class; "" outside the tree.
    std::string GetClassName(int32_t node) const;
    // "12 Cases", "87% Confidence)", "setosa  (99% Confidence)", "virginica  Tendency".
    std::string NodeToolTip(int32_t node, int16_t colorMode) const;
    // Colour of a class beyond the seventh: light, and the same on every call.
    static uint32_t ExtraClassColor(int32_t classIndex);

private:
    const CTreeModel* mTree;
    CTreeFields mFields;
};
