#pragma once

#include <cstdint>

namespace quib {

// Limits of the still channel, shared with the phone.
struct StillChannel {
    // The size cap of a still frame for readers of the channel.
    static constexpr std::int64_t maxStillBytes = 26214400;  // 25 MiB
    // The long edge, in pixels, asked for when a still request names none.
    static constexpr std::int64_t defaultLongEdge = 2576;
};

}  // namespace quib
