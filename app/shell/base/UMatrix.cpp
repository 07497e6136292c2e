#include "UMatrix.h"

#include "CDataDef.h"
#include "CProject.h"

namespace shell {

UMatrix::UMatrix(QWidget* parent) : UPanel(parent) {}
UMatrix::~UMatrix() = default;

}  // namespace shell
