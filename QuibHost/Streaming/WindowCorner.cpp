#include "QuibHost/Streaming/WindowCorner.hpp"

namespace quib {

std::optional<double> WindowCorner::radiusFraction(double width, double height) const {
    const double r = radius();
    if (!(width > 4 * r) || !(height > 4 * r)) return std::nullopt;
    return r / width;
}

double WindowCorner::radius() const {
    return settings_->realWhere(
        radiusKey, [](double r) { return r > 0 && r < radiusLimit; }, "must be a number above 0 and below 40",
        defaultRadius);
}

}  // namespace quib
