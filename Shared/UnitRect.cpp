#include "Shared/UnitRect.hpp"

#include <cmath>

namespace quib {
namespace {

const Rect unitSquare{0, 0, 1, 1};

}  // namespace

std::optional<UnitRect> UnitRect::make(const Rect& rect) {
    if (rect == unitSquare) return std::nullopt;
    return UnitRect{rect.x, rect.y, rect.width, rect.height};
}

Rect UnitRect::rect() const { return clamped(Rect{x, y, width, height}); }

// fmax and fmin pick the number over a NaN, so nothing that is not a number gets through to the
// capture, which turns these values into pixel counts.
Rect UnitRect::clamped(const Rect& rect) {
    if (!(rect.width > 0) || !(rect.height > 0)) return unitSquare;
    const double width = std::fmin(std::fmax(rect.width, minimumSide), 1.0);
    const double height = std::fmin(std::fmax(rect.height, minimumSide), 1.0);
    return Rect{std::fmin(std::fmax(rect.x, 0.0), 1.0 - width), std::fmin(std::fmax(rect.y, 0.0), 1.0 - height), width,
                height};
}

UnitRect UnitRect::fromJson(const Json& json) {
    const JsonReader r(json);
    return UnitRect{r.required<double>("x"), r.required<double>("y"), r.required<double>("width"),
                    r.required<double>("height")};
}

Json UnitRect::toJson() const {
    return JsonWriter().put("x", x).put("y", y).put("width", width).put("height", height).take();
}

}  // namespace quib
