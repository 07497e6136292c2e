// A growable array whose items are left unset, used as a stack: `top` items are in
// use. Growing copies only those.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace trx {

template <class T>
struct Arena {
    std::unique_ptr<T[]> data;
    size_t cap = 0, top = 0;
    void Ensure(size_t need) {
        if (need <= cap) return;
        size_t grown = std::max(need, cap + cap / 2 + 1024);
        auto fresh = std::make_unique_for_overwrite<T[]>(grown);
        if (top) std::memcpy(fresh.get(), data.get(), top * sizeof(T));
        data = std::move(fresh);
        cap = grown;
    }
    void Free() {
        data.reset();
        cap = top = 0;
    }
};

}  // namespace trx
