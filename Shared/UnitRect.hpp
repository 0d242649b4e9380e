#pragma once

#include <optional>

#include "Runtime/Geometry.hpp"
#include "Shared/Json.hpp"

namespace quib {

// A rectangle in unit coordinates of a captured window: 0 is the left or top edge, 1 the right
// or bottom edge. All four keys are required.
struct UnitRect {
    // The smallest side a crop is given, so that it always covers some pixels.
    static constexpr double minimumSide = 0.002;
    // The whole window.
    static const UnitRect full;

    double x = 0;
    double y = 0;
    double width = 1;
    double height = 1;

    // The rectangle as a crop: none for the whole window (the unit square).
    static std::optional<UnitRect> make(const Rect& rect);

    // The rectangle after clamping().
    Rect rect() const;
    // The part of the window a rectangle asks for, always inside the unit square: a width or
    // height not greater than 0 (or not a number) means the whole window; otherwise each side is
    // held within minimumSide...1 and then the origin within 0...1 - side (a NaN origin gives 0).
    static Rect clamped(const Rect& rect);

    static UnitRect fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const UnitRect&) const = default;
};

inline const UnitRect UnitRect::full{0, 0, 1, 1};

}  // namespace quib
