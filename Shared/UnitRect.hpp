#pragma once

#include "Shared/Json.hpp"

namespace quib {

// A rectangle in unit coordinates of a captured window: 0 is the left or top edge, 1 the right
// or bottom edge. All four keys are required.
struct UnitRect {
    double x = 0;
    double y = 0;
    double width = 1;
    double height = 1;

    static UnitRect fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const UnitRect&) const = default;
};

}  // namespace quib
