#include "UPrune.h"

namespace shell {

UPrune::UPrune(QWidget* parent) : UPanel(parent) {}
UPrune::~UPrune() = default;

}  // namespace shell
