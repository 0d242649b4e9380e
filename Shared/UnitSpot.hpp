#pragma once

#include <optional>

#include "Runtime/Geometry.hpp"
#include "Shared/Json.hpp"

namespace quib {

// A point in unit coordinates of a captured window (see UnitRect). Both keys are required.
struct UnitSpot {
    double x = 0;
    double y = 0;

    // The point, when it lies on the window: x and y in 0...1, both ends included.
    static std::optional<UnitSpot> inside(const Point& point);
    // The spot with x and y each held within 0...1 (a NaN gives 0).
    Point point() const;

    static UnitSpot fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const UnitSpot&) const = default;
};

}  // namespace quib
