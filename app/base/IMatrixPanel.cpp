#include "IMatrixPanel.h"

#include "CDataDef.h"
#include "CProject.h"

namespace base {

IMatrixPanel::IMatrixPanel(QWidget* parent) : UPanel(parent) {}
IMatrixPanel::~IMatrixPanel() = default;

}  // namespace base
