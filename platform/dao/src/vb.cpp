// The runtime's conversion rules: number and date text, Val, banker's rounding,
// and typed reads of VARIANTs.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal.h"

namespace dao::detail {
namespace {

// Days from 1899-12-30 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468 + 25569;  // 25569: 1970-01-01 as serial
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
    z -= 25569;
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned dd = doy - (153 * mp + 2) / 5 + 1;
    const unsigned mm = mp + (mp < 10 ? 3 : -9);
    *y = static_cast<int>(yy + (mm <= 2));
    *m = static_cast<int>(mm);
    *d = static_cast<int>(dd);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

}  // namespace

bool DateFromParts(int y, int m, int d, int hh, int mi, int ss, double* out) {
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    static const int kDim[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDim[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
    if (hh < 0 || hh > 23 || mi < 0 || mi > 59 || ss < 0 || ss > 59) return false;
    double days = static_cast<double>(DaysFromCivil(y, unsigned(m), unsigned(d)));
    double frac = (hh * 3600.0 + mi * 60.0 + ss) / 86400.0;
    // Before the epoch the fraction still counts forward from midnight.
    *out = days >= 0 ? days + frac : days - frac;
    return true;
}

bool DateToParts(double serial, int* y, int* m, int* d, int* hh, int* mi, int* ss) {
    if (!(serial > -657435.0 && serial < 2958466.0)) return false;
    double dayPart = std::trunc(serial);
    double frac = std::fabs(serial - dayPart);
    long secs = std::lround(frac * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        dayPart += serial >= 0 ? 1 : -1;
    }
    CivilFromDays(static_cast<int64_t>(dayPart), y, m, d);
    *hh = int(secs / 3600);
    *mi = int((secs / 60) % 60);
    *ss = int(secs % 60);
    return true;
}

namespace {

// The significant digits of v rounded to at most `digits` of them, without
// trailing zeros, into out (returns their count), and the decimal exponent of
// the first one.
int RoundedDigits(double v, int digits, char* out, int& exp) {
    char buf[400];
    exp = 0;
    int n = 0;
    if (std::isnormal(v)) {
        // The shortest decimal that reads back as v (at most 17 digits) lies
        // within half a bit of v, and half a bit is below (leading digit + 1)
        // x 0.0112 of a unit of the 15th digit: rounding that decimal rounds v
        // the same way unless the decimal sits that close to the half-way point.
        char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
        char* e = std::find(buf, end, 'e');
        const char* first = buf + (buf[0] == '-');
        out[n++] = *first;
        for (const char* p = first + 2; p < e; ++p) out[n++] = *p;  // the digits after the point
        std::from_chars(e + 1 + (e[1] == '+'), end, exp);
        bool exact = true;
        if (n > digits) {
            int tail = 0;  // the next three digits, in thousandths of the last digit kept
            for (int i = 0; i < 3; ++i) tail = tail * 10 + (digits + i < n ? out[digits + i] - '0' : 0);
            const int band = digits >= 15 ? (out[0] - '0' + 1) * 12 : 2;
            exact = std::abs(tail - 500) > band;
            if (exact) {
                n = digits;
                if (tail > 500) {
                    int i = digits - 1;
                    while (i >= 0 && out[i] == '9') out[i--] = '0';
                    if (i >= 0) {
                        ++out[i];
                    } else {
                        out[0] = '1';  // 9.99.. became 10.0..: the zeros go below
                        ++exp;
                    }
                }
            }
        }
        if (exact) {
            while (n > 1 && out[n - 1] == '0') --n;
            return n;
        }
        n = 0;
    }
    char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, digits - 1).ptr;
    char* e = std::find(buf, end, 'e');
    std::from_chars(e + 1 + (e[1] == '+'), end, exp);
    for (char* p = buf; p < e; ++p)
        if (*p >= '0' && *p <= '9') out[n++] = *p;
    while (n > 1 && out[n - 1] == '0') --n;
    return n;
}

}  // namespace

// As "%.*e" then "%.*f" would write it, built from the digits of std::to_chars:
// the decimal point is "." whatever the C locale says, and it is much faster.
size_t FormatDouble(double v, int digits, char* out) {
    char* p = out;
    if (v == 0 || std::isnan(v)) {
        *p = '0';
        return 1;
    }
    if (std::isinf(v)) {
        const char* text = v > 0 ? "1.#INF" : "-1.#INF";
        const size_t n = std::strlen(text);
        std::memcpy(out, text, n);
        return n;
    }
    // A whole number of no more digits than asked for is written as it is.
    if (std::fabs(v) < (digits >= 15 ? 1e15 : 1e7) && v == std::trunc(v))
        return size_t(std::to_chars(out, out + kDoubleChars, static_cast<long long>(v)).ptr - out);
    char d[32];
    int exp = 0;
    const int n = RoundedDigits(v, digits, d, exp);
    auto put = [&p](const char* from, int count) {
        std::memcpy(p, from, size_t(count));
        p += count;
    };
    if (v < 0) *p++ = '-';
    if (exp >= digits || exp < -4) {
        *p++ = d[0];
        if (n > 1) {
            *p++ = '.';
            put(d + 1, n - 1);
        }
        *p++ = 'E';
        *p++ = exp < 0 ? '-' : '+';
        const int a = std::abs(exp);
        if (a < 10) *p++ = '0';
        p = std::to_chars(p, out + kDoubleChars, a).ptr;
        return size_t(p - out);
    }
    if (exp < 0) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', size_t(-exp - 1));
        p += -exp - 1;
        put(d, n);
        return size_t(p - out);
    }
    const int whole = exp + 1;
    if (n <= whole) {
        put(d, n);
        std::memset(p, '0', size_t(whole - n));
        p += whole - n;
    } else {
        put(d, whole);
        *p++ = '.';
        put(d + whole, n - whole);
    }
    return size_t(p - out);
}

std::string FormatDouble(double v, int digits) {
    char b[kDoubleChars];
    return std::string(b, FormatDouble(v, digits, b));
}

size_t FormatDate(double serial, char* out) {
    int y, m, d, hh, mi, ss;
    // A number no date stands for is shown as the number.
    if (!DateToParts(serial, &y, &m, &d, &hh, &mi, &ss)) return FormatDouble(serial, 15, out);
    bool hasDate = std::trunc(serial) != 0;
    bool hasTime = hh || mi || ss;
    char* p = out;
    auto number = [&](int v) { p = std::to_chars(p, out + kDateChars, v).ptr; };
    auto two = [&](int v) {
        *p++ = char('0' + v / 10);
        *p++ = char('0' + v % 10);
    };
    if (hasDate) {
        number(m);
        *p++ = '/';
        number(d);
        *p++ = '/';
        number(y);
    }
    if (hasTime || !hasDate) {
        if (hasDate) *p++ = ' ';
        number(hh % 12 == 0 ? 12 : hh % 12);
        *p++ = ':';
        two(mi);
        *p++ = ':';
        two(ss);
        std::memcpy(p, hh < 12 ? " AM" : " PM", 3);
        p += 3;
    }
    return size_t(p - out);
}

std::string FormatDate(double serial) {
    char b[kDateChars];
    return std::string(b, FormatDate(serial, b));
}

namespace {

// An exponent at t[*i] ("E+12", "D-3"): appended to num as strtod reads it,
// *i moved past it. False, and nothing taken, for a letter without digits.
bool ReadExponent(const std::string& t, size_t* i, std::string* num) {
    if (*i >= t.size() || !(t[*i] == 'e' || t[*i] == 'E' || t[*i] == 'd' || t[*i] == 'D')) return true;
    size_t j = *i + 1;
    std::string ex = "e";
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ex += t[j++];
    size_t k = j;
    while (k < t.size() && t[k] >= '0' && t[k] <= '9') ex += t[k++];
    if (k == j) return false;
    *num += ex;
    *i = k;
    return true;
}

}  // namespace

bool ParseNumber(std::string_view s, double* out) {
    std::string t = TrimSpaces(s);
    while (!t.empty() && (t.back() == '\t' || t.back() == '\r' || t.back() == '\n')) t.pop_back();
    if (t.empty()) return false;
    if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h' || t[1] == 'O' || t[1] == 'o')) {
        char* end = nullptr;
        long long v = std::strtoll(t.c_str() + 2, &end, (t[1] == 'H' || t[1] == 'h') ? 16 : 8);
        if (*end) return false;
        *out = static_cast<double>(v);
        return true;
    }
    std::string clean;
    size_t i = 0;
    if (t[i] == '+' || t[i] == '-') clean += t[i++];
    bool digits = false, dot = false;
    for (; i < t.size(); ++i) {
        char c = t[i];
        if (c >= '0' && c <= '9') {
            clean += c;
            digits = true;
        } else if (c == ',' && !dot && digits) {
            continue;  // thousands separator
        } else if (c == '.' && !dot) {
            clean += c;
            dot = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    if (!ReadExponent(t, &i, &clean)) return false;
    if (i != t.size()) return false;
    *out = std::strtod(clean.c_str(), nullptr);
    return std::isfinite(*out);
}

double ValOf(std::string_view s) {
    std::string t;
    for (char c : s)
        if (!IsBlank(c)) t += c;
    if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h' || t[1] == 'O' || t[1] == 'o')) {
        long long v = std::strtoll(t.c_str() + 2, nullptr, (t[1] == 'H' || t[1] == 'h') ? 16 : 8);
        return static_cast<double>(v);
    }
    size_t i = 0;
    std::string num;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) num += t[i++];
    bool dot = false;
    while (i < t.size() && ((t[i] >= '0' && t[i] <= '9') || (t[i] == '.' && !dot))) {
        if (t[i] == '.') dot = true;
        num += t[i++];
    }
    ReadExponent(t, &i, &num);
    double v = std::strtod(num.c_str(), nullptr);
    return std::isfinite(v) ? v : 0;
}

