// Graph-plane geometry: 32-bit points and rectangles (left, top, right, bottom),
// and MulDiv with the platform's rounding.
#pragma once

#include <algorithm>
#include <cstdint>

namespace nodars {

// a * b / c through a 64-bit intermediate, rounded half away from zero;
// -1 for a zero divisor or a result that does not fit in 32 bits.
inline int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t p = int64_t(a) * b;
    bool negative = (p < 0) != (c < 0);
    uint64_t ap = p < 0 ? uint64_t(-p) : uint64_t(p);
    uint64_t ac = c < 0 ? uint64_t(-int64_t(c)) : uint64_t(c);
    uint64_t q = (ap + ac / 2) / ac;
    if (q > (negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX))) return -1;
    return negative ? int32_t(-int64_t(q)) : int32_t(q);
}

struct GPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const GPoint&) const = default;
};

struct GRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool operator==(const GRect&) const = default;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    int32_t CentreX() const { return (left + right) / 2; }
    int32_t CentreY() const { return (top + bottom) / 2; }
    void Offset(int32_t dx, int32_t dy) { left += dx; right += dx; top += dy; bottom += dy; }
    void Inflate(int32_t dx, int32_t dy) { left -= dx; right += dx; top -= dy; bottom += dy; }
    void MoveTo(int32_t x, int32_t y) { Offset(x - left, y - top); }
    // Union as the platform does it: an empty operand does not count.
    static GRect Union(const GRect& a, const GRect& b) {
        if (a.IsEmpty()) return b.IsEmpty() ? GRect{} : b;
        if (b.IsEmpty()) return a;
        return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
    }
};

}  // namespace nodars
