// The eleven panels of the main window, made by one factory: the program's
// own panels, or others in tests.
#pragma once

#include <functional>

class QWidget;

namespace base {
class ITableSelectPanel;
class IFieldSelectPanel;
class ISetLimitsPanel;
class IPrunePanel;
class IReportPanel;
class IClassViewPanel;
class IFieldViewPanel;
class IMatrixPanel;
class ITreeGraphPanel;
class IGridPanel;
class IInteractivePanel;
}  // namespace base

struct PanelSet {
    base::ITableSelectPanel* tableSel = nullptr;
    base::IFieldSelectPanel* fieldSel = nullptr;
    base::ISetLimitsPanel* setLimits = nullptr;
    base::IPrunePanel* prune = nullptr;
    base::IReportPanel* report = nullptr;
    base::IClassViewPanel* classView = nullptr;
    base::IFieldViewPanel* fieldView = nullptr;
    base::IMatrixPanel* matrix = nullptr;
    base::ITreeGraphPanel* treeGraph = nullptr;
    base::IGridPanel* grid = nullptr;
    base::IInteractivePanel* interact = nullptr;

    // Makes the panels as children of parent. A panel that cannot be made
    // (the graph control missing) throws, and the main window is not made.
    using Factory = std::function<PanelSet(QWidget* parent)>;
    // The panels the program shows.
    static PanelSet Program(QWidget* parent);
    // The table, field and row-range panels and the two statistics views.
    static void MakePreparationPanels(PanelSet& p, QWidget* parent);
    // The result panels, the grid and the live-prediction panel; installs the
    // browse commands.
    static void MakeResultPanels(PanelSet& p, QWidget* parent);
};