bool RoundHalfEven(double v, double lo, double hi, int64_t* out) {
    if (!std::isfinite(v)) return false;
    double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
    if (r < lo || r > hi) return false;
    *out = static_cast<int64_t>(r);
    return true;
}

bool ParseDate(std::string_view text, double* out) {
    std::string s = UpperUtf8(TrimSpaces(text));
    if (s.empty()) return false;
    // Tokenise into numbers, words and separators.
    size_t i = 0;
    int ampm = 0;
    int month = 0;
    bool timeSeen = false;
    int timeVals[3] = {0, 0, 0};
    int nTime = 0;
    int dateVals[3];
    int nDate = 0;
    bool yearFirst = false;
    while (i < s.size()) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            size_t j = i;
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
            int v = std::atoi(s.substr(i, j - i).c_str());
            bool isTime = (j < s.size() && s[j] == ':') || (i > 0 && s[i - 1] == ':');
            if (isTime) {
                if (nTime >= 3) return false;
                timeVals[nTime++] = v;
                timeSeen = true;
            } else {
                if (nDate >= 3) return false;
                if (nDate == 0 && j - i == 4) yearFirst = true;
                dateVals[nDate++] = v;
            }
            i = j;
        } else if (c >= 'A' && c <= 'Z') {
            size_t j = i;
            while (j < s.size() && s[j] >= 'A' && s[j] <= 'Z') ++j;
            std::string w = s.substr(i, j - i);
            if (w == "AM" || w == "A") ampm = 1;
            else if (w == "PM" || w == "P") ampm = 2;
            else {
                bool found = false;
                for (int k = 0; k < 12; ++k)
                    if (w.size() >= 3 && w.compare(0, 3, kMonths[k]) == 0) {
                        month = k + 1;
                        found = true;
                    }
                if (!found) return false;
            }
            i = j;
        } else if (c == '/' || c == '-' || c == '.' || c == ',' || c == ' ' || c == ':') {
            ++i;
        } else {
            return false;
        }
    }
    int y = 1899, m = 12, d = 30;
    if (month) {
        // "Jan 2, 2000" or "2-Jan-2000"
        if (nDate != 2) return false;
        m = month;
        d = dateVals[0];
        y = dateVals[1];
        if (d > 31) std::swap(d, y);
    } else if (nDate == 3) {
        if (yearFirst) {
            y = dateVals[0];
            m = dateVals[1];
            d = dateVals[2];
        } else {
            m = dateVals[0];
            d = dateVals[1];
            y = dateVals[2];
            if (m > 12 && d <= 12) std::swap(m, d);
        }
    } else if (nDate == 2) {
        return false;
    } else if (nDate == 1) {
        return false;
    } else if (!timeSeen) {
        return false;
    }
    if (nDate && y < 100) y += y < 30 ? 2000 : 1900;
    int hh = timeVals[0], mi = timeVals[1], ss = timeVals[2];
    if (ampm) {
        if (hh < 1 || hh > 12) return false;
        if (ampm == 1 && hh == 12) hh = 0;
        if (ampm == 2 && hh != 12) hh += 12;
    }
    if (!nDate && !month) return DateFromParts(1899, 12, 30, hh, mi, ss, out);
    return DateFromParts(y, m, d, hh, mi, ss, out);
}

}  // namespace dao::detail

