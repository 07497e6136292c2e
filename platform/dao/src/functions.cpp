// The Jet functions and operators that translated SQL calls, registered on
// every connection, and the program's own text collation.
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "internal.h"

namespace dao::detail {
namespace {

void Fail(sqlite3_context* ctx, long number, std::string_view arg = {}) {
    std::string m = EncodeFunctionError(number, arg);
    sqlite3_result_error(ctx, m.c_str(), int(m.size()));
}

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string RawText(sqlite3_value* v) {
    auto p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return std::string(p ? p : "", size_t(sqlite3_value_bytes(v)));
}

// The text form a value takes when a string is wanted (CStr's rules).
std::string TextOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return FormatDouble(sqlite3_value_double(v), 15);
    case SQLITE_NULL: return "";
    default: return RawText(v);
    }
}

// A numeric argument; false (after reporting) when it is not a number.
bool NumberOf(sqlite3_context* ctx, sqlite3_value* v, double* out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: *out = static_cast<double>(sqlite3_value_int64(v)); return true;
    case SQLITE_FLOAT: *out = sqlite3_value_double(v); return true;
    case SQLITE_NULL: Fail(ctx, 94); return false;
    case SQLITE_TEXT: {
        std::string s = RawText(v);
        if (ParseNumber(s, out) || ParseDate(s, out)) return true;
        std::string u = UpperUtf8(TrimSpaces(s));
        if (u == "TRUE") {
            *out = -1;
            return true;
        }
        if (u == "FALSE") {
            *out = 0;
            return true;
        }
        Fail(ctx, 3464);
        return false;
    }
    default: Fail(ctx, 3464); return false;
    }
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.data(), int(s.size()), SQLITE_TRANSIENT);
}

void ResultU16(sqlite3_context* ctx, const std::u16string& s) {
    sqlite3_result_text16(ctx, s.data(), int(s.size() * 2), SQLITE_TRANSIENT);
}

// ---- conversions

void CStr(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return Fail(ctx, 94);
    ResultText(ctx, TextOf(a[0]));
}

void CStrDate(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return Fail(ctx, 94);
    int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return ResultText(ctx, FormatDate(sqlite3_value_double(a[0])));
    ResultText(ctx, TextOf(a[0]));
}

template <long Lo, long Hi>
void CInteger(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER) {
        int64_t i = sqlite3_value_int64(a[0]);
        if (i < Lo || i > Hi) return Fail(ctx, 6);
        return sqlite3_result_int64(ctx, i);
    }
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    int64_t r;
    if (!RoundHalfEven(d, double(Lo), double(Hi), &r)) return Fail(ctx, 6);
    sqlite3_result_int64(ctx, r);
}

void CSng(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    if (std::fabs(d) > 3.402823466e38) return Fail(ctx, 6);
    float f = static_cast<float>(d);
    sqlite3_result_double(ctx, std::strtod(FormatDouble(f, 7).c_str(), nullptr));
}

void CDbl(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    sqlite3_result_double(ctx, d);
}

void CCur(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    sqlite3_result_double(ctx, std::nearbyint(d * 10000.0) / 10000.0);
}

void CBool(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    sqlite3_result_int(ctx, d != 0 ? -1 : 0);
}

void DateArg(sqlite3_context* ctx, sqlite3_value* v, bool nullOk) {
    if (IsNull(v)) {
        if (nullOk) return sqlite3_result_null(ctx);
        return Fail(ctx, 94);
    }
    double d;
    if (sqlite3_value_type(v) == SQLITE_TEXT) {
        std::string s = RawText(v);
        if (!ParseDate(s, &d) && !ParseNumber(s, &d)) return Fail(ctx, 3464);
    } else if (!NumberOf(ctx, v, &d)) {
        return;
    }
    sqlite3_result_double(ctx, d);
}

void CVDate(sqlite3_context* ctx, int, sqlite3_value** a) { DateArg(ctx, a[0], true); }
void CDate(sqlite3_context* ctx, int, sqlite3_value** a) { DateArg(ctx, a[0], false); }

// ---- text

