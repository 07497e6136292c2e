#include "CSplitRule.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

float CSplitRule::EngineValue(double value) {
    if (value == -999.0) return std::bit_cast<float>(uint32_t(0xC479C002));
    return float(value);
}

bool CSplitRule::GoesFirst(double value, float cut) { return EngineValue(value) <= cut; }

double CSplitRule::Bound(float cut) {
    if (std::isnan(cut)) return std::numeric_limits<double>::quiet_NaN();
    if (cut == std::numeric_limits<float>::infinity()) return std::numeric_limits<double>::max();
    const float up = std::nextafter(cut, std::numeric_limits<float>::infinity());
    // The midpoint between two neighbouring floats needs 25 bits: exact in a double.
    double mid;
    if (std::isinf(up))
        mid = double(cut) + std::ldexp(1.0, 103);  // half an ulp above the largest float
    else
        mid = (double(cut) + double(up)) / 2.0;
    // Rounding to nearest sends the midpoint to the even neighbour.
    return float(mid) <= cut ? mid : std::nextafter(mid, -std::numeric_limits<double>::infinity());
}

std::string CSplitRule::Number(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string CSplitRule::Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

std::string CSplitRule::CutText(float cut) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, cut);
    return std::string(buf, r.ptr);
}

std::string CSplitRule::ThresholdClause(const std::string& field, const std::string& valueText, double value,
                                        float cut, bool first, bool textColumn) {
    // A real -999 trained one step below -999, which can put it on the other
    // side of a cut that lies just below -999.
    const bool coded = GoesFirst(-999.0, cut);
    const bool plain = -999.0 <= value;
    std::string clause = "(" + field + (first ? " <= " : " > ") + valueText;
    if (first) {
        if (coded && !plain) clause += " OR " + field + " = -999";
    } else {
        if (coded && !plain) clause += " AND " + field + " <> -999";
        // Only a text column can hold "?", which is a missing value elsewhere.
        if (textColumn) clause += " AND Trim(" + field + ") <> '?'";
    }
    return clause + ")";
}
