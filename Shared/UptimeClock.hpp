#pragma once

#include <cstdint>

#include "Runtime/Clock.hpp"

namespace quib {

// The host's uptime in nanoseconds: the monotonic clock since boot, as the injected Clock gives
// it. Video, text, state and audio frames carry it as their capture time and the timing samples
// measure with it, so a phone can set sound, picture and samples side by side.
struct UptimeClock {
    static std::uint64_t nanos(MonoTime time) {
        const auto count = time.time_since_epoch().count();
        return count > 0 ? static_cast<std::uint64_t>(count) : 0;
    }
    static std::uint64_t nanos(const Clock& clock) { return nanos(clock.now()); }
};

}  // namespace quib
