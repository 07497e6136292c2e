#include "PlaceholderClassView.h"

#include "PlaceholderLook.h"

PlaceholderClassView::PlaceholderClassView(QWidget* parent) : base::IClassViewPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Class Details"));
}

void PlaceholderClassView::Initialize(std::shared_ptr<CProject>) {
    Record(QStringLiteral("Initialize()"));
}

void PlaceholderClassView::SetField(const QString& fieldName) {
    Record(QStringLiteral("SetField(%1)").arg(fieldName));
}

void PlaceholderClassView::Refresh() {
    Record(QStringLiteral("Refresh()"));
}
