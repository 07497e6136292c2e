// What a build will take, worked out from the rows before anything is allocated, and
// what it may take. Linux hands out memory it does not have, so an allocation that is
// too large does not fail: the machine runs out instead. A build whose tables cannot
// fit is refused up front.
#pragma once

#include <cstdint>

#include "Grower.h"

namespace trx {

class BuildBudget {
public:
    // Bytes a growth of `in` with `threads` threads and its pruning need at least: the
    // per-row arrays, one value-by-class table per discrete attribute and thread (sized
    // by the values and classes present), and the nodes of one split on the attribute
    // with the most values, each holding a weight per class, in the grown tree, the
    // pruning's notes and the pruned tree.
    static uint64_t Need(const GrowInput& in, int threads);
    // TESSARY_ENGINE_MEMORY_MB when set (a whole number of megabytes), else half the
    // machine's physical memory: the estimate is a floor, and the rest of the program
    // and of the machine need room too.
    static uint64_t Limit();
};

}  // namespace trx