void Trim(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, TrimSpaces(TextOf(a[0])));
}
void LTrim(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, TrimSpaces(TextOf(a[0]), true, false));
}
void RTrim(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, TrimSpaces(TextOf(a[0]), false, true));
}
void UCase(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, UpperUtf8(TextOf(a[0])));
}
void LCase(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, LowerUtf8(TextOf(a[0])));
}
void Len(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    // Counted where the text lies: a whole-table Len is one pass without copies.
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(a[0]));
        return sqlite3_result_int64(ctx, int64_t(U16Length({p ? p : "", size_t(sqlite3_value_bytes(a[0]))})));
    }
    sqlite3_result_int64(ctx, int64_t(U16Length(TextOf(a[0]))));
}

bool LengthArg(sqlite3_context* ctx, sqlite3_value* v, int64_t* out) {
    double d;
    if (!NumberOf(ctx, v, &d)) return false;
    if (!RoundHalfEven(d, 0, 2147483647.0, out)) {
        Fail(ctx, 5);
        return false;
    }
    return true;
}

void Left(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    int64_t n;
    if (!LengthArg(ctx, a[1], &n)) return;
    std::u16string s = Utf8ToU16(TextOf(a[0]));
    ResultU16(ctx, s.substr(0, size_t(n)));
}
void Right(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    int64_t n;
    if (!LengthArg(ctx, a[1], &n)) return;
    std::u16string s = Utf8ToU16(TextOf(a[0]));
    ResultU16(ctx, size_t(n) >= s.size() ? s : s.substr(s.size() - size_t(n)));
}
void Mid(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    int64_t start, len = INT32_MAX;
    if (!LengthArg(ctx, a[1], &start)) return;
    if (start < 1) return Fail(ctx, 5);
    if (argc > 2 && !LengthArg(ctx, a[2], &len)) return;
    std::u16string s = Utf8ToU16(TextOf(a[0]));
    if (size_t(start - 1) >= s.size()) return ResultText(ctx, "");
    ResultU16(ctx, s.substr(size_t(start - 1), size_t(len)));
}
void InStr(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    int64_t start = 1;
    int first = 0;
    if (argc >= 3) {
        if (IsNull(a[0])) return Fail(ctx, 94);
        if (!LengthArg(ctx, a[0], &start)) return;
        if (start < 1) return Fail(ctx, 5);
        first = 1;
    }
    if (IsNull(a[first]) || IsNull(a[first + 1])) return sqlite3_result_null(ctx);
    bool binary = argc == 4 && sqlite3_value_int(a[3]) == 0;
    std::u16string h = Utf8ToU16(TextOf(a[first]));
    std::u16string n = Utf8ToU16(TextOf(a[first + 1]));
    if (!binary) {
        h = Utf8ToU16(FoldForCompare(TextOf(a[first])));
        n = Utf8ToU16(FoldForCompare(TextOf(a[first + 1])));
    }
    if (size_t(start - 1) > h.size()) return sqlite3_result_int(ctx, 0);
    if (n.empty()) return sqlite3_result_int64(ctx, start);
    size_t pos = h.find(n, size_t(start - 1));
    sqlite3_result_int64(ctx, pos == std::u16string::npos ? 0 : int64_t(pos + 1));
}
void Val(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return Fail(ctx, 94);
    int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_result_double(ctx, sqlite3_value_double(a[0]));
    sqlite3_result_double(ctx, ValOf(RawText(a[0])));
}
void Str(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    std::string s = TextOf(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) s = FormatDouble(d, 15);
    ResultText(ctx, d >= 0 ? " " + s : s);
}
void Space(sqlite3_context* ctx, int, sqlite3_value** a) {
    int64_t n;
    if (!LengthArg(ctx, a[0], &n)) return;
    ResultText(ctx, std::string(size_t(n), ' '));
}
void String(sqlite3_context* ctx, int, sqlite3_value** a) {
    int64_t n;
    if (!LengthArg(ctx, a[0], &n)) return;
    if (IsNull(a[1])) return sqlite3_result_null(ctx);
    std::u16string c;
    int t = sqlite3_value_type(a[1]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) c = std::u16string(1, char16_t(sqlite3_value_int(a[1]) & 0xFFFF));
    else c = Utf8ToU16(RawText(a[1])).substr(0, 1);
    if (c.empty()) return Fail(ctx, 5);
    ResultU16(ctx, std::u16string(size_t(n), c[0]));
}
void Asc(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return Fail(ctx, 94);
    std::u16string s = Utf8ToU16(TextOf(a[0]));
    if (s.empty()) return Fail(ctx, 5);
    sqlite3_result_int(ctx, s[0]);
}
void Chr(sqlite3_context* ctx, int, sqlite3_value** a) {
    int64_t n;
    if (!LengthArg(ctx, a[0], &n)) return;
    if (n > 0xFFFF) return Fail(ctx, 5);
    ResultU16(ctx, std::u16string(1, char16_t(n)));
}
void Hex(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    int64_t r;
    if (!RoundHalfEven(d, -2147483648.0, 2147483647.0, &r)) return Fail(ctx, 6);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(r));
    ResultText(ctx, buf);
}

