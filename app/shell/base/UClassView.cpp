#include "UClassView.h"

#include "CProject.h"

namespace shell {

UClassView::UClassView(QWidget* parent) : UPanel(parent) {}
UClassView::~UClassView() = default;

}  // namespace shell
