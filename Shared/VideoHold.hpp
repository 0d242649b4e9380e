#pragma once

#include <optional>

namespace quib {

// How long a viewer that also plays the host's sound holds its pictures back, so that picture
// and sound stay together.
struct VideoHold {
    // Differences up to this are not worth holding for.
    static constexpr double deadband = 0.025;
    static constexpr double maximum = 0.28;

    // The seconds to hold, from how long sound and picture each take to arrive: their difference
    // when the sound is later by more than the deadband, at most the maximum; 0 when it is not,
    // or when either delay is unknown.
    static double seconds(std::optional<double> audioDelay, std::optional<double> videoDelay);
};

}  // namespace quib
