// What a build may take, and the build run within it: the growth and the pruning charge
// their large blocks and their trees to a Budget as they are made (Budget.h), and one
// that passes it is tried again with fewer threads, which give the same tree, before
// the build is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Grower.h"
#include "Pruner.h"

namespace trx {

class BuildBudget {
public:
    // TESSARY_ENGINE_MEMORY_MB when set; else half of the smaller of the machine's
    // physical memory and the process's control-group limit, as the rest of the
    // program and of the machine need room too. None when the variable is set to
    // something that is not a size: the build is refused rather than run unbounded.
    static std::optional<uint64_t> Limit();

    // Bytes of a TESSARY_ENGINE_MEMORY_MB value: a whole number of megabytes, with or
    // without the unit ("64", "64MB", "64 mb"); none for anything else.
    static std::optional<uint64_t> ParseMegabytes(const char* text);
    // The memory limit of the control group that /proc/self/cgroup's text names, read
    // under `root` (normally /sys/fs/cgroup): cgroup v2 memory.max of the group and its
    // parents, or v1 memory.limit_in_bytes; UINT64_MAX when there is none.
    static uint64_t CgroupLimit(const std::string& root, const std::string& selfCgroup);
};

// A growth with up to `threads` threads, and fewer, down to one, while it passes its
// budget. Throws std::bad_alloc when one thread does not fit either.
std::unique_ptr<TreeNode> GrowWithin(Grower& grower, ProgressSink* sink, const int16_t* cancel, int threads);
// The same for a pruning.
std::unique_ptr<TreeNode> PruneWithin(Pruner& pruner, const TreeNode& grown, float cf, int threads);

}  // namespace trx
