#pragma once

#include <optional>

namespace quib {

// A point in screen points (y grows downward, as in the desktop's global coordinates).
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// A rectangle in screen points. Width and height may be negative; every measure below works on
// the standardized rectangle (the same area with non-negative size).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const;
    double maxX() const;
    double minY() const;
    double maxY() const;
    double midX() const { return (minX() + maxX()) / 2; }
    double midY() const { return (minY() + maxY()) / 2; }
    double absWidth() const { return maxX() - minX(); }
    double absHeight() const { return maxY() - minY(); }

    // The same area with non-negative width and height.
    Rect standardized() const;
    // The area both rectangles cover; none when they do not meet.
    std::optional<Rect> intersection(const Rect& other) const;
    // True when the point lies inside: minimum edges included, maximum edges excluded.
    bool contains(const Point& point) const;

    bool operator==(const Rect&) const = default;
};

}  // namespace quib
