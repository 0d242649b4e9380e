#include "Shared/PointerLanding.hpp"

#include <cmath>

namespace quib {
namespace {

// The largest part of the window on one screen, at least a point each way; on a tie, the part
// on the earlier screen.
std::optional<Rect> visiblePart(const Rect& window, const std::vector<Rect>& screens) {
    double bestArea = 0;
    std::optional<Rect> best;
    for (const Rect& screen : screens) {
        const std::optional<Rect> part = screen.intersection(window);
        if (!part || part->width < 1 || part->height < 1) continue;
        const double area = part->width * part->height;
        if (area > bestArea) {
            bestArea = area;
            best = part;
        }
    }
    return best;
}

}  // namespace

std::optional<Point> PointerLanding::landing(const Rect& window, const Point& pointer,
                                             const std::vector<Rect>& screens) {
    if (std::abs(window.width) < 1 || std::abs(window.height) < 1) return std::nullopt;
    Rect target = window;
    if (!screens.empty()) {
        const std::optional<Rect> part = visiblePart(window, screens);
        if (!part) return std::nullopt;
        target = *part;
    }
    if (target.contains(pointer)) return std::nullopt;
    return Point{target.midX(), target.midY()};
}

}  // namespace quib
