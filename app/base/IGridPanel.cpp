#include "IGridPanel.h"

namespace base {

IGridPanel::IGridPanel(QWidget* parent) : UPanel(parent) {}
IGridPanel::~IGridPanel() = default;

}  // namespace base
