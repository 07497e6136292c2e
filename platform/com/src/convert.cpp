// VariantChangeType with OLE Automation's rules. Every conversion goes through one
// of four intermediate forms: an exact integer (128-bit, so that UI8 and I8 both
// fit), a double, a scaled currency value, or the decimal digits of a text; each
// target then applies its own rounding (half to even) and range check.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

#include "com/dispatch.h"
#include "convert.h"

namespace com::detail {

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0; }

}  // namespace

bool ParseNumber(std::u16string_view text, DecimalText* out) {
    size_t i = 0, n = text.size();
    while (i < n && IsSpace(text[i])) ++i;
    while (n > i && IsSpace(text[n - 1])) --n;
    if (i >= n) return false;
    DecimalText r;
    // &H / &O literals as the language writes them; unsigned up to 64 bits.
    if (text[i] == u'&' && i + 1 < n) {
        char16_t k = text[i + 1] | 0x20;
        int base = k == u'h' ? 16 : k == u'o' ? 8 : 0;
        if (!base) return false;
        i += 2;
        if (i >= n) return false;
        unsigned __int128 v = 0;
        for (; i < n; ++i) {
            char16_t c = text[i];
            int d = (c >= u'0' && c <= u'9') ? c - u'0'
                    : ((c | 0x20) >= u'a' && (c | 0x20) <= u'f') ? (c | 0x20) - u'a' + 10
                                                                 : 99;
            if (d >= base) return false;
            v = v * unsigned(base) + unsigned(d);
            if (v > UINT64_MAX) return false;
        }
        std::string digits = std::to_string(uint64_t(v));
        if (digits == "0") digits.clear();
        r.digits = digits;
        r.based = true;
        *out = r;
        return true;
    }
    bool parens = false;
    if (text[i] == u'(') {
        if (text[n - 1] != u')') return false;
        parens = true;
        ++i;
        --n;
        while (i < n && IsSpace(text[i])) ++i;
        while (n > i && IsSpace(text[n - 1])) --n;
    }
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        r.negative = text[i] == u'-';
        if (parens) return false;
        ++i;
        while (i < n && IsSpace(text[i])) ++i;
    }
    if (parens) r.negative = true;
    std::string digits;
    long fracDigits = 0;
    bool any = false, point = false;
    for (; i < n; ++i) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            any = true;
            if (!(digits.empty() && c == u'0')) digits.push_back(char(c));
            if (point) ++fracDigits;
        } else if (c == u',' && !point && any) {
            // thousands separator, between digits of the whole part
            if (i + 1 >= n || text[i + 1] < u'0' || text[i + 1] > u'9') return false;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    long exponent = 0;
    if (i < n && ((text[i] | 0x20) == u'e' || (text[i] | 0x20) == u'd')) {
        ++i;
        bool neg = false;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) neg = text[i++] == u'-';
        bool expDigits = false;
        for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
            expDigits = true;
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - u'0');
        }
        if (!expDigits) return false;
        if (neg) exponent = -exponent;
    }
    if (i != n) return false;
    // Leading zeros of the fraction were not kept in digits but still shift the point.
    r.digits = digits;
    r.exponent = exponent - fracDigits;
    if (r.digits.empty()) {
        r.exponent = 0;
        r.negative = false;
    }
    *out = r;
    return true;
}

namespace {

// Shortest digits of |value| rounded to `digits` significant digits, and the
// decimal exponent of the first digit.
void SignificantDigits(double value, int digits, std::string* mantissa, int* exponent) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, digits - 1);
    std::string s(buf, res.ptr);
    size_t e = s.find('e');
    std::string m = s.substr(0, e);
    *exponent = std::atoi(s.c_str() + e + 1);
    mantissa->clear();
    for (char c : m)
        if (c != '.') mantissa->push_back(c);
    while (mantissa->size() > 1 && mantissa->back() == '0') mantissa->pop_back();
}

}  // namespace

