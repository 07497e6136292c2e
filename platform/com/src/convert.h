// Text forms of numbers and dates, in the invariant locale ('.' decimal point,
// ',' thousands separator, month-first dates), independent of the process locale.
#pragma once

#include <string>
#include <string_view>

#include "com/oleauto.h"

namespace com::detail {

// A decimal number as written: value = (negative ? -1 : 1) * digits * 10^exponent.
// digits has no leading zeros; empty digits is zero.
struct DecimalText {
    bool negative = false;
    std::string digits;
    long exponent = 0;
    bool based = false;  // written as &H / &O: the bits of an integer of the target's width
};

bool ParseNumber(std::u16string_view text, DecimalText* out);
// Shortest form with at most `digits` significant digits; exponent form "1.5E+20"
// when the decimal exponent is below -4 or at least `digits`.
std::string FormatReal(double value, int digits);
std::string FormatCurrency(LONGLONG scaled);
// "MM/dd/yyyy HH:mm:ss"; the date alone at midnight, the time alone on day 0.
std::string FormatDate(DATE d);
// ISO "yyyy-mm-dd[ hh:mm[:ss]]", "M/d/yyyy[ time]" (two-digit years: 00-29 -> 20xx,
// 30-99 -> 19xx), or a time alone "h:mm[:ss][ AM|PM]".
bool ParseDate(std::u16string_view text, DATE* out);

constexpr DATE kMinDate = -657434.0;  // 0100-01-01
constexpr DATE kMaxDate = 2958466.0;  // 10000-01-01, exclusive

}  // namespace com::detail
