// What the tree driver needs of the tree-graph panel: which view it shows now,
// the rule-tree view, and the graph-layout control, which is driven by member
// id only.
#pragma once

#include <cstdint>

#include "com/oleauto.h"

class ITreeView;

class ITreeDisplayTarget {
public:
    virtual ~ITreeDisplayTarget() = default;
    // 1: the flow chart is shown; 0: the rule tree.
    virtual int16_t TreeType() const = 0;
    virtual ITreeView* TreeView() = 0;
    virtual IDispatch* GraphControl() = 0;
    // The host's Visible of the graph-layout control.
    virtual void SetGraphVisible(bool visible) = 0;
};