std::string FormatReal(double value, int digits) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";
    std::string m;
    int e;
    SignificantDigits(value, digits, &m, &e);
    std::string out = value < 0 ? "-" : "";
    if (e < -4 || e >= digits) {
        out += m[0];
        if (m.size() > 1) out += "." + m.substr(1);
        char buf[16];
        snprintf(buf, sizeof buf, "E%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
        out += buf;
    } else if (e < 0) {
        out += "0." + std::string(size_t(-e - 1), '0') + m;
    } else if (size_t(e) + 1 >= m.size()) {
        out += m + std::string(size_t(e) + 1 - m.size(), '0');
    } else {
        out += m.substr(0, size_t(e) + 1) + "." + m.substr(size_t(e) + 1);
    }
    return out;
}

std::string FormatCurrency(LONGLONG scaled) {
    bool neg = scaled < 0;
    uint64_t mag = neg ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string out = neg ? "-" : "";
    out += std::to_string(mag / 10000);
    unsigned frac = unsigned(mag % 10000);
    if (frac) {
        char buf[8];
        snprintf(buf, sizeof buf, "%04u", frac);
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        out += "." + f;
    }
    return out;
}

}  // namespace com::detail

namespace {

using com::detail::DecimalText;
using i128 = __int128;

// The intermediate form of a scalar on its way to another type.
struct Number {
    enum Kind { Int, Real, Currency, Text } kind = Int;
    i128 i = 0;
    double r = 0;
    LONGLONG cy = 0;
    DecimalText text;
};

const i128 kI128Limit = i128(1) << 100;  // beyond every target's range

// Half to even at an exact .5; x - floor(x) is exact in binary floating point.
bool RoundReal(double x, i128* out) {
    if (!std::isfinite(x)) return false;
    double f = std::floor(x);
    double diff = x - f;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0)) f += 1.0;
    if (std::fabs(f) >= 1e30) return false;
    *out = i128(f);
    return true;
}

// value / divisor, half to even. divisor > 0.
i128 RoundDiv(i128 value, i128 divisor) {
    i128 q = value / divisor, r = value % divisor;
    if (r < 0) {
        r += divisor;
        q -= 1;
    }
    if (r * 2 > divisor || (r * 2 == divisor && (q & 1))) q += 1;
    return q;
}

// digits * 10^(exponent + shift), half to even; false past ~10^38.
bool RoundText(const DecimalText& t, long shift, i128* out) {
    long e = t.exponent + shift;
    const std::string& d = t.digits;
    if (d.empty()) {
        *out = 0;
        return true;
    }
    long intLen = long(d.size()) + e;
    if (intLen > 38) return false;
    i128 v = 0;
    for (long k = 0; k < intLen; ++k) v = v * 10 + (k < long(d.size()) ? d[size_t(k)] - '0' : 0);
    if (intLen >= 0 && intLen < long(d.size())) {
        int first = d[size_t(intLen)] - '0';
        bool rest = d.find_first_not_of('0', size_t(intLen) + 1) != std::string::npos;
        if (first > 5 || (first == 5 && (rest || (v & 1)))) v += 1;
    }
    *out = t.negative ? -v : v;
    return true;
}

bool TextToDouble(const DecimalText& t, double* out) {
    if (t.digits.empty()) {
        *out = 0;
        return true;
    }
    std::string s = t.digits + "e" + std::to_string(t.exponent);
    double v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is an error.
        if (long(t.digits.size()) + t.exponent < 0) v = 0;
        else return false;
    } else if (res.ec != std::errc()) {
        return false;
    }
    *out = t.negative ? -v : v;
    return true;
}

double ToDouble(const Number& n) {
    switch (n.kind) {
    case Number::Int: return double(n.i);
    case Number::Real: return n.r;
    case Number::Currency: return double(n.cy) / 10000.0;
    case Number::Text: break;
    }
    return 0;
}

