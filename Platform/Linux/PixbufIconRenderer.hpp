#pragma once

#include "Platform/IconRenderer.hpp"

namespace quib {

// Draws icons with gdk-pixbuf: its own loaders read PNG and XPM, librsvg's loader reads SVG.
// Nothing here needs a display, and gdk-pixbuf is reentrant, so any thread may draw.
class PixbufIconRenderer final : public IconRenderer {
public:
    std::optional<Bytes> render(const std::filesystem::path& file) const override;
};

}  // namespace quib
