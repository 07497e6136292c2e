// A growable array whose items are left unset, used as a stack: `top` items are in
// use. Growing copies only those. Its block is charged to `held`'s budget, if any.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "Budget.h"

namespace trx {

template <class T>
struct Arena {
    std::unique_ptr<T[]> data;
    size_t cap = 0, top = 0;
    Held held;
    void Ensure(size_t need) {
        if (need <= cap) return;
        size_t grown = std::max(need, cap + cap / 2 + 1024);
        Held charge;  // the old block lives on until the copy is made
        charge.Use(held.Of());
        charge.Set(uint64_t(grown) * sizeof(T));
        auto fresh = std::make_unique_for_overwrite<T[]>(grown);
        if (top) std::memcpy(fresh.get(), data.get(), top * sizeof(T));
        data = std::move(fresh);
        held = std::move(charge);
        cap = grown;
    }
    void Free() {
        data.reset();
        held.Drop();
        cap = top = 0;
    }
};

}  // namespace trx
