#include "IPrunePanel.h"

namespace base {

IPrunePanel::IPrunePanel(QWidget* parent) : UPanel(parent) {}
IPrunePanel::~IPrunePanel() = default;

}  // namespace base
