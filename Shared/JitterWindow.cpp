#include "Shared/JitterWindow.hpp"

#include <cmath>

namespace quib {

JitterWindow::JitterWindow(double target) : target(std::fmin(std::fmax(target, minimum), maximum)) {}

double JitterWindow::ceiling() const { return std::fmin(3 * target + 0.06, 1.35); }

void JitterWindow::noteUnderrun() {
    quiet = 0;
    target = std::fmin(target + growth, maximum);
}

void JitterWindow::noteClean(double seconds) {
    if (!(seconds > 0) || target <= minimum) return;
    quiet += seconds;
    if (quiet < calm) return;
    quiet = 0;
    target = std::fmax(target - decay, minimum);
}

AudioDrift JitterWindow::verdict(double depth, bool isPlaying) const {
    if (depth > ceiling()) return AudioDrift::skip(depth - target);
    if (isPlaying) return depth > 0 ? AudioDrift::play() : AudioDrift::fill();
    return depth >= target ? AudioDrift::play() : AudioDrift::fill();
}

}  // namespace quib
