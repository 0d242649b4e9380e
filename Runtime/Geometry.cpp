#include "Runtime/Geometry.hpp"

#include <algorithm>

namespace quib {

double Rect::minX() const { return std::min(x, x + width); }
double Rect::maxX() const { return std::max(x, x + width); }
double Rect::minY() const { return std::min(y, y + height); }
double Rect::maxY() const { return std::max(y, y + height); }

Rect Rect::standardized() const { return {minX(), minY(), absWidth(), absHeight()}; }

std::optional<Rect> Rect::intersection(const Rect& other) const {
    const double left = std::max(minX(), other.minX());
    const double right = std::min(maxX(), other.maxX());
    const double top = std::max(minY(), other.minY());
    const double bottom = std::min(maxY(), other.maxY());
    if (!(left <= right) || !(top <= bottom)) return std::nullopt;  // also when a value is not a number
    return Rect{left, top, right - left, bottom - top};
}

bool Rect::contains(const Point& point) const {
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
}

}  // namespace quib
