// The header and footer line of a printed graph: "&1" .. "&6" place a segment
// (1-3 top left, centre, right; 4-6 bottom), "&p"/"&P" is the page number and
// "&n"/"&N" the number of pages. A place code after text starts a new segment.
#pragma once

#include <string>
#include <vector>

namespace nodars {

struct HeaderSegment {
    int place = 2;
    std::u16string text;
    bool operator==(const HeaderSegment&) const = default;
};

// Segments expanded for one page; each holds at most 79 characters.
inline std::vector<HeaderSegment> ExpandHeader(const std::u16string& format, int page, int pages) {
    constexpr size_t kMax = 79;
    std::vector<HeaderSegment> out;
    HeaderSegment seg;
    bool started = false;  // the segment holds text
    auto append = [&](const std::u16string& s) {
        for (char16_t ch : s)
            if (seg.text.size() < kMax) seg.text.push_back(ch);
        started = true;
    };
    auto number = [](int v) {
        std::u16string s;
        for (char c : std::to_string(v)) s.push_back(char16_t(c));
        return s;
    };
    for (size_t i = 0; i < format.size(); ++i) {
        const char16_t ch = format[i];
        const char16_t next = i + 1 < format.size() ? format[i + 1] : u'\0';
        if (ch == u'&' && next >= u'1' && next <= u'6') {
            if (started) {
                out.push_back(seg);
                seg = HeaderSegment();
                started = false;
            }
            seg.place = next - u'0';
            ++i;
        } else if (ch == u'&' && (next == u'p' || next == u'P')) {
            append(number(page));
            ++i;
        } else if (ch == u'&' && (next == u'n' || next == u'N')) {
            append(number(pages));
            ++i;
        } else {
            append(std::u16string(1, ch));
        }
    }
    if (started) out.push_back(seg);
    return out;
}

}  // namespace nodars
