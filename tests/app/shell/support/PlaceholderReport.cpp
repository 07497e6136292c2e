#include "PlaceholderReport.h"

#include "PlaceholderLook.h"

PlaceholderReport::PlaceholderReport(QWidget* parent) : base::IReportPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Reports"));
}

int16_t PlaceholderReport::ColorItems() const {
    return colorItems;
}

void PlaceholderReport::SetColorItems(int16_t mode) {
    Record(QStringLiteral("SetColorItems(%1)").arg(mode));
    colorItems = mode;
}

int16_t PlaceholderReport::Contrast() const {
    return contrast;
}

void PlaceholderReport::SetContrast(int16_t value) {
    Record(QStringLiteral("SetContrast(%1)").arg(value));
    contrast = value;
}

void PlaceholderReport::SetNavigate(int16_t index) {
    Record(QStringLiteral("SetNavigate(%1)").arg(index));
    navigate = index;
}

void PlaceholderReport::EnableLink(int16_t index) {
    Record(QStringLiteral("EnableLink(%1)").arg(index));
    if (index >= 0 && index < 8) links[index] = true;
}

void PlaceholderReport::DisableLink(int16_t index) {
    Record(QStringLiteral("DisableLink(%1)").arg(index));
    if (index >= 0 && index < 8) links[index] = false;
}

void PlaceholderReport::SetTotalValues(int32_t items, int16_t confidence) {
    Record(QStringLiteral("SetTotalValues(%1,%2)").arg(items).arg(confidence));
}

void PlaceholderReport::SetLocalValues(int32_t items, float confidence) {
    Record(QStringLiteral("SetLocalValues(%1,%2)").arg(items).arg(confidence));
}

bool PlaceholderReport::Changed() const {
    return false;
}