bool IntRange(VARTYPE vt, i128* lo, i128* hi) {
    switch (vt) {
    case VT_I1: *lo = INT8_MIN; *hi = INT8_MAX; return true;
    case VT_UI1: *lo = 0; *hi = UINT8_MAX; return true;
    case VT_I2: *lo = INT16_MIN; *hi = INT16_MAX; return true;
    case VT_UI2: *lo = 0; *hi = UINT16_MAX; return true;
    case VT_I4: case VT_INT: *lo = INT32_MIN; *hi = INT32_MAX; return true;
    case VT_UI4: case VT_UINT: *lo = 0; *hi = UINT32_MAX; return true;
    case VT_I8: *lo = INT64_MIN; *hi = INT64_MAX; return true;
    case VT_UI8: *lo = 0; *hi = UINT64_MAX; return true;
    default: return false;
    }
}

void StoreInt(VARIANT* v, VARTYPE vt, i128 x) {
    v->vt = vt;
    switch (vt) {
    case VT_I1: v->cVal = CHAR(x); break;
    case VT_UI1: v->bVal = BYTE(x); break;
    case VT_I2: v->iVal = SHORT(x); break;
    case VT_UI2: v->uiVal = USHORT(x); break;
    case VT_I4: v->lVal = LONG(x); break;
    case VT_INT: v->intVal = INT(x); break;
    case VT_UI4: v->ulVal = ULONG(x); break;
    case VT_UINT: v->uintVal = UINT(x); break;
    case VT_I8: v->llVal = LONGLONG(x); break;
    case VT_UI8: v->ullVal = ULONGLONG(x); break;
    default: break;
    }
}

// A scalar source as a Number. Text stays as digits until the target is known.
HRESULT ToNumber(const VARIANT& s, Number* n) {
    switch (s.vt) {
    case VT_EMPTY: n->kind = Number::Int; n->i = 0; return S_OK;
    case VT_NULL: return DISP_E_TYPEMISMATCH;
    case VT_I1: n->i = s.cVal; return S_OK;
    case VT_UI1: n->i = s.bVal; return S_OK;
    case VT_I2: n->i = s.iVal; return S_OK;
    case VT_UI2: n->i = s.uiVal; return S_OK;
    case VT_I4: n->i = s.lVal; return S_OK;
    case VT_INT: n->i = s.intVal; return S_OK;
    case VT_UI4: n->i = s.ulVal; return S_OK;
    case VT_UINT: n->i = s.uintVal; return S_OK;
    case VT_I8: n->i = s.llVal; return S_OK;
    case VT_UI8: n->i = s.ullVal; return S_OK;
    case VT_BOOL: n->i = s.boolVal ? -1 : 0; return S_OK;
    case VT_R4: n->kind = Number::Real; n->r = s.fltVal; return S_OK;
    case VT_R8: n->kind = Number::Real; n->r = s.dblVal; return S_OK;
    case VT_DATE: n->kind = Number::Real; n->r = s.date; return S_OK;
    case VT_CY: n->kind = Number::Currency; n->cy = s.cyVal.int64; return S_OK;
    case VT_BSTR: {
        n->kind = Number::Text;
        std::u16string_view t(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal));
        return com::detail::ParseNumber(t, &n->text) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT NumberToInt(const Number& n, VARTYPE vt, VARIANT* out) {
    i128 lo, hi, x = 0;
    IntRange(vt, &lo, &hi);
    switch (n.kind) {
    case Number::Int: x = n.i; break;
    case Number::Real:
        if (!RoundReal(n.r, &x)) return DISP_E_OVERFLOW;
        break;
    case Number::Currency: x = RoundDiv(n.cy, 10000); break;
    case Number::Text:
        if (!RoundText(n.text, 0, &x)) return DISP_E_OVERFLOW;
        // "&HFFFF" is -1 as a 16-bit integer: hex and octal text gives the bits.
        if (n.text.based && lo < 0 && x > hi && x <= 2 * hi + 1) x -= 2 * hi + 2;
        break;
    }
    if (x < lo || x > hi) return DISP_E_OVERFLOW;
    StoreInt(out, vt, x);
    return S_OK;
}

HRESULT NumberToDouble(const Number& n, double* out) {
    if (n.kind == Number::Text) return TextToDouble(n.text, out) ? S_OK : DISP_E_OVERFLOW;
    *out = ToDouble(n);
    return S_OK;
}

HRESULT NumberToCurrency(const Number& n, LONGLONG* out) {
    i128 x = 0;
    switch (n.kind) {
    case Number::Int:
        if (n.i > kI128Limit || n.i < -kI128Limit) return DISP_E_OVERFLOW;
        x = n.i * 10000;
        break;
    case Number::Real:
        if (!RoundReal(n.r * 10000.0, &x)) return DISP_E_OVERFLOW;
        break;
    case Number::Currency: x = n.cy; break;
    case Number::Text:
        if (!RoundText(n.text, 4, &x)) return DISP_E_OVERFLOW;
        break;
    }
    if (x < INT64_MIN || x > INT64_MAX) return DISP_E_OVERFLOW;
    *out = LONGLONG(x);
    return S_OK;
}

bool EqualsNoCase(std::u16string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t c = a[i];
        if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
        if (c != char16_t(b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i])) return false;
    }
    return true;
}

