#include "UTableSelect.h"

namespace shell {

UTableSelect::UTableSelect(QWidget* parent) : UPanel(parent) {}
UTableSelect::~UTableSelect() = default;

}  // namespace shell