namespace dao {
using namespace detail;

namespace {

[[noreturn]] void NullError() { Raise(94); }

double NumberOf(const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY: return 0;
    case VT_NULL: NullError();
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_CY: return static_cast<double>(v.cyVal.int64) / 10000.0;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal ? -1 : 0;
    case VT_UI1: return v.bVal;
    case VT_I1: return v.cVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_INT: return v.intVal;
    case VT_UINT: return v.uintVal;
    case VT_I8: return static_cast<double>(v.llVal);
    case VT_UI8: return static_cast<double>(v.ullVal);
    case VT_BSTR: {
        std::string s = U16ToUtf8(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
        double d;
        if (ParseNumber(s, &d)) return d;
        if (ParseDate(s, &d)) return d;
        std::string u = UpperUtf8(TrimSpaces(s));
        if (u == "TRUE") return -1;
        if (u == "FALSE") return 0;
        Raise(13);
    }
    default:
        if (v.vt & VT_BYREF) {
            VARIANT inner;
            inner.vt = VARTYPE(v.vt & ~VT_BYREF);
            if (inner.vt == VT_VARIANT) return NumberOf(*v.pvarVal);
            Raise(13);
        }
        Raise(13);
    }
}

int64_t IntegerOf(const VARIANT& v, double lo, double hi) {
    if (v.vt == VT_I2 || v.vt == VT_I4) {
        int64_t i = v.vt == VT_I2 ? v.iVal : v.lVal;
        if (double(i) < lo || double(i) > hi) Raise(6);
        return i;
    }
    int64_t r;
    if (!RoundHalfEven(NumberOf(v), lo, hi, &r)) Raise(6);
    return r;
}

}  // namespace

void AppendVarString(std::string& out, const VARIANT& v) {
    char b[kDoubleChars > kDateChars ? kDoubleChars : kDateChars];
    switch (v.vt) {
    case VT_EMPTY: return;
    case VT_NULL: NullError();
    case VT_BSTR: out += U16ToUtf8(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal))); return;
    case VT_BOOL: out += v.boolVal ? "True" : "False"; return;
    case VT_DATE: out.append(b, FormatDate(v.date, b)); return;
    case VT_R4: out.append(b, FormatDouble(v.fltVal, 7, b)); return;
    case VT_R8: out.append(b, FormatDouble(v.dblVal, 15, b)); return;
    case VT_CY: {
        int64_t c = v.cyVal.int64;
        uint64_t a = c < 0 ? uint64_t(0) - uint64_t(c) : uint64_t(c);
        if (c < 0) out += '-';
        out.append(b, std::to_chars(b, b + sizeof b, a / 10000).ptr);
        uint64_t frac = a % 10000;
        if (frac) {
            // Four places, trailing zeros dropped.
            char f[4];
            for (int i = 3; i >= 0; --i, frac /= 10) f[i] = char('0' + frac % 10);
            int n = 4;
            while (f[n - 1] == '0') --n;
            out += '.';
            out.append(f, size_t(n));
        }
        return;
    }
    case VT_I8: out.append(b, std::to_chars(b, b + sizeof b, v.llVal).ptr); return;
    case VT_UI8: out.append(b, std::to_chars(b, b + sizeof b, v.ullVal).ptr); return;
    case VT_VARIANT | VT_BYREF: AppendVarString(out, *v.pvarVal); return;
    default: out.append(b, FormatDouble(NumberOf(v), 15, b)); return;
    }
}

