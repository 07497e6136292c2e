#include "UGrid.h"

namespace shell {

UGrid::UGrid(QWidget* parent) : UPanel(parent) {}
UGrid::~UGrid() = default;

}  // namespace shell
