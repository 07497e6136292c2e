// Text: UTF conversions, the one comparison of text, and Like.
//
// The program compares text one way, everywhere: as SQLite's own NOCASE does.
// The letters A-Z fold to a-z; every other character is itself, so texts
// compare by code point ("é" and "É" are two values, "_" sorts before "a").
// Any SQLite computes that order, so the indexes in the files we write are
// valid for every tool that reads them, and the statements we generate name
// NOCASE (kTextCollation) wherever text is compared, sorted or grouped,
// whatever collation a linked source declares. In-program lookups that must
// agree with the database (class names, key ranges, names) use CompareText.
#include "internal.h"

namespace dao::detail {
namespace {

// Decodes one code point from UTF-8; invalid bytes stand for themselves.
inline char32_t NextCp(const unsigned char*& p, const unsigned char* end) {
    unsigned c = *p++;
    if (c < 0x80) return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra == 0 || end - p < extra) return c;
    char32_t cp = c & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return c;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    p += extra;
    return cp;
}

inline char32_t NextCp16(const char16_t*& p, const char16_t* end) {
    char32_t c = *p++;
    if (c >= 0xD800 && c < 0xDC00 && p < end && *p >= 0xDC00 && *p < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
    }
    return c;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

char32_t FoldLower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE && c != 0xD7) return c + 32;
    if (c == 0x178) return 0xFF;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

// One element of a Like pattern matched at text position.
bool MatchClass(const std::u32string& pat, size_t& pi, char32_t ch) {
    // pat[pi] == '['
    size_t i = pi + 1;
    bool negate = false;
    if (i < pat.size() && pat[i] == '!') {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;
    while (i < pat.size() && (pat[i] != ']' || first)) {
        first = false;
        char32_t lo = pat[i];
        if (i + 2 < pat.size() && pat[i + 1] == '-' && pat[i + 2] != ']') {
            char32_t hi = pat[i + 2];
            if (ch >= lo && ch <= hi) hit = true;
            i += 3;
        } else {
            if (ch == lo) hit = true;
            ++i;
        }
    }
    pi = i < pat.size() ? i + 1 : i;  // past ']'
    return hit != negate;
}

bool LikeCps(const std::u32string& t, const std::u32string& p) {
    // Iterative matcher with backtracking to the last '*'.
    size_t ti = 0, pi = 0, starP = std::u32string::npos, starT = 0;
    while (ti < t.size()) {
        if (pi < p.size()) {
            char32_t pc = p[pi];
            if (pc == '*') {
                starP = ++pi;
                starT = ti;
                continue;
            }
            if (pc == '?') {
                ++pi;
                ++ti;
                continue;
            }
            if (pc == '#') {
                if (t[ti] >= '0' && t[ti] <= '9') {
                    ++pi;
                    ++ti;
                    continue;
                }
            } else if (pc == '[') {
                size_t np = pi;
                if (MatchClass(p, np, t[ti])) {
                    pi = np;
                    ++ti;
                    continue;
                }
            } else if (pc == t[ti]) {
                ++pi;
                ++ti;
                continue;
            }
        }
        if (starP == std::u32string::npos) return false;
        pi = starP;
        ti = ++starT;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

// The fold of the comparison: A-Z to a-z, nothing else.
inline char32_t FoldAscii(char32_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

std::u32string FoldedCps(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) out += FoldAscii(NextCp(p, end));
    return out;
}

}  // namespace

char32_t FoldUpper(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    if (c == 0xFF) return 0x178;
    if (c < 0x100) return c;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t(1);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 32;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 37;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 63;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

std::u16string Utf8ToU16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) {
        char32_t cp = NextCp(p, end);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

size_t U16Length(std::string_view s) {
    size_t n = 0;
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) n += NextCp(p, end) >= 0x10000 ? 2 : 1;
    return n;
}

std::string U16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    const char16_t* p = s.data();
    const char16_t* end = p + s.size();
    while (p < end) AppendUtf8(out, NextCp16(p, end));
    return out;
}

std::string UpperUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) AppendUtf8(out, FoldUpper(NextCp(p, end)));
    return out;
}

std::string LowerUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) AppendUtf8(out, FoldLower(NextCp(p, end)));
    return out;
}

int CompareUtf8(const char* a, size_t na, const char* b, size_t nb) {
    // Byte by byte, as NOCASE compares: UTF-8's byte order is code-point order.
    const size_t n = na < nb ? na : nb;
    for (size_t i = 0; i < n; ++i) {
        unsigned ca = static_cast<unsigned char>(a[i]);
        unsigned cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca += 32;
        if (cb >= 'A' && cb <= 'Z') cb += 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return na == nb ? 0 : na < nb ? -1 : 1;
}

std::string FoldForCompare(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return CompareUtf8(a.data(), a.size(), b.data(), b.size()) == 0;
}

LikePattern::LikePattern(std::string_view pattern) : raw_(pattern), folded_(FoldedCps(pattern)) {
    for (char32_t c : folded_)
        if (c == '*' || c == '?' || c == '#' || c == '[') plain_ = false;
}

bool LikePattern::Match(std::string_view text) const {
    if (plain_) return CompareUtf8(text.data(), text.size(), raw_.data(), raw_.size()) == 0;
    // One buffer per thread: a scan matches a million texts without allocating.
    thread_local std::u32string t;
    t.clear();
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    auto end = p + text.size();
    while (p < end) t += FoldAscii(NextCp(p, end));
    return LikeCps(t, folded_);
}

bool LikeUtf8(std::string_view text, std::string_view pattern) { return LikePattern(pattern).Match(text); }

std::string TrimSpaces(std::string_view s, bool left, bool right) {
    size_t b = 0, e = s.size();
    if (left)
        while (b < e && s[b] == ' ') ++b;
    if (right)
        while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace dao::detail

namespace dao {

int CompareText(std::u16string_view a, std::u16string_view b) {
    // By code point, as the UTF-8 bytes of the same texts compare.
    const char16_t* pa = a.data();
    const char16_t* ea = pa + a.size();
    const char16_t* pb = b.data();
    const char16_t* eb = pb + b.size();
    while (pa < ea && pb < eb) {
        char32_t ca = detail::FoldAscii(detail::NextCp16(pa, ea));
        char32_t cb = detail::FoldAscii(detail::NextCp16(pb, eb));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (pa < ea) return 1;
    if (pb < eb) return -1;
    return 0;
}

int CompareText(std::string_view a, std::string_view b) {
    return detail::CompareUtf8(a.data(), a.size(), b.data(), b.size());
}

bool LikeText(std::u16string_view text, std::u16string_view pattern) {
    return detail::LikeUtf8(detail::U16ToUtf8(text), detail::U16ToUtf8(pattern));
}

}  // namespace dao