// ---- numbers

void NumericResult(sqlite3_context* ctx, sqlite3_value* like, double d) {
    if (sqlite3_value_type(like) == SQLITE_INTEGER && std::fabs(d) < 9e18) sqlite3_result_int64(ctx, int64_t(d));
    else sqlite3_result_double(ctx, d);
}

void Abs(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    NumericResult(ctx, a[0], std::fabs(d));
}
void Int(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    NumericResult(ctx, a[0], std::floor(d));
}
void Fix(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    NumericResult(ctx, a[0], std::trunc(d));
}
void Sgn(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    sqlite3_result_int(ctx, d > 0 ? 1 : d < 0 ? -1 : 0);
}
void Sqr(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    if (d < 0) return Fail(ctx, 5);
    sqlite3_result_double(ctx, std::sqrt(d));
}
void Exp(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    double r = std::exp(d);
    if (!std::isfinite(r)) return Fail(ctx, 6);
    sqlite3_result_double(ctx, r);
}
void Log(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    if (d <= 0) return Fail(ctx, 5);
    sqlite3_result_double(ctx, std::log(d));
}
void Round(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    int places = argc > 1 ? sqlite3_value_int(a[1]) : 0;
    if (places < 0 || places > 15) return Fail(ctx, 5);
    double scale = std::pow(10.0, places);
    sqlite3_result_double(ctx, std::nearbyint(d * scale) / scale);
}

// ---- operators

void Cat(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) && IsNull(a[1])) return sqlite3_result_null(ctx);
    ResultText(ctx, TextOf(a[0]) + TextOf(a[1]));
}
void Like(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    // A constant pattern is folded once per statement and kept with it.
    auto* pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 1));
    std::unique_ptr<LikePattern> fresh;
    if (!pattern) {
        fresh = std::make_unique<LikePattern>(TextOf(a[1]));
        pattern = fresh.get();
    }
    bool match;
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        auto p = reinterpret_cast<const char*>(sqlite3_value_text(a[0]));
        match = pattern->Match(std::string_view(p ? p : "", size_t(sqlite3_value_bytes(a[0]))));
    } else {
        match = pattern->Match(TextOf(a[0]));
    }
    sqlite3_result_int(ctx, match ? -1 : 0);
    if (fresh)
        sqlite3_set_auxdata(ctx, 1, fresh.release(), [](void* p) { delete static_cast<LikePattern*>(p); });
}
void Div(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    double x, y;
    if (!NumberOf(ctx, a[0], &x) || !NumberOf(ctx, a[1], &y)) return;
    if (y == 0) return Fail(ctx, 11);
    sqlite3_result_double(ctx, x / y);
}
bool IntOperands(sqlite3_context* ctx, sqlite3_value** a, int64_t* x, int64_t* y) {
    double dx, dy;
    if (!NumberOf(ctx, a[0], &dx) || !NumberOf(ctx, a[1], &dy)) return false;
    if (!RoundHalfEven(dx, -2147483648.0, 2147483647.0, x) || !RoundHalfEven(dy, -2147483648.0, 2147483647.0, y)) {
        Fail(ctx, 6);
        return false;
    }
    if (*y == 0) {
        Fail(ctx, 11);
        return false;
    }
    return true;
}
void IDiv(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    int64_t x, y;
    if (!IntOperands(ctx, a, &x, &y)) return;
    sqlite3_result_int64(ctx, x / y);
}
void Mod(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    int64_t x, y;
    if (!IntOperands(ctx, a, &x, &y)) return;
    sqlite3_result_int64(ctx, x % y);
}
void Pow(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    double x, y;
    if (!NumberOf(ctx, a[0], &x) || !NumberOf(ctx, a[1], &y)) return;
    double r = std::pow(x, y);
    if (std::isnan(r)) return Fail(ctx, 5);
    if (std::isinf(r)) return Fail(ctx, 6);
    sqlite3_result_double(ctx, r);
}

