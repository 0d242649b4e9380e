#pragma once

#include <cstdint>

#include "Platform/RgbPicture.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// Turns captured pixels (B, G, R, unused) into an RGB picture of another size in one pass, with
// swscale's area filter, which averages every source pixel into the one it lands in: what a
// still or a small preview of a large window wants.
class RgbScaler {
public:
    // `width` × `height` pixels, rows `stride` bytes apart, to `outWidth` × `outHeight`.
    static Result<RgbPicture> scale(const std::uint8_t* pixels, int width, int height, int stride, int outWidth,
                                    int outHeight);
};

}  // namespace quib
