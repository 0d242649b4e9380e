#pragma once

#include <cstdint>
#include <limits>

namespace quib {

// Arithmetic on epoch-millisecond times. Times from a peer can be anywhere in the 64-bit range,
// so sums and differences are held at the limits instead of overflowing: a time far in the past
// or the future still compares as such.

constexpr std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return sum;
}

constexpr std::int64_t saturatingSubtract(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return difference;
}

}  // namespace quib
