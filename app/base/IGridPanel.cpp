#include "IGridPanel.h"

namespace shell {

IGridPanel::IGridPanel(QWidget* parent) : UPanel(parent) {}
IGridPanel::~IGridPanel() = default;

}  // namespace shell
