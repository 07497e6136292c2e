#include "IMatrixPanel.h"

#include "CDataDef.h"
#include "CProject.h"

namespace shell {

IMatrixPanel::IMatrixPanel(QWidget* parent) : UPanel(parent) {}
IMatrixPanel::~IMatrixPanel() = default;

}  // namespace shell
