// The program's result panels, grid and live-prediction panel in place of
// their stand-ins.
#include "PanelSet.h"

#include "CBrowseCommands.h"
#include "MSwallow.h"
#include "../browse/UGrid.h"
#include "../panels/UInteractive.h"
#include "../panels/results/UMatrix.h"
#include "../panels/results/UPrune.h"
#include "../panels/results/UReport.h"
#include "../panels/results/UTreeGraph.h"

void PanelSet::UseResultPanels(PanelSet& p, QWidget* parent) {
    Replace<shell::UPrune>(p.prune, new ::UPrune(parent));
    Replace<shell::UReport>(p.report, new ::UReport(parent));
    Replace<shell::UMatrix>(p.matrix, new ::UMatrix(parent));
    Replace<shell::UGrid>(p.grid, new ::UGrid(parent));
    Replace<shell::UInteractive>(p.interact, new ::UInteractive(parent));
    // Without its graph control the panel cannot be made; the stand-in stays.
    try {
        Replace<shell::UTreeGraph>(p.treeGraph, new ::UTreeGraph(parent));
    } catch (...) {
        app::SwallowCurrent("PanelSet::UseResultPanels");
    }
    CBrowseCommands::Install();
}
