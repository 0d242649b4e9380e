#pragma once

#include <optional>

#include "Runtime/Geometry.hpp"

namespace quib {

// Which part of the window a zoomed-in viewer asks the host to stream, so that it gets a sharp
// picture of what it shows rather than a magnified one of the whole window. Cropping starts
// past 3.2× zoom and ends at 2.5× or below; while cropped, a new crop is asked for only when the
// view leaves the crop (by more than 0.01) or becomes much smaller than it. Rectangles are in
// unit coordinates of the window.
struct MirrorCrop {
    static constexpr Rect whole{0, 0, 1, 1};

    // The crop to ask for next, given the part of the window the screen `showing` now and the
    // crop the host is `streaming` (whole when it streams the whole window); none to keep the
    // current one.
    static std::optional<Rect> wanted(const Rect& showing, const Rect& streaming);

    // Whether `outer`, each edge moved outward by `slack`, contains `inner`.
    static bool surrounds(const Rect& outer, const Rect& inner, double slack);
    // `rect` scaled about its centre by `factor`, each side at most 1, moved to lie inside the
    // unit square.
    static Rect grown(const Rect& rect, double factor);
};

}  // namespace quib
