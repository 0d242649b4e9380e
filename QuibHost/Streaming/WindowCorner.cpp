#include "QuibHost/Streaming/WindowCorner.hpp"

#include <limits>

namespace quib {

std::optional<double> WindowCorner::radiusFraction(double width, double height, double shownWidth,
                                                   std::optional<double> desktopRadius) const {
    const auto r = radius(desktopRadius);
    if (!r || !(width > 4 * *r) || !(height > 4 * *r) || !(shownWidth > 0)) return std::nullopt;
    return *r / shownWidth;
}

std::optional<double> WindowCorner::radius(std::optional<double> desktopRadius) const {
    const auto inRange = [](double r) { return r > 0 && r < radiusLimit; };
    const double set = settings_->realWhere(radiusKey, inRange, "must be a number above 0 and below 40",
                                            std::numeric_limits<double>::quiet_NaN());
    if (inRange(set)) return set;
    return desktopRadius;
}

}  // namespace quib
