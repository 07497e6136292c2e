#include "UPanel.h"

namespace shell {

UPanel::UPanel(QWidget* parent) : QWidget(parent) {}
UPanel::~UPanel() = default;

}  // namespace shell
