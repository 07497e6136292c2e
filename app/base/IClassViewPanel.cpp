#include "IClassViewPanel.h"

#include "CProject.h"

namespace base {

IClassViewPanel::IClassViewPanel(QWidget* parent) : UPanel(parent) {}
IClassViewPanel::~IClassViewPanel() = default;

}  // namespace base
