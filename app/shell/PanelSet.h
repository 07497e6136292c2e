// The eleven panels of the main window, made by one factory: the program's
// own panels, or recording stand-ins in tests.
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

    // Makes the panels as children of parent.
    using Factory = std::function<PanelSet(QWidget* parent)>;
    // The panels the program shows.
    static PanelSet Program(QWidget* parent);
    // Stand-ins that show their caption and record the calls they get.
    static PanelSet Placeholders(QWidget* parent);
    // Puts the real table, field and row-range panels and the two statistics
    // views in place of the ones in p.
    static void UsePreparationPanels(PanelSet& p, QWidget* parent);
    // Puts the program's result panels, grid and live-prediction panel in
    // place of the stand-ins in p, and installs the browse commands.
    static void UseResultPanels(PanelSet& p, QWidget* parent);

private:
    // A real panel in the slot of a stand-in, which goes.
    template <class Base>
    static void Replace(Base*& slot, Base* panel) {
        delete slot;
        slot = panel;
    }
};
