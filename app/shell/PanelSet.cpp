#include "PanelSet.h"

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

PanelSet PanelSet::Placeholders(QWidget* parent) {
    PanelSet p;
    p.tableSel = new PlaceholderTableSelect(parent);
    p.fieldSel = new PlaceholderFieldSelect(parent);
    p.setLimits = new PlaceholderSetLimits(parent);
    p.prune = new PlaceholderPrune(parent);
    p.report = new PlaceholderReport(parent);
    p.classView = new PlaceholderClassView(parent);
    p.fieldView = new PlaceholderFieldView(parent);
    p.matrix = new PlaceholderMatrix(parent);
    p.treeGraph = new PlaceholderTreeGraph(parent);
    p.grid = new PlaceholderGrid(parent);
    p.interact = new PlaceholderInteractive(parent);
    return p;
}

// The real panels replace the stand-ins here as they are built.
PanelSet PanelSet::Program(QWidget* parent) {
    PanelSet p = Placeholders(parent);
    UseResultPanels(p, parent);
    return p;
}
