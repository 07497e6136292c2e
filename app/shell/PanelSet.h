// The eleven panels of the main window, made by one factory: the program's
// own panels, or others in tests.
#pragma once

#include <functional>

class QWidget;

namespace shell {
class UTableSelect;
class UFieldSelect;
class USetLimits;
class UPrune;
class UReport;
class UClassView;
class UFieldView;
class UMatrix;
class UTreeGraph;
class UGrid;
class UInteractive;
}  // namespace shell

struct PanelSet {
    shell::UTableSelect* tableSel = nullptr;
    shell::UFieldSelect* fieldSel = nullptr;
    shell::USetLimits* setLimits = nullptr;
    shell::UPrune* prune = nullptr;
    shell::UReport* report = nullptr;
    shell::UClassView* classView = nullptr;
    shell::UFieldView* fieldView = nullptr;
    shell::UMatrix* matrix = nullptr;
    shell::UTreeGraph* treeGraph = nullptr;
    shell::UGrid* grid = nullptr;
    shell::UInteractive* interact = nullptr;

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
