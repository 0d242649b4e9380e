#pragma once

#include <cstdint>
#include <memory>

#include "Runtime/Clock.hpp"

namespace quib {

// The time approval records are stamped with: milliseconds since 1970-01-01 00:00:00 UTC,
// rounded to the nearest millisecond (halves away from zero).
//
// Decoders fill missing times from it, so it reads an injectable clock rather than the system
// time: tests install a FakeClock and get stable stamps.
class ApprovalClock {
public:
    // The installed clock's wall time in epoch milliseconds.
    static std::int64_t now();
    static std::int64_t millis(WallTime at);

    // Makes `clock` the source of `now()`; nullptr goes back to the system clock.
    static void use(std::shared_ptr<const Clock> clock);
};

}  // namespace quib
