#include "IClassViewPanel.h"

#include "CProject.h"

namespace shell {

IClassViewPanel::IClassViewPanel(QWidget* parent) : UPanel(parent) {}
IClassViewPanel::~IClassViewPanel() = default;

}  // namespace shell
