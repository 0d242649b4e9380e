#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "Runtime/Bytes.hpp"

namespace quib {

// A picture in memory: `height` rows of `width` pixels, each red, green and blue in one byte,
// rows packed one after the other.
struct RgbPicture {
    int width = 0;
    int height = 0;
    Bytes pixels;

    static RgbPicture filled(int width, int height, std::array<std::uint8_t, 3> colour) {
        RgbPicture picture{width, height,
                           Bytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)};
        for (std::size_t at = 0; at < picture.pixels.size(); at += 3) {
            picture.pixels[at] = colour[0];
            picture.pixels[at + 1] = colour[1];
            picture.pixels[at + 2] = colour[2];
        }
        return picture;
    }
    std::size_t stride() const { return static_cast<std::size_t>(width) * 3; }
    std::array<std::uint8_t, 3> at(int x, int y) const {
        const std::size_t offset = static_cast<std::size_t>(y) * stride() + static_cast<std::size_t>(x) * 3;
        return {pixels[offset], pixels[offset + 1], pixels[offset + 2]};
    }
};

}  // namespace quib
