// A comma-separated text file of nominal data, made the same way every time:
// 286 rows, nine text fields f1..f9 whose values are "v1".."vN" (f5 has 8 "?",
// f8 has one), and a class "c1"/"c2" led mostly by f3 and f6. Its trees fan
// out wide and stay a few levels deep, as such data does.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <string>

namespace testsupport {

struct NominalTable {
    static constexpr int kRows = 286;
    static constexpr std::array<int, 9> kValues{6, 3, 11, 7, 2, 3, 2, 5, 2};
    static constexpr int kMissingF5 = 8;

    // Writes the file; the import names the table after it.
    static bool Write(const std::string& path) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "f1,f2,f3,f4,f5,f6,f7,f8,f9,class\n";
        uint32_t seed = 20240531;
        auto next = [&seed](int n) {
            seed = seed * 1664525u + 1013904223u;
            return int((seed >> 8) % uint32_t(n));
        };
        for (int r = 0; r < kRows; ++r) {
            std::array<int, 9> v{};
            for (size_t f = 0; f < v.size(); ++f) v[f] = next(kValues[f]);
            // f3 leads; two of its values hand the class on to f6.
            const bool led = v[2] < 5 ? false : v[2] < 9 ? true : v[5] == 2;
            const bool second = led != (next(25) == 0);
            for (size_t f = 0; f < v.size(); ++f) {
                const bool missing = (f == 4 && r % 36 == 7 && r < 36 * kMissingF5) || (f == 7 && r == 200);
                out << (missing ? std::string("?") : "v" + std::to_string(v[f] + 1)) << ',';
            }
            out << (second ? "c2" : "c1") << '\n';
        }
        return bool(out.flush());
    }
};

}  // namespace testsupport
