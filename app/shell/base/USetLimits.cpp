#include "USetLimits.h"

namespace shell {

USetLimits::USetLimits(QWidget* parent) : UPanel(parent) {}
USetLimits::~USetLimits() = default;

}  // namespace shell
