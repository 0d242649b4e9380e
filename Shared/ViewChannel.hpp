#pragma once

#include <cstdint>

namespace quib {

// Limits of the view channel, shared with the phone.
struct ViewChannel {
    // The cap on the header and, separately, on the payload of one view frame.
    static constexpr std::int64_t maxFrameBytes = 8388608;  // 8 MiB
};

}  // namespace quib