std::u16string_view Trimmed(BSTR b) {
    std::u16string_view t(b ? b : u"", SysStringLen(b));
    while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == u' ' || t.back() == u'\t')) t.remove_suffix(1);
    return t;
}

HRESULT ToText(const VARIANT& s, WORD flags, VARIANT* out) {
    std::string text;
    switch (s.vt) {
    case VT_EMPTY: break;
    case VT_BOOL:
        if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) text = s.boolVal ? "True" : "False";
        else text = s.boolVal ? "-1" : "0";
        break;
    case VT_R4: text = com::detail::FormatReal(s.fltVal, 7); break;
    case VT_R8: text = com::detail::FormatReal(s.dblVal, 15); break;
    case VT_DATE: text = com::detail::FormatDate(s.date); break;
    case VT_CY: text = com::detail::FormatCurrency(s.cyVal.int64); break;
    default: {
        Number n;
        HRESULT hr = ToNumber(s, &n);
        if (FAILED(hr)) return hr;
        if (n.kind != Number::Int) return DISP_E_TYPEMISMATCH;
        bool neg = n.i < 0;
        unsigned __int128 mag = neg ? (unsigned __int128)(-n.i) : (unsigned __int128)n.i;
        text = std::to_string(uint64_t(mag));
        if (neg) text.insert(text.begin(), '-');
    }
    }
    std::u16string u(text.begin(), text.end());  // ASCII only
    BSTR b = SysAllocStringLen(u.data(), UINT(u.size()));
    if (!b) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = b;
    return S_OK;
}

