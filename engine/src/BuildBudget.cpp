#include "BuildBudget.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace trx {
namespace {

// The first line of a file, empty when it cannot be read.
std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

// A limit file's bytes; UINT64_MAX for "max", a missing file or v1's "no limit" (a
// page-rounded LLONG_MAX).
uint64_t LimitIn(const std::string& path) {
    const std::string text = FirstLine(path);
    if (text.empty() || text == "max") return UINT64_MAX;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || v >= (1ull << 62)) return UINT64_MAX;
    return v;
}

}  // namespace

std::optional<uint64_t> BuildBudget::ParseMegabytes(const char* text) {
    const char* p = text;
    while (*p == ' ') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return std::nullopt;
    uint64_t mb = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (mb > (UINT64_MAX >> 20) / 10) return std::nullopt;
        mb = mb * 10 + uint64_t(*p - '0');
    }
    if (mb > (UINT64_MAX >> 20)) return std::nullopt;
    while (*p == ' ') ++p;
    if ((p[0] == 'M' || p[0] == 'm') && (p[1] == 'B' || p[1] == 'b')) p += 2;
    while (*p == ' ') ++p;
    if (*p) return std::nullopt;
    return mb << 20;
}

uint64_t BuildBudget::CgroupLimit(const std::string& root, const std::string& selfCgroup) {
    uint64_t limit = UINT64_MAX;
    std::istringstream lines(selfCgroup);
    std::string line;
    while (std::getline(lines, line)) {
        // hierarchy-id:controllers:path
        const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        std::string path = line.substr(b + 1);
        if (controllers.empty() && line.compare(0, a, "0") == 0) {
            // v2: the group and each parent up to the root may set memory.max. Inside a
            // namespace the path may not be there: the root's file is the group's then.
            for (;;) {
                limit = std::min(limit, LimitIn(root + path + (path == "/" ? "" : "/") + "memory.max"));
                if (path.empty() || path == "/") break;
                const size_t slash = path.rfind('/');
                path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
            }
        } else {
            std::istringstream list(controllers);
            std::string c;
            bool memory = false;
            while (std::getline(list, c, ',')) memory = memory || c == "memory";
            if (!memory) continue;
            uint64_t v1 = LimitIn(root + "/memory" + path + "/memory.limit_in_bytes");
            if (v1 == UINT64_MAX) v1 = LimitIn(root + "/memory/memory.limit_in_bytes");
            limit = std::min(limit, v1);
        }
    }
    return limit;
}

std::optional<uint64_t> BuildBudget::Limit() {
    if (const char* env = std::getenv("TESSARY_ENGINE_MEMORY_MB")) return ParseMegabytes(env);
    uint64_t limit = UINT64_MAX;
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && size > 0) limit = uint64_t(pages) * uint64_t(size);
    std::ifstream self("/proc/self/cgroup");
    std::stringstream text;
    text << self.rdbuf();
    limit = std::min(limit, CgroupLimit("/sys/fs/cgroup", text.str()));
    return limit == UINT64_MAX ? limit : limit / 2;
}

namespace {

// run(threads) with half the threads each time it runs out of memory, down to one;
// below parallelRows rows a build runs on one thread anyway.
template <class Run>
std::unique_ptr<TreeNode> WithFewerThreads(int32_t rowCount, int32_t parallelRows, int threads, Run run) {
    if (rowCount < parallelRows) threads = 1;
    for (;; threads /= 2) {
        try {
            return run(threads);
        } catch (const std::bad_alloc&) {
            if (threads <= 1) throw;
        }
    }
}

}  // namespace

std::unique_ptr<TreeNode> GrowWithin(Grower& grower, ProgressSink* sink, const int16_t* cancel, int threads) {
    return WithFewerThreads(grower.RowCount(), Grower::kParallelRows, threads,
                            [&](int t) { return grower.Grow(sink, cancel, t); });
}

std::unique_ptr<TreeNode> PruneWithin(Pruner& pruner, const TreeNode& grown, float cf, int threads) {
    return WithFewerThreads(pruner.RowCount(), Pruner::kParallelRows, threads,
                            [&](int t) { return pruner.Prune(grown, cf, t); });
}

}  // namespace trx
