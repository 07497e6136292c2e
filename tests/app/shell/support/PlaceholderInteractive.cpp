#include "PlaceholderInteractive.h"

#include "PlaceholderLook.h"

PlaceholderInteractive::PlaceholderInteractive(QWidget* parent) : base::IInteractivePanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Live Predictions"));
}

void PlaceholderInteractive::Initialize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>, std::shared_ptr<CTRX>) {
    Record(QStringLiteral("Initialize()"));
}

void PlaceholderInteractive::SetRow(const QVariant& key) {
    Record(QStringLiteral("SetRow(%1)").arg(key.isNull() ? QStringLiteral("Null") : key.toString()));
}
