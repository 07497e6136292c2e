#include "IFieldSelectPanel.h"

#include "CDataDef.h"

namespace base {

IFieldSelectPanel::IFieldSelectPanel(QWidget* parent) : UPanel(parent) {}
IFieldSelectPanel::~IFieldSelectPanel() = default;

}  // namespace base
