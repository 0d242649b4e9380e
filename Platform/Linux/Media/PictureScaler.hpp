#pragma once

#include <cstdint>

#include "Platform/Linux/Media/I420Converter.hpp"
#include "Platform/PixelBuffer.hpp"

struct SwsContext;

namespace quib {

// Turns captured pixels (B, G, R, unused) into the encoder's pictures: scaled to fit, keeping
// their shape, converted to full-range I420 with BT.709 coefficients. Pixels of the picture's
// own size are only converted, by I420Converter, several times faster than swscale does it;
// others are scaled by swscale on threads of its own, its scaler kept while the sizes stay the
// same. One thread at a time.
class PictureScaler {
public:
    // `threads`: how many threads each picture is divided among.
    explicit PictureScaler(int threads);
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Scales `width` × `height` pixels, rows `stride` bytes apart, to fit `picture`, centred;
    // where the shapes differ, the bands beside are black. False when swscale refuses.
    bool scale(const std::uint8_t* pixels, int width, int height, int stride, PixelBuffer& picture);

private:
    // The part of the picture that the pixels fill.
    struct Placement {
        int x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Placement&) const = default;
    };
    static Placement placement(int width, int height, const PixelBuffer& picture);
    static void paintBands(PixelBuffer& picture, const Placement& inside);
    bool prepare(int width, int height, const Placement& target);

    const int threads_;
    I420Converter converter_;
    SwsContext* context_ = nullptr;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    Placement target_;
};

}  // namespace quib
