#include "ISetLimitsPanel.h"

namespace base {

ISetLimitsPanel::ISetLimitsPanel(QWidget* parent) : UPanel(parent) {}
ISetLimitsPanel::~ISetLimitsPanel() = default;

}  // namespace base
