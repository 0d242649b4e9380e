#pragma once

#include <cstdint>
#include <optional>

#include "Runtime/Clock.hpp"

namespace quib {

// The rate of pointer moves of every connection together, reported at most once a second. The
// window runs from the last report, so the first report after a pause shows a low rate.
//
// Threads: not thread-safe; the server counts on its network queue only.
class PointerRate {
public:
    static constexpr MonoTime::duration window = std::chrono::seconds(1);

    explicit PointerRate(MonoTime start) : windowStart_(start) {}

    // Counts one move at `now`. Once a whole window has passed since the last report, gives the
    // moves per second since then, and the next window starts at `now`.
    std::optional<double> count(MonoTime now);

private:
    std::int64_t count_ = 0;
    MonoTime windowStart_;
};

}  // namespace quib
