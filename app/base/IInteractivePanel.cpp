#include "IInteractivePanel.h"

#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"

namespace base {

IInteractivePanel::IInteractivePanel(QWidget* parent) : UPanel(parent) {}
IInteractivePanel::~IInteractivePanel() = default;

}  // namespace base
