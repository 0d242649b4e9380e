#include "Shared/UnitSpot.hpp"

#include <cmath>

namespace quib {
namespace {

bool onUnitLine(double v) { return v >= 0 && v <= 1; }
double heldOnUnitLine(double v) { return std::fmin(std::fmax(v, 0.0), 1.0); }

}  // namespace

std::optional<UnitSpot> UnitSpot::inside(const Point& point) {
    if (!onUnitLine(point.x) || !onUnitLine(point.y)) return std::nullopt;
    return UnitSpot{point.x, point.y};
}

Point UnitSpot::point() const { return Point{heldOnUnitLine(x), heldOnUnitLine(y)}; }

UnitSpot UnitSpot::fromJson(const Json& json) {
    const JsonReader r(json);
    return UnitSpot{r.required<double>("x"), r.required<double>("y")};
}

Json UnitSpot::toJson() const { return JsonWriter().put("x", x).put("y", y).take(); }

}  // namespace quib
