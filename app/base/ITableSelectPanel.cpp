#include "ITableSelectPanel.h"

namespace base {

ITableSelectPanel::ITableSelectPanel(QWidget* parent) : UPanel(parent) {}
ITableSelectPanel::~ITableSelectPanel() = default;

}  // namespace base
