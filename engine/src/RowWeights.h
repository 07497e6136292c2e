// Row weights while the rows of unknown value are spread over a node's branches;
// growth and pruning share it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trx {

// Sets the weights of rows `ids` to saved x factor, or back to saved without a factor;
// a branch always starts from the node's own weights. `work` keeps `weight` and the
// count of rows whose weight is not 1, `nonUnit`.
template <class Work>
void SetWeights(Work& work, const uint32_t* ids, const float* saved, size_t n, const float* factor) {
    for (size_t i = 0; i < n; ++i) {
        const float from = saved[i];
        const float to = factor ? from * *factor : from;
        const float now = factor ? from : work.weight[ids[i]];
        work.weight[ids[i]] = to;
        const bool wasUnit = now == 1.0f, isUnit = to == 1.0f;
        if (wasUnit && !isUnit) ++work.nonUnit;
        else if (!wasUnit && isUnit) --work.nonUnit;
    }
}

}  // namespace trx
