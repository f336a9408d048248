#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

// The least and greatest of count integer samples ((max, lowest) for none),
// in the sample type and without branches, so that the loop vectorises: the
// hot loop of finding a scan's value range.
template <typename T> std::pair<T, T> integerExtremes(const T *samples, std::uint64_t count)
{
    T low = std::numeric_limits<T>::max();
    T high = std::numeric_limits<T>::lowest();
    for (std::uint64_t i = 0; i < count; ++i) {
        low = std::min(low, samples[i]);
        high = std::max(high, samples[i]);
    }
    return {low, high};
}
