#include "PlaceholderFieldView.h"

#include "PlaceholderLook.h"

PlaceholderFieldView::PlaceholderFieldView(QWidget* parent) : base::IFieldViewPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Field Statistics"));
}

void PlaceholderFieldView::SelectField(const QString& fieldName) {
    Record(QStringLiteral("SelectField(%1)").arg(fieldName));
}

void PlaceholderFieldView::Initialize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>) {
    Record(QStringLiteral("Initialize()"));
}

void PlaceholderFieldView::AltInitialize(const QString& databaseName, const QString& tableName) {
    Record(QStringLiteral("AltInitialize(%1,%2)").arg(databaseName, tableName));
}
