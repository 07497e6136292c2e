// The eleven panels of the main window, made by one factory: the program's
// own panels, or others in tests.
#pragma once

#include <functional>

class QWidget;

namespace shell {
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
}  // namespace shell

struct PanelSet {
    shell::ITableSelectPanel* tableSel = nullptr;
    shell::IFieldSelectPanel* fieldSel = nullptr;
    shell::ISetLimitsPanel* setLimits = nullptr;
    shell::IPrunePanel* prune = nullptr;
    shell::IReportPanel* report = nullptr;
    shell::IClassViewPanel* classView = nullptr;
    shell::IFieldViewPanel* fieldView = nullptr;
    shell::IMatrixPanel* matrix = nullptr;
    shell::ITreeGraphPanel* treeGraph = nullptr;
    shell::IGridPanel* grid = nullptr;
    shell::IInteractivePanel* interact = nullptr;

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
