#include "UReport.h"

namespace shell {

UReport::UReport(QWidget* parent) : UPanel(parent) {}
UReport::~UReport() = default;

}  // namespace shell
