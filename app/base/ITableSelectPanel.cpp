#include "ITableSelectPanel.h"

namespace shell {

ITableSelectPanel::ITableSelectPanel(QWidget* parent) : UPanel(parent) {}
ITableSelectPanel::~ITableSelectPanel() = default;

}  // namespace shell
