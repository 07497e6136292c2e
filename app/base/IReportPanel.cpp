#include "IReportPanel.h"

namespace shell {

IReportPanel::IReportPanel(QWidget* parent) : UPanel(parent) {}
IReportPanel::~IReportPanel() = default;

}  // namespace shell
