#include "UFieldSelect.h"

#include "CDataDef.h"

namespace shell {

UFieldSelect::UFieldSelect(QWidget* parent) : UPanel(parent) {}
UFieldSelect::~UFieldSelect() = default;

}  // namespace shell
