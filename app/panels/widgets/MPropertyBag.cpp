#include "MPropertyBag.h"

#include <QPalette>

namespace MPropertyBag {

const QVariant* Find(const QVariantMap& bag, const QString& key) {
    for (auto it = bag.cbegin(); it != bag.cend(); ++it)
        if (it.key().compare(key, Qt::CaseInsensitive) == 0) return &it.value();
    return nullptr;
}

QColor Color(uint32_t ole, const QPalette& palette) {
    if (ole & 0x80000000u) {
        switch (ole & 0xFF) {
        case 5: return palette.color(QPalette::Active, QPalette::Base);
        case 8: return palette.color(QPalette::Active, QPalette::Text);
        case 15: return palette.color(QPalette::Active, QPalette::Button);
        case 18: return palette.color(QPalette::Active, QPalette::ButtonText);
        default: return palette.color(QPalette::Active, QPalette::Window);
        }
    }
    return QColor(int(ole & 0xFF), int((ole >> 8) & 0xFF), int((ole >> 16) & 0xFF));
}

std::optional<QColor> Color(const QVariant& value, const QPalette& palette) {
    bool ok = false;
    const uint32_t ole = value.toUInt(&ok);
    if (!ok) return std::nullopt;
    return Color(ole, palette);
}

uint32_t ToOle(const QColor& color) {
    return uint32_t(color.red()) | uint32_t(color.green()) << 8 | uint32_t(color.blue()) << 16;
}

}  // namespace MPropertyBag
