#include "QuibHost/Streaming/WindowCorner.hpp"

namespace quib {

std::optional<double> WindowCorner::radiusFraction(double width, double height, double shownWidth,
                                                   std::optional<double> desktopRadius) const {
    const auto r = radius(desktopRadius);
    if (!r || !(width > 4 * *r) || !(height > 4 * *r) || !(shownWidth > 0)) return std::nullopt;
    return *r / shownWidth;
}

std::optional<double> WindowCorner::radius(std::optional<double> desktopRadius) const {
    // The row has no fallback of its own: the desktop's radius stands in.
    const double set = settings_->get(radiusKey);
    if (radiusKey.rule().accepts(set)) return set;
    return desktopRadius;
}

}  // namespace quib
