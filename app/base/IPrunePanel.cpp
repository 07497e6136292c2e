#include "IPrunePanel.h"

namespace shell {

IPrunePanel::IPrunePanel(QWidget* parent) : UPanel(parent) {}
IPrunePanel::~IPrunePanel() = default;

}  // namespace shell
