#include "ITreeGraphPanel.h"

namespace shell {

ITreeGraphPanel::ITreeGraphPanel(QWidget* parent) : UPanel(parent) {}
ITreeGraphPanel::~ITreeGraphPanel() = default;

}  // namespace shell
