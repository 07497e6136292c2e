#include "UInteractive.h"

#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"

namespace shell {

UInteractive::UInteractive(QWidget* parent) : UPanel(parent) {}
UInteractive::~UInteractive() = default;

}  // namespace shell
