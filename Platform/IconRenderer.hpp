#pragma once

#include <filesystem>
#include <optional>

#include "Runtime/Bytes.hpp"

namespace quib {

// Draws an icon file (PNG, SVG or XPM) as the square picture the phone shows for an app.
class IconRenderer {
public:
    // Every picture is this many pixels wide and high.
    static constexpr int side = 128;

    virtual ~IconRenderer() = default;

    // The picture in `file`, scaled to fit side × side with its proportions kept and centred on
    // a transparent canvas of that size, encoded as PNG. None when the file cannot be read or
    // decoded. Any thread may call; it blocks on the disk.
    virtual std::optional<Bytes> render(const std::filesystem::path& file) const = 0;
};

}  // namespace quib
