#pragma once

#include <cstdint>

#include "Platform/IconRenderer.hpp"

namespace quib {

// Draws icons with gdk-pixbuf: its own loaders read PNG and XPM, librsvg's loader reads SVG.
// Nothing here needs a display, and gdk-pixbuf is reentrant, so any thread may draw.
class PixbufIconRenderer final : public IconRenderer {
public:
    // A raster picture of more pixels than this is not drawn: it is decoded whole before it is
    // scaled, and no app's icon needs more.
    static constexpr std::int64_t largestPixels = 4096 * 4096;

    std::optional<Bytes> render(const std::filesystem::path& file) const override;
};

}  // namespace quib
