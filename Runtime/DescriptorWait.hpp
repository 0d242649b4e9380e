#pragma once

#include <chrono>

#include "Runtime/CancelToken.hpp"

namespace quib {

// A blocking wait for one descriptor that a cancel token ends at once.
struct DescriptorWait {
    enum class Outcome { ready, cancelled, timedOut, failed };
    using Deadline = std::chrono::steady_clock::time_point;

    DescriptorWait() = delete;

    // Waits until `fd` reports one of `events` (or an error or hang-up), the token is cancelled
    // or `deadline` passes, whichever comes first. A cancel wins over a ready descriptor.
    static Outcome until(int fd, short events, Deadline deadline, const CancelToken& cancel);
};

}  // namespace quib
