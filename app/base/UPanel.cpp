#include "UPanel.h"

namespace base {

UPanel::UPanel(QWidget* parent) : QWidget(parent) {}
UPanel::~UPanel() = default;

}  // namespace base
