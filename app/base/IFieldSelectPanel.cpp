#include "IFieldSelectPanel.h"

#include "CDataDef.h"

namespace shell {

IFieldSelectPanel::IFieldSelectPanel(QWidget* parent) : UPanel(parent) {}
IFieldSelectPanel::~IFieldSelectPanel() = default;

}  // namespace shell
