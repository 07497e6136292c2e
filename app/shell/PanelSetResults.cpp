// The program's result panels, grid and live-prediction panel.
#include "PanelSet.h"

#include "CBrowseCommands.h"
#include "../browse/UGrid.h"
#include "../panels/UInteractive.h"
#include "../panels/results/UMatrix.h"
#include "../panels/results/UPrune.h"
#include "../panels/results/UReport.h"
#include "../panels/results/UTreeGraph.h"

void PanelSet::MakeResultPanels(PanelSet& p, QWidget* parent) {
    p.prune = new ::UPrune(parent);
    p.report = new ::UReport(parent);
    p.matrix = new ::UMatrix(parent);
    p.grid = new ::UGrid(parent);
    p.interact = new ::UInteractive(parent);
    // Without its graph control this throws: the window cannot be made.
    p.treeGraph = new ::UTreeGraph(parent);
    CBrowseCommands::Install();
}
