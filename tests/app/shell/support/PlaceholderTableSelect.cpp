#include "PlaceholderTableSelect.h"

#include "PlaceholderLook.h"

PlaceholderTableSelect::PlaceholderTableSelect(QWidget* parent) : base::ITableSelectPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Table Selection"));
}

QString PlaceholderTableSelect::DatabaseName() const {
    return databaseName;
}

QString PlaceholderTableSelect::TableName() const {
    return tableName;
}

void PlaceholderTableSelect::Clear() {
    Record(QStringLiteral("Clear()"));
    tableName.clear();
}

bool PlaceholderTableSelect::Changed() const {
    return changed;
}
