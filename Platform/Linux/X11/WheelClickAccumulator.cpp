#include "Platform/Linux/X11/WheelClickAccumulator.hpp"

#include <algorithm>
#include <cmath>

namespace quib {

int WheelClickAccumulator::add(double pixels) {
    if (!std::isfinite(pixels)) return 0;
    const double total = remainder_ + pixels;
    const double whole = std::clamp(std::trunc(total / pixelsPerClick_), -double{maxClicks}, double{maxClicks});
    // Beyond the limit the rest would be a click or more: keep only what stays below one.
    remainder_ = std::fmod(total - whole * pixelsPerClick_, pixelsPerClick_);
    return static_cast<int>(whole);
}

}  // namespace quib