std::string VarToString(const VARIANT& v) {
    std::string out;
    AppendVarString(out, v);
    return out;
}

std::u16string VarToU16(const VARIANT& v) {
    if (v.vt == VT_BSTR) return std::u16string(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
    return Utf8ToU16(VarToString(v));
}

short VarToShort(const VARIANT& v) { return static_cast<short>(IntegerOf(v, -32768, 32767)); }
int32_t VarToLong(const VARIANT& v) { return static_cast<int32_t>(IntegerOf(v, -2147483648.0, 2147483647.0)); }

float VarToSingle(const VARIANT& v) {
    double d = NumberOf(v);
    if (std::fabs(d) > 3.402823466e38) Raise(6);
    return static_cast<float>(d);
}

double VarToDouble(const VARIANT& v) { return NumberOf(v); }

bool VarToBool(const VARIANT& v) {
    if (v.vt == VT_BOOL) return v.boolVal != 0;
    return NumberOf(v) != 0;
}

DATE VarToDate(const VARIANT& v) {
    if (v.vt == VT_DATE) return v.date;
    if (v.vt == VT_BSTR) {
        std::string s = U16ToUtf8(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
        double d;
        if (ParseDate(s, &d) || ParseNumber(s, &d)) return d;
        Raise(13);
    }
    return NumberOf(v);
}

}  // namespace dao