// ---- dates

bool DatePartsOf(sqlite3_context* ctx, sqlite3_value* v, int parts[6]) {
    double d;
    if (sqlite3_value_type(v) == SQLITE_TEXT) {
        std::string s = RawText(v);
        if (!ParseDate(s, &d) && !ParseNumber(s, &d)) {
            Fail(ctx, 3464);
            return false;
        }
    } else if (!NumberOf(ctx, v, &d)) {
        return false;
    }
    if (!DateToParts(d, &parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5])) {
        Fail(ctx, 6);
        return false;
    }
    return true;
}

template <int Part>
void DatePart(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    int p[6];
    if (!DatePartsOf(ctx, a[0], p)) return;
    sqlite3_result_int(ctx, p[Part]);
}

void Weekday(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    double d;
    if (!NumberOf(ctx, a[0], &d)) return;
    if (!(d > -657435.0 && d < 2958466.0)) return Fail(ctx, 6);
    int64_t day = static_cast<int64_t>(std::floor(d));
    // Serial 0 (1899-12-30) was a Saturday; Sunday is 1.
    int w = int(((day % 7) + 7 + 6) % 7) + 1;
    sqlite3_result_int(ctx, w);
}

void DateSerial(sqlite3_context* ctx, int, sqlite3_value** a) {
    double y, m, d;
    if (!NumberOf(ctx, a[0], &y) || !NumberOf(ctx, a[1], &m) || !NumberOf(ctx, a[2], &d)) return;
    for (double v : {y, m, d})
        if (!(v >= -2147483648.0 && v <= 2147483647.0)) return Fail(ctx, 6);
    int64_t yi = int64_t(y), mi = int64_t(m) - 1, di = int64_t(d);
    if (yi >= 0 && yi < 30) yi += 2000;
    else if (yi >= 30 && yi < 100) yi += 1900;
    yi += mi >= 0 ? mi / 12 : -((11 - mi) / 12);
    mi = ((mi % 12) + 12) % 12;
    if (yi < 100 || yi > 9999) return Fail(ctx, 5);
    double first;
    if (!DateFromParts(int(yi), int(mi + 1), 1, 0, 0, 0, &first)) return Fail(ctx, 5);
    sqlite3_result_double(ctx, first + double(di - 1));
}

void TimeSerial(sqlite3_context* ctx, int, sqlite3_value** a) {
    double h, m, s;
    if (!NumberOf(ctx, a[0], &h) || !NumberOf(ctx, a[1], &m) || !NumberOf(ctx, a[2], &s)) return;
    sqlite3_result_double(ctx, (h * 3600 + m * 60 + s) / 86400.0);
}

void DateValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return Fail(ctx, 94);
    double d;
    std::string s = TextOf(a[0]);
    if (!ParseDate(s, &d)) return Fail(ctx, 3464);
    sqlite3_result_double(ctx, std::trunc(d));
}

double NowSerial() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    double d = 0;
    DateFromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, &d);
    return d;
}
void Now(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, NowSerial()); }
void Today(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, std::trunc(NowSerial())); }
void TimeNow(sqlite3_context* ctx, int, sqlite3_value**) {
    double d = NowSerial();
    sqlite3_result_double(ctx, d - std::trunc(d));
}

