#include "Shared/MirrorCrop.hpp"

#include <algorithm>
#include <cmath>

namespace quib {
namespace {

constexpr double startZoom = 3.2;  // cropping starts above this zoom
constexpr double endZoom = 2.5;    // and ends at this zoom or below
constexpr double growth = 1.4;     // a new crop's margin around the view
constexpr double slack = 0.01;

}  // namespace

std::optional<Rect> MirrorCrop::wanted(const Rect& showing, const Rect& streaming) {
    const double side = std::min(showing.width, showing.height);
    if (!(side > 0) || !(showing.width > 0) || !(showing.height > 0)) return std::nullopt;
    const double zoom = 1 / side;
    if (streaming == whole) {
        if (zoom > startZoom) return grown(showing, growth);
        return std::nullopt;
    }
    if (zoom <= endZoom) return whole;
    if (surrounds(streaming, showing, slack) && streaming.width <= endZoom * showing.width &&
        streaming.height <= endZoom * showing.height)
        return std::nullopt;
    return grown(showing, growth);
}

bool MirrorCrop::surrounds(const Rect& outer, const Rect& inner, double slack) {
    return outer.minX() - slack <= inner.minX() && inner.maxX() <= outer.maxX() + slack &&
           outer.minY() - slack <= inner.minY() && inner.maxY() <= outer.maxY() + slack;
}

Rect MirrorCrop::grown(const Rect& rect, double factor) {
    const double width = std::fmin(factor * rect.absWidth(), 1.0);
    const double height = std::fmin(factor * rect.absHeight(), 1.0);
    const double x = std::fmin(std::fmax(rect.midX() - width / 2, 0.0), 1.0 - width);
    const double y = std::fmin(std::fmax(rect.midY() - height / 2, 0.0), 1.0 - height);
    return Rect{x, y, width, height};
}

}  // namespace quib
