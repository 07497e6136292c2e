#include "ISetLimitsPanel.h"

namespace shell {

ISetLimitsPanel::ISetLimitsPanel(QWidget* parent) : UPanel(parent) {}
ISetLimitsPanel::~ISetLimitsPanel() = default;

}  // namespace shell
