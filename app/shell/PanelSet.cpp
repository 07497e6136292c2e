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

#include "../panels/UClassView.h"
#include "../panels/UFieldSelect.h"
#include "../panels/UFieldView.h"
#include "../panels/USetLimits.h"
#include "../panels/UTableSelect.h"

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

void PanelSet::UsePreparationPanels(PanelSet& p, QWidget* parent) {
    Replace<shell::UTableSelect>(p.tableSel, new ::UTableSelect(parent));
    Replace<shell::UFieldSelect>(p.fieldSel, new ::UFieldSelect(parent));
    Replace<shell::USetLimits>(p.setLimits, new ::USetLimits(parent));
    Replace<shell::UClassView>(p.classView, new ::UClassView(parent));
    Replace<shell::UFieldView>(p.fieldView, new ::UFieldView(parent));
}

// The real panels replace the stand-ins here as they are built.
PanelSet PanelSet::Program(QWidget* parent) {
    PanelSet p = Placeholders(parent);
    UsePreparationPanels(p, parent);
    UseResultPanels(p, parent);
    return p;
}
