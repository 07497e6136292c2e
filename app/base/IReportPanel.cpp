#include "IReportPanel.h"

namespace base {

IReportPanel::IReportPanel(QWidget* parent) : UPanel(parent) {}
IReportPanel::~IReportPanel() = default;

}  // namespace base
