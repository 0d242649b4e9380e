#include "QuibHost/Streaming/WindowCorner.hpp"

namespace quib {

std::optional<double> WindowCorner::radiusFraction(double width, double height) const {
    const double r = radius();
    if (!(width > 4 * r) || !(height > 4 * r)) return std::nullopt;
    return r / width;
}

double WindowCorner::radius() const {
    const auto stored = settings_->real(radiusKey);
    return stored && *stored > 0 && *stored < radiusLimit ? *stored : defaultRadius;
}

}  // namespace quib
