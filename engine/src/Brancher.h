// The branch of a row under a node's test, read from the rows' columns; 0 for an
// unknown value.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace trx {

inline constexpr uint32_t kMissingBits = 0xC479C000u;  // -999.0f

struct Brancher {
    bool threshold = true;
    const uint32_t* col = nullptr;  // threshold test: the attribute's slots
    float cut = 0;
    const uint16_t* values = nullptr;  // value test: values, stride apart; none: col's codes
    size_t stride = 0;
    const uint16_t* codes = nullptr;  // dense value -> value; none: the values are codes
    int count = 0;                    // col's codes: one outside 1..count is unknown
    int operator()(uint32_t id) const {
        if (threshold) {
            const uint32_t bits = col[id];
            // Without a jump: the outcome is as good as random.
            return int(bits != kMissingBits) * (2 - int(std::bit_cast<float>(bits) <= cut));
        }
        if (!values) {
            const int code = int16_t(uint16_t(col[id]));
            return code > 0 && code <= count ? code : 0;
        }
        const uint16_t v = values[size_t(id) * stride];
        return codes ? codes[v] : v;
    }
};

}  // namespace trx