void IsNumeric(sqlite3_context* ctx, int, sqlite3_value** a) {
    int t = sqlite3_value_type(a[0]);
    double d;
    bool yes = t == SQLITE_INTEGER || t == SQLITE_FLOAT || (t == SQLITE_TEXT && ParseNumber(RawText(a[0]), &d));
    sqlite3_result_int(ctx, yes ? -1 : 0);
}
void IsDate(sqlite3_context* ctx, int, sqlite3_value** a) {
    double d;
    bool yes = sqlite3_value_type(a[0]) == SQLITE_TEXT && ParseDate(RawText(a[0]), &d);
    sqlite3_result_int(ctx, yes ? -1 : 0);
}

// ---- aggregates

struct Moments {
    int64_t n;
    double mean, m2;
};

void MomentStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return;
    double x;
    if (!NumberOf(ctx, a[0], &x)) return;
    auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
    if (!m) return sqlite3_result_error_nomem(ctx);
    m->n += 1;
    double delta = x - m->mean;
    m->mean += delta / double(m->n);
    m->m2 += delta * (x - m->mean);
}

template <bool Sample, bool Root>
void MomentFinal(sqlite3_context* ctx) {
    auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
    int64_t need = Sample ? 2 : 1;
    if (!m || m->n < need) return sqlite3_result_null(ctx);
    double var = m->m2 / double(Sample ? m->n - 1 : m->n);
    if (var < 0) var = 0;
    sqlite3_result_double(ctx, Root ? std::sqrt(var) : var);
}

struct Kept {
    sqlite3_value* v;
    bool set;
};

template <bool Last>
void KeepStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, sizeof(Kept)));
    if (!k) return sqlite3_result_error_nomem(ctx);
    if (k->set && !Last) return;
    if (k->v) sqlite3_value_free(k->v);
    k->v = sqlite3_value_dup(a[0]);
    k->set = true;
}

void KeepFinal(sqlite3_context* ctx) {
    auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, 0));
    if (!k || !k->v) return sqlite3_result_null(ctx);
    sqlite3_result_value(ctx, k->v);
    sqlite3_value_free(k->v);
    k->v = nullptr;
}

using Fn = void (*)(sqlite3_context*, int, sqlite3_value**);

struct Scalar {
    const char* name;
    int argc;
    Fn fn;
    bool deterministic;
};

}  // namespace

