#include "PanelSet.h"

#include "../panels/UClassView.h"
#include "../panels/UFieldSelect.h"
#include "../panels/UFieldView.h"
#include "../panels/USetLimits.h"
#include "../panels/UTableSelect.h"

void PanelSet::MakePreparationPanels(PanelSet& p, QWidget* parent) {
    p.tableSel = new ::UTableSelect(parent);
    p.fieldSel = new ::UFieldSelect(parent);
    p.setLimits = new ::USetLimits(parent);
    p.classView = new ::UClassView(parent);
    p.fieldView = new ::UFieldView(parent);
}

PanelSet PanelSet::Program(QWidget* parent) {
    PanelSet p;
    MakePreparationPanels(p, parent);
    MakeResultPanels(p, parent);
    return p;
}
