#include "Shared/VideoHold.hpp"

#include <cmath>

namespace quib {

double VideoHold::seconds(std::optional<double> audioDelay, std::optional<double> videoDelay) {
    if (!audioDelay || !videoDelay) return 0;
    const double lead = *audioDelay - *videoDelay;
    if (!(lead > deadband)) return 0;
    return std::fmin(lead, maximum);
}

}  // namespace quib
