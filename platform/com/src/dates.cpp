#include <cmath>
#include <cstdio>

#include "convert.h"

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + long(doe) - 719468;
}

void CivilFromDays(long z, int* y, int* m, int* d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long yy = long(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = int(yy + (*m <= 2));
}

const long kEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

}  // namespace

bool VariantTimeFromParts(int year, int month, int day, int hour, int minute, int second, DATE* out) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    double days = double(DaysFromCivil(year, unsigned(month), unsigned(day)) - kEpoch);
    double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before the epoch the fraction still counts forward from midnight: -1.25 is
    // 1899-12-29 06:00, so the time is subtracted from a negative day number.
    if (out) *out = days < 0 ? days - time : days + time;
    return true;
}

bool VariantTimeToParts(DATE d, int* year, int* month, int* day, int* hour, int* minute, int* second) {
    if (!(d > com::detail::kMinDate - 1.0 && d < com::detail::kMaxDate)) return false;
    double whole = std::trunc(d);
    double frac = std::fabs(d - whole);
    long seconds = std::lround(frac * 86400.0);
    long days = long(whole) + kEpoch;
    if (seconds >= 86400) {  // rounds up to the next midnight
        seconds -= 86400;
        ++days;
    }
    int y, m, dd;
    CivilFromDays(days, &y, &m, &dd);
    if (y < 100 || y > 9999) return false;
    if (year) *year = y;
    if (month) *month = m;
    if (day) *day = dd;
    if (hour) *hour = int(seconds / 3600);
    if (minute) *minute = int(seconds / 60 % 60);
    if (second) *second = int(seconds % 60);
    return true;
}

namespace com::detail {

std::string FormatDate(DATE d) {
    int y, m, dd, h, mi, s;
    if (!VariantTimeToParts(d, &y, &m, &dd, &h, &mi, &s)) return FormatReal(d, 15);
    char buf[40];
    bool hasTime = h || mi || s;
    bool dayZero = y == 1899 && m == 12 && dd == 30;
    if (dayZero && hasTime) snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
    else if (!hasTime) snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, dd, y);
    else snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", m, dd, y, h, mi, s);
    return buf;
}

namespace {

struct Cursor {
    std::u16string_view s;
    size_t i = 0;
    void SkipSpace() {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    }
    bool Done() const { return i >= s.size(); }
    bool Eat(char16_t c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    // 1..maxDigits decimal digits.
    bool Number(int maxDigits, int* value, int* count = nullptr) {
        int n = 0, v = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && n < maxDigits) {
            v = v * 10 + (s[i] - u'0');
            ++i;
            ++n;
        }
        if (i < s.size() && s[i] >= u'0' && s[i] <= u'9') return false;  // too many digits
        if (count) *count = n;
        *value = v;
        return n > 0;
    }
};

bool ParseTime(Cursor& c, int* h, int* m, int* s) {
    *s = 0;
    if (!c.Number(2, h) || !c.Eat(u':') || !c.Number(2, m)) return false;
    if (c.Eat(u':') && !c.Number(2, s)) return false;
    c.SkipSpace();
    if (!c.Done()) {
        char16_t a = c.s[c.i] | 0x20;
        if ((a == u'a' || a == u'p') && c.i + 1 < c.s.size() && (c.s[c.i + 1] | 0x20) == u'm') {
            if (*h < 1 || *h > 12) return false;
            if (a == u'a' && *h == 12) *h = 0;
            if (a == u'p' && *h != 12) *h += 12;
            c.i += 2;
        }
    }
    return true;
}

}  // namespace

bool ParseDate(std::u16string_view text, DATE* out) {
    Cursor c{text};
    c.SkipSpace();
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0;
    size_t start = c.i;
    int a = 0, digits = 0;
    if (!c.Number(4, &a, &digits)) return false;
    bool haveDate = false;
    if (c.Eat(u'-')) {  // ISO
        if (digits != 4 || !c.Number(2, &mo) || !c.Eat(u'-') || !c.Number(2, &d)) return false;
        y = a;
        haveDate = true;
    } else if (c.Eat(u'/')) {  // month first
        if (digits > 2 || !c.Number(2, &d) || !c.Eat(u'/') || !c.Number(4, &y, &digits)) return false;
        mo = a;
        if (digits <= 2) y += y < 30 ? 2000 : 1900;
        else if (digits != 4) return false;
        haveDate = true;
    } else {
        c.i = start;
    }
    if (haveDate) {
        if (!c.Eat(u'T')) c.SkipSpace();
        if (!c.Done() && !ParseTime(c, &h, &mi, &s)) return false;
    } else if (!ParseTime(c, &h, &mi, &s)) {
        return false;
    }
    c.SkipSpace();
    if (!c.Done()) return false;
    return VariantTimeFromParts(y, mo, d, h, mi, s, out);
}

}  // namespace com::detail
