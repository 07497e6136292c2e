#include "IFieldViewPanel.h"

#include "CDataDef.h"
#include "CProject.h"

namespace base {

IFieldViewPanel::IFieldViewPanel(QWidget* parent) : UPanel(parent) {}
IFieldViewPanel::~IFieldViewPanel() = default;

}  // namespace base
