#include "com/com.h"

#include <cstring>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

namespace {

int Hex(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Exactly "{8-4-4-4-12}" with hex digits of either case; nothing before or after.
template <class Ch>
bool ParseGuid(const Ch* s, size_t len, GUID* out) {
    if (!s || len != 38 || s[0] != '{' || s[37] != '}') return false;
    static const int dashes[] = {9, 14, 19, 24};
    for (int d : dashes)
        if (s[d] != '-') return false;
    uint8_t bytes[16];
    int b = 0;
    for (size_t i = 1; i < 37;) {
        if (s[i] == '-') {
            ++i;
            continue;
        }
        int h = Hex(char16_t(s[i])), l = Hex(char16_t(s[i + 1]));
        if (h < 0 || l < 0 || b >= 16) return false;
        bytes[b++] = uint8_t(h * 16 + l);
        i += 2;
    }
    if (b != 16) return false;
    GUID g;
    g.Data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
    g.Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
    std::memcpy(g.Data4, bytes + 8, 8);
    *out = g;
    return true;
}

size_t Len16(LPCOLESTR s) {
    size_t n = 0;
    if (s)
        while (s[n] && n < 64) ++n;  // longer than any GUID text: length alone rejects it
    return n;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out) {
    if (!out) return E_POINTER;
    if (!ParseGuid(text, Len16(text), out)) {
        *out = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* out) {
    if (!out) return E_POINTER;
    if (!ParseGuid(text, Len16(text), out)) {
        *out = GUID_NULL;
        return E_INVALIDARG;
    }
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
    if (!buffer || cchMax < 39) return 0;
    std::string s = com::GuidToString(guid);
    for (size_t i = 0; i < s.size(); ++i) buffer[i] = char16_t(s[i]);
    buffer[s.size()] = 0;
    return int(s.size() + 1);
}

namespace com {

std::string GuidToString(const GUID& g) {
    char buf[40];
    snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.Data1),
             unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
             g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool GuidFromString(const std::string& text, GUID* out) {
    GUID g;
    if (!ParseGuid(text.c_str(), text.size(), &g)) return false;
    if (out) *out = g;
    return true;
}

// Invalid UTF-8 becomes U+FFFD per bad byte; lone surrogates in UTF-16 likewise.
std::u16string ToU16(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            len = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            len = 4;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            else cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                   (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
            ok = false;
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

std::string ToUtf8(const OLECHAR* s, size_t len) {
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < len && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | cp >> 6));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | cp >> 12));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | cp >> 18));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string ToUtf8(const std::u16string& utf16) { return ToUtf8(utf16.data(), utf16.size()); }

}  // namespace com
