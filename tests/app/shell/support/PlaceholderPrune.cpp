#include "PlaceholderPrune.h"

#include "PlaceholderLook.h"

PlaceholderPrune::PlaceholderPrune(QWidget* parent) : base::IPrunePanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Rule Extraction"));
}

float PlaceholderPrune::PruneRate() const {
    return pruneRate;
}

void PlaceholderPrune::SetPruneRate(float rate) {
    pruneRate = rate;
}

int32_t PlaceholderPrune::MinItems() const {
    return minItems;
}

void PlaceholderPrune::SetMinItems(int32_t items) {
    minItems = items;
}

int16_t PlaceholderPrune::ColorItems() const {
    return colorItems;
}

void PlaceholderPrune::SetColorItems(int16_t mode) {
    Record(QStringLiteral("SetColorItems(%1)").arg(mode));
    colorItems = mode;
}

int16_t PlaceholderPrune::Contrast() const {
    return contrast;
}

void PlaceholderPrune::SetContrast(int16_t value) {
    Record(QStringLiteral("SetContrast(%1)").arg(value));
    contrast = value;
}

void PlaceholderPrune::EnableNext() {
    Record(QStringLiteral("EnableNext()"));
}

void PlaceholderPrune::DisableNext() {
    Record(QStringLiteral("DisableNext()"));
}

void PlaceholderPrune::ShowType(int16_t type) {
    Record(QStringLiteral("ShowType(%1)").arg(type));
}

void PlaceholderPrune::SetTotalValues(int32_t items, int16_t confidence, int16_t nodes) {
    Record(QStringLiteral("SetTotalValues(%1,%2,%3)").arg(items).arg(confidence).arg(nodes));
}

void PlaceholderPrune::SetLocalValues(int32_t items, float confidence) {
    Record(QStringLiteral("SetLocalValues(%1,%2)").arg(items).arg(confidence));
}

bool PlaceholderPrune::Changed() const {
    return changed;
}
