#pragma once

#include <cstdint>

#include "Platform/PixelBuffer.hpp"
#include "Runtime/WorkerGroup.hpp"

namespace quib {

// Turns captured pixels (B, G, R, unused) into a picture of the same size in full-range I420
// with BT.709 coefficients, each chroma sample the mean of the 2 × 2 pixels it covers (an odd
// last column or row counts twice). Where no scaling is asked for this is what the encoder
// waits on, so the rows are spread over a few threads. One thread at a time.
class I420Converter {
public:
    // `threads`: how many threads a picture's rows are spread over, the caller's included.
    explicit I420Converter(int threads);

    // False, with nothing written, when the pixels are not of the picture's size or their rows
    // are closer than a pixel row.
    bool convert(const std::uint8_t* pixels, int width, int height, int stride, PixelBuffer& picture);

private:
    struct Source {
        const std::uint8_t* pixels;
        int width, height, stride;
    };
    // Rows 2 × `fromPair` up to (not including) 2 × `toPair`.
    static void convertRows(const Source& source, PixelBuffer& picture, int fromPair, int toPair);

    WorkerGroup workers_;
};

}  // namespace quib