// The default member of an object (DISPID_VALUE property get), for conversions of
// an object to a scalar.
HRESULT DefaultValue(IDispatch* d, VARIANT* out) {
    if (!d) return DISP_E_TYPEMISMATCH;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VariantInit(out);
    HRESULT hr = d->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr,
                           nullptr);
    if (FAILED(hr)) {
        VariantClear(out);
        return DISP_E_TYPEMISMATCH;
    }
    if (out->vt == VT_DISPATCH || out->vt == VT_UNKNOWN) {
        VariantClear(out);
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Convert(const VARIANT& s, WORD flags, VARTYPE vt, VARIANT* out) {
    if (s.vt == vt) return VariantCopy(out, &s);
    if (s.vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) return S_OK;  // out is already Empty
    if (vt == VT_NULL) {
        if (s.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
        out->vt = VT_NULL;
        return S_OK;
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (s.vt != VT_DISPATCH && s.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        if (!s.punkVal) {
            out->vt = vt;
            out->punkVal = nullptr;
            return S_OK;
        }
        void* p = nullptr;
        HRESULT hr = s.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        out->vt = vt;
        out->punkVal = static_cast<IUnknown*>(p);
        return S_OK;
    }
    if (s.vt == VT_DISPATCH || s.vt == VT_UNKNOWN) {
        if (s.vt == VT_UNKNOWN || (flags & VARIANT_NOVALUEPROP)) return DISP_E_TYPEMISMATCH;
        VARIANT value;
        HRESULT hr = DefaultValue(s.pdispVal, &value);
        if (FAILED(hr)) return hr;
        hr = Convert(value, flags, vt, out);
        VariantClear(&value);
        return hr;
    }
    if (s.vt == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    if (s.vt == VT_NULL) return DISP_E_TYPEMISMATCH;

    if (vt == VT_BSTR) return ToText(s, flags, out);

    if (vt == VT_BOOL && s.vt == VT_BSTR) {
        std::u16string_view t = Trimmed(s.bstrVal);
        if (EqualsNoCase(t, "true")) {
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_TRUE;
            return S_OK;
        }
        if (EqualsNoCase(t, "false")) {
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_FALSE;
            return S_OK;
        }
    }
    if (vt == VT_DATE && s.vt == VT_BSTR) {
        DATE d;
        std::u16string_view t(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal));
        if (!com::detail::ParseDate(t, &d)) return DISP_E_TYPEMISMATCH;
        out->vt = VT_DATE;
        out->date = d;
        return S_OK;
    }

    Number n;
    HRESULT hr = ToNumber(s, &n);
    if (FAILED(hr)) return hr;
    i128 lo, hi;
    if (IntRange(vt, &lo, &hi)) return NumberToInt(n, vt, out);
    switch (vt) {
    case VT_R4: {
        double d;
        if (FAILED(hr = NumberToDouble(n, &d))) return hr;
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        out->vt = VT_R4;
        out->fltVal = float(d);
        return S_OK;
    }
    case VT_R8: {
        double d;
        if (FAILED(hr = NumberToDouble(n, &d))) return hr;
        out->vt = VT_R8;
        out->dblVal = d;
        return S_OK;
    }
    case VT_DATE: {
        double d;
        if (FAILED(hr = NumberToDouble(n, &d))) return hr;
        if (!(d > com::detail::kMinDate - 1.0 && d < com::detail::kMaxDate)) return DISP_E_OVERFLOW;
        out->vt = VT_DATE;
        out->date = d;
        return S_OK;
    }
    case VT_CY: {
        LONGLONG c;
        if (FAILED(hr = NumberToCurrency(n, &c))) return hr;
        out->vt = VT_CY;
        out->cyVal.int64 = c;
        return S_OK;
    }
    case VT_BOOL: {
        bool b = false;
        switch (n.kind) {
        case Number::Int: b = n.i != 0; break;
        case Number::Real: b = n.r != 0; break;
        case Number::Currency: b = n.cy != 0; break;
        case Number::Text: b = !n.text.digits.empty(); break;
        }
        out->vt = VT_BOOL;
        out->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
    }
}

bool KnownTarget(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_BOOL: case VT_ERROR: case VT_DISPATCH: case VT_UNKNOWN:
        return true;
    default: return false;
    }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    bool arraySame = (vt & VT_ARRAY) && vt == src->vt;
    if (!arraySame && !KnownTarget(vt)) return DISP_E_BADVARTYPE;
    // Work on a dereferenced copy so that dest may equal src and dest stays
    // untouched when the conversion fails.
    VARIANT in;
    VariantInit(&in);
    HRESULT hr = VariantCopyInd(&in, src);
    if (FAILED(hr)) return hr;
    VARIANT out;
    VariantInit(&out);
    hr = Convert(in, flags, vt, &out);
    VariantClear(&in);
    if (FAILED(hr)) {
        VariantClear(&out);
        return hr;
    }
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&out);
        return hr;
    }
    *dest = out;
    return S_OK;
}
