// Replaces operator new to record the largest single request, so that a test
// sees a damaged input refused before its counts size anything, and to fail
// requests on demand, so that a test sees what an out-of-memory does. Include
// it in one source file of a test program only.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

inline std::atomic<size_t> gLargest{0};
// Requests of at least this many bytes throw bad_alloc.
inline std::atomic<size_t> gFailFrom{SIZE_MAX};

// Every allocation fails while one of these lives.
class FailingAllocations {
public:
    FailingAllocations() { gFailFrom = 0; }
    ~FailingAllocations() { gFailFrom = SIZE_MAX; }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

// Counted allocations go through malloc, so free releases them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    size_t seen = gLargest.load();
    while (n > seen && !gLargest.compare_exchange_weak(seen, n)) {
    }
    if (n >= gFailFrom.load()) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t n) { return ::operator new(n); }
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return ::operator new(n, t); }
// Every delete frees, whichever new a library compiled elsewhere called.
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
