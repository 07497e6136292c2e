// The shell's tests run the main window over stand-in panels that record the
// calls they get, alone or beside some of the program's own panels.
#pragma once

#include "PanelSet.h"

class QWidget;

namespace StandInPanels {

// Puts a stand-in, made as a child of parent, into every empty slot of p.
void Fill(PanelSet& p, QWidget* parent);
// All eleven panels as stand-ins.
PanelSet Make(QWidget* parent);

}  // namespace StandInPanels
