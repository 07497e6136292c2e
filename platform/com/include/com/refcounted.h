// The one reference count of the runtime's objects: a class lists the interfaces it
// implements and gets AddRef/Release for all of them.
#pragma once

#include <atomic>

#include "com/unknown.h"

namespace com {

// An object is born holding one reference, the creator's, and deletes itself when
// Release brings the count to zero. Atomic: an object may be released on another
// thread than the one that made it (a worker's snapshot of event sinks).
template <class... Interfaces>
class RefCounted : public Interfaces... {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace com
