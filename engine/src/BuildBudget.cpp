#include "BuildBudget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace trx {

uint64_t BuildBudget::Need(const GrowInput& in, int threads) {
    const size_t n = size_t(in.rowCount);
    // Classes present, read as the growth reads them.
    const int declared = std::max(1, int(in.maxClass) + 1);
    std::vector<uint8_t> present(size_t(declared), 0);
    const std::vector<uint32_t>& classSlot = in.slots->back();
    for (size_t i = 0; i < n; ++i) {
        int code = int16_t(uint16_t(classSlot[i] & 0xFFFF));
        if (code < 0 || code >= declared) code = 0;
        present[size_t(code)] = 1;
    }
    const uint64_t classes = std::max<uint64_t>(1, uint64_t(std::count(present.begin(), present.end(), 1)));

    uint64_t tableCells = 0;  // value-by-class cells of one thread
    uint64_t widest = 0;      // branches of the widest discrete split
    uint64_t discrete = 0, continuous = 0;
    for (int a = 0; a <= in.lastAttr; ++a) {
        if (in.attrKind[size_t(a)] == 1) continue;
        const int count = in.valueCount[size_t(a)];
        if (count == 0) {
            ++continuous;
            continue;
        }
        ++discrete;
        std::vector<uint8_t> seen(size_t(count) + 1, 0);
        const std::vector<uint32_t>& col = (*in.slots)[size_t(a)];
        for (size_t i = 0; i < n; ++i) {
            const int v = int16_t(uint16_t(col[i] & 0xFFFF));
            if (v > 0 && v <= count) seen[size_t(v)] = 1;
        }
        const uint64_t values = uint64_t(std::count(seen.begin(), seen.end(), 1));
        tableCells += (values + 1) * (classes + 1);
        widest = std::max(widest, uint64_t(count) + 1);
    }

    const uint64_t works = threads > 1 && in.rowCount >= Grower::kParallelRows ? uint64_t(threads) : 1;
    const uint64_t rows = n * (24 + 2 * discrete + 20 * continuous);
    const uint64_t tables = works * (tableCells * sizeof(float) + classes * 34);
    const uint64_t node = sizeof(TreeNode) + classes * sizeof(float) + 16;
    return rows + tables + (discrete ? 3 * widest * node : 0);
}

uint64_t BuildBudget::Limit() {
    if (const char* env = std::getenv("TESSARY_ENGINE_MEMORY_MB")) {
        char* end = nullptr;
        const unsigned long long mb = std::strtoull(env, &end, 10);
        if (end != env && *end == 0) return mb > (UINT64_MAX >> 20) ? UINT64_MAX : uint64_t(mb) << 20;
    }
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return UINT64_MAX;
    return uint64_t(pages) * uint64_t(size) / 2;
}

}  // namespace trx
