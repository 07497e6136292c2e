#include "UFieldView.h"

#include "CDataDef.h"
#include "CProject.h"

namespace shell {

UFieldView::UFieldView(QWidget* parent) : UPanel(parent) {}
UFieldView::~UFieldView() = default;

}  // namespace shell
