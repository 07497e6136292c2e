#include "PlaceholderFieldSelect.h"

#include "PlaceholderLook.h"
#include "CDataDef.h"
#include <QList>

PlaceholderFieldSelect::PlaceholderFieldSelect(QWidget* parent) : base::IFieldSelectPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Field Selection"));
}

void PlaceholderFieldSelect::Initialize(std::shared_ptr<CDataDef> dataDef) {
    Record(QStringLiteral("Initialize()"));
    ddo = std::move(dataDef);
}

void PlaceholderFieldSelect::Refresh() {
    Record(QStringLiteral("Refresh()"));
}

std::shared_ptr<CDataDef> PlaceholderFieldSelect::CurrentDDO() const {
    return ddo;
}

bool PlaceholderFieldSelect::MatchAsText(int16_t fieldNum) const {
    return asText.contains(fieldNum);
}

bool PlaceholderFieldSelect::Changed() const {
    return changed;
}