namespace {

// dao_keys(?1, k0, k1, ...): appends each row's keys to the vector bound
// to ?1, so that a whole key set is read in one step.
void KeysStep(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* keys = static_cast<std::vector<int64_t>*>(sqlite3_value_pointer(argv[0], kKeysPointer));
    if (!keys) return sqlite3_result_error(ctx, "dao_keys: no key list", -1);
    try {
        for (int i = 1; i < argc; ++i)
            keys->push_back(sqlite3_value_type(argv[i]) == SQLITE_NULL ? kNullKey : sqlite3_value_int64(argv[i]));
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

void KeysFinal(sqlite3_context* ctx) { sqlite3_result_int(ctx, 1); }

// dao_refolds(text): 1 when the text holds a character that SQLite's NOCASE
// orders otherwise than the upper-case folding of earlier versions did (the
// signs between the two cases of the ASCII letters, or anything beyond ASCII).
void Refolds(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT) return sqlite3_result_int(ctx, 0);
    auto p = sqlite3_value_text(a[0]);
    const int n = sqlite3_value_bytes(a[0]);
    for (int i = 0; i < n; ++i)
        if ((p[i] >= '[' && p[i] <= '`') || p[i] >= 0x80) return sqlite3_result_int(ctx, 1);
    sqlite3_result_int(ctx, 0);
}

}  // namespace

void RegisterFunctions(sqlite3* db) {
    static const Scalar kScalars[] = {
        {"jet_cstr", 1, CStr, true},
        {"jet_cstrdate", 1, CStrDate, true},
        {"jet_cint", 1, CInteger<-32768, 32767>, true},
        {"jet_clng", 1, CInteger<-2147483647L - 1, 2147483647L>, true},
        {"jet_cbyte", 1, CInteger<0, 255>, true},
        {"jet_csng", 1, CSng, true},
        {"jet_cdbl", 1, CDbl, true},
        {"jet_ccur", 1, CCur, true},
        {"jet_cbool", 1, CBool, true},
        {"jet_cvdate", 1, CVDate, true},
        {"jet_cdate", 1, CDate, true},
        {"jet_trim", 1, Trim, true},
        {"jet_ltrim", 1, LTrim, true},
        {"jet_rtrim", 1, RTrim, true},
        {"jet_ucase", 1, UCase, true},
        {"jet_lcase", 1, LCase, true},
        {"jet_len", 1, Len, true},
        {"jet_left", 2, Left, true},
        {"jet_right", 2, Right, true},
        {"jet_mid", -1, Mid, true},
        {"jet_instr", -1, InStr, true},
        {"jet_val", 1, Val, true},
        {"jet_str", 1, Str, true},
        {"jet_space", 1, Space, true},
        {"jet_string", 2, String, true},
        {"jet_asc", 1, Asc, true},
        {"jet_chr", 1, Chr, true},
        {"jet_hex", 1, Hex, true},
        {"jet_abs", 1, Abs, true},
        {"jet_int", 1, Int, true},
        {"jet_fix", 1, Fix, true},
        {"jet_sgn", 1, Sgn, true},
        {"jet_sqr", 1, Sqr, true},
        {"jet_exp", 1, Exp, true},
        {"jet_log", 1, Log, true},
        {"jet_round", -1, Round, true},
        {"jet_cat", 2, Cat, true},
        {"jet_like", 2, Like, true},
        {"jet_div", 2, Div, true},
        {"jet_idiv", 2, IDiv, true},
        {"jet_mod", 2, Mod, true},
        {"jet_pow", 2, Pow, true},
        {"jet_year", 1, DatePart<0>, true},
        {"jet_month", 1, DatePart<1>, true},
        {"jet_day", 1, DatePart<2>, true},
        {"jet_hour", 1, DatePart<3>, true},
        {"jet_minute", 1, DatePart<4>, true},
        {"jet_second", 1, DatePart<5>, true},
        {"jet_weekday", 1, Weekday, true},
        {"jet_dateserial", 3, DateSerial, true},
        {"jet_timeserial", 3, TimeSerial, true},
        {"jet_datevalue", 1, DateValue, true},
        {"jet_now", 0, Now, false},
        {"jet_date", 0, Today, false},
        {"jet_time", 0, TimeNow, false},
        {"jet_isnumeric", 1, IsNumeric, true},
        {"jet_isdate", 1, IsDate, true},
    };
    for (const auto& s : kScalars) {
        int flags = SQLITE_UTF8 | (s.deterministic ? SQLITE_DETERMINISTIC : 0);
        sqlite3_create_function_v2(db, s.name, s.argc, flags, nullptr, s.fn, nullptr, nullptr, nullptr);
    }
    int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function_v2(db, "jet_stdev", 1, flags, nullptr, nullptr, MomentStep, MomentFinal<true, true>, nullptr);
    sqlite3_create_function_v2(db, "jet_stdevp", 1, flags, nullptr, nullptr, MomentStep, MomentFinal<false, true>, nullptr);
    sqlite3_create_function_v2(db, "jet_var", 1, flags, nullptr, nullptr, MomentStep, MomentFinal<true, false>, nullptr);
    sqlite3_create_function_v2(db, "jet_varp", 1, flags, nullptr, nullptr, MomentStep, MomentFinal<false, false>, nullptr);
    sqlite3_create_function_v2(db, "jet_first", 1, SQLITE_UTF8, nullptr, nullptr, KeepStep<false>, KeepFinal, nullptr);
    sqlite3_create_function_v2(db, "jet_last", 1, SQLITE_UTF8, nullptr, nullptr, KeepStep<true>, KeepFinal, nullptr);
    sqlite3_create_function_v2(db, "dao_keys", -1, SQLITE_UTF8, nullptr, nullptr, KeysStep, KeysFinal, nullptr);
    sqlite3_create_function_v2(db, "dao_refolds", 1, flags, nullptr, Refolds, nullptr, nullptr, nullptr);
}

}  // namespace dao::detail
