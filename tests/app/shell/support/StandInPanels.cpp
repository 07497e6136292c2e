#include "StandInPanels.h"

#include "PlaceholderClassView.h"
#include "PlaceholderFieldSelect.h"
#include "PlaceholderFieldView.h"
#include "PlaceholderGrid.h"
#include "PlaceholderInteractive.h"
#include "PlaceholderMatrix.h"
#include "PlaceholderPrune.h"
#include "PlaceholderReport.h"
#include "PlaceholderSetLimits.h"
#include "PlaceholderTableSelect.h"
#include "PlaceholderTreeGraph.h"

namespace StandInPanels {

void Fill(PanelSet& p, QWidget* parent) {
    if (!p.tableSel) p.tableSel = new PlaceholderTableSelect(parent);
    if (!p.fieldSel) p.fieldSel = new PlaceholderFieldSelect(parent);
    if (!p.setLimits) p.setLimits = new PlaceholderSetLimits(parent);
    if (!p.prune) p.prune = new PlaceholderPrune(parent);
    if (!p.report) p.report = new PlaceholderReport(parent);
    if (!p.classView) p.classView = new PlaceholderClassView(parent);
    if (!p.fieldView) p.fieldView = new PlaceholderFieldView(parent);
    if (!p.matrix) p.matrix = new PlaceholderMatrix(parent);
    if (!p.treeGraph) p.treeGraph = new PlaceholderTreeGraph(parent);
    if (!p.grid) p.grid = new PlaceholderGrid(parent);
    if (!p.interact) p.interact = new PlaceholderInteractive(parent);
}

PanelSet Make(QWidget* parent) {
    PanelSet p;
    Fill(p, parent);
    return p;
}

}  // namespace StandInPanels
