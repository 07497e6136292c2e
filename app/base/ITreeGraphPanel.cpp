#include "ITreeGraphPanel.h"

namespace base {

ITreeGraphPanel::ITreeGraphPanel(QWidget* parent) : UPanel(parent) {}
ITreeGraphPanel::~ITreeGraphPanel() = default;

}  // namespace base
