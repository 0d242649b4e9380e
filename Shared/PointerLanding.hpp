#pragma once

#include <optional>
#include <vector>

#include "Runtime/Geometry.hpp"

namespace quib {

// Where the pointer should land when the host moves it into a window it has raised.
struct PointerLanding {
    // The centre of the window's largest visible part (the whole window when `screens` is empty),
    // or none: when the window is under a point wide or high, lies on no screen, or already has
    // the pointer in that part.
    static std::optional<Point> landing(const Rect& window, const Point& pointer, const std::vector<Rect>& screens);
};

}  // namespace quib
