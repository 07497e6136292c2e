// Little-endian reading and writing of the control's binary formats (graph
// files, stored-property blobs, picture files). Reads are checked against the
// bytes left: a short read sets ok = false and returns 0, never reads past the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace nodars {

// Names and labels are 8-bit text in the Windows-1252 code page.
inline char16_t Cp1252ToWide(uint8_t b) {
    static const char16_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b);
}

inline uint8_t Cp1252FromWide(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return uint8_t(c);
    for (int b = 0x80; b < 0xA0; ++b)
        if (Cp1252ToWide(uint8_t(b)) == c) return uint8_t(b);
    return uint8_t('?');
}

inline std::string ToNarrow(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s) out.push_back(char(Cp1252FromWide(c)));
    return out;
}

inline std::u16string FromNarrow(const uint8_t* p, size_t n) {
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out.push_back(Cp1252ToWide(p[i]));
    return out;
}

class ByteWriter {
public:
    std::vector<uint8_t> out;
    void I16(int32_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(uint32_t(v) >> 8));
    }
    void I32(int32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    }
    void F32(float f) {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        I32(int32_t(u));
    }
    void Bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    void Bytes(const std::vector<uint8_t>& v) { out.insert(out.end(), v.begin(), v.end()); }
};

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    explicit ByteReader(const std::vector<uint8_t>& v) : mData(v.data()), mSize(v.size()) {}

    bool ok = true;
    size_t pos = 0;

    size_t Left() const { return pos <= mSize ? mSize - pos : 0; }
    bool Need(size_t n) {
        if (!ok || n > Left()) ok = false;
        return ok;
    }
    int16_t I16() {
        if (!Need(2)) return 0;
        int16_t v = int16_t(mData[pos] | mData[pos + 1] << 8);
        pos += 2;
        return v;
    }
    uint16_t U16() { return uint16_t(I16()); }
    uint8_t U8() {
        if (!Need(1)) return 0;
        return mData[pos++];
    }
    int32_t I32() {
        if (!Need(4)) return 0;
        uint32_t v = uint32_t(mData[pos]) | uint32_t(mData[pos + 1]) << 8 | uint32_t(mData[pos + 2]) << 16 |
                     uint32_t(mData[pos + 3]) << 24;
        pos += 4;
        return int32_t(v);
    }
    uint32_t U32() { return uint32_t(I32()); }
    float F32() {
        uint32_t u = U32();
        float f;
        std::memcpy(&f, &u, 4);
        return f;
    }
    // n bytes, or an empty vector and ok = false when fewer are left.
    std::vector<uint8_t> Bytes(size_t n) {
        if (!Need(n)) return {};
        std::vector<uint8_t> v(mData + pos, mData + pos + n);
        pos += n;
        return v;
    }
    const uint8_t* Here() const { return mData + pos; }
    void Skip(size_t n) {
        if (Need(n)) pos += n;
    }

private:
    const uint8_t* mData;
    size_t mSize;
};

}  // namespace nodars
