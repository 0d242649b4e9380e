#pragma once

#include <cstdint>
#include <optional>

#include "Runtime/Clock.hpp"

namespace quib {

// The failed-handshake record of one source address.
struct Throttle {
    std::int64_t failures = 0;               // failed handshakes counted
    MonoTime lastFailure = MonoTime::min();  // when the latest one happened
    std::optional<MonoTime> blockedUntil;    // the end of the current lock-out, if any

    bool operator==(const Throttle&) const = default;
};

}  // namespace quib
