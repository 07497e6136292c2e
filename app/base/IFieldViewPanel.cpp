#include "IFieldViewPanel.h"

#include "CDataDef.h"
#include "CProject.h"

namespace shell {

IFieldViewPanel::IFieldViewPanel(QWidget* parent) : UPanel(parent) {}
IFieldViewPanel::~IFieldViewPanel() = default;

}  // namespace shell
