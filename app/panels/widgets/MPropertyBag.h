// The stored properties of the panels' widgets: keys found without regard to
// case, and colours kept as the platform's colour values (0x00BBGGRR, or a
// system colour index with the high bit set).
#pragma once

#include <QColor>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <type_traits>

class QPalette;

namespace MPropertyBag {

// The system colours the widgets use as defaults.
constexpr uint32_t kWindowBackground = 0x80000005;
constexpr uint32_t kWindowText = 0x80000008;
constexpr uint32_t kButtonFace = 0x8000000F;

// The bag's entry under key, or null.
const QVariant* Find(const QVariantMap& bag, const QString& key);
// The colour a stored value stands for, system colours taken from palette;
// nothing for a value that is not a colour value.
std::optional<QColor> Color(const QVariant& value, const QPalette& palette);
QColor Color(uint32_t ole, const QPalette& palette);
uint32_t ToOle(const QColor& color);

// Reads the number stored under key into `into`, or `fallback` when the bag has
// none; a stored value that is no number leaves `into` as it is. Unchecked
// otherwise: stored values are taken as they are.
template <class T>
void ReadNumber(const QVariantMap& bag, const char* key, T fallback, T& into) {
    const QVariant* v = Find(bag, QLatin1String(key));
    bool ok = true;
    T n = fallback;
    if (v) {
        if constexpr (std::is_floating_point_v<T>) n = T(v->toDouble(&ok));
        else n = T(v->toInt(&ok));
    }
    if (ok) into = n;
}

}  // namespace MPropertyBag
