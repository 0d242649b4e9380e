#pragma once

#include <cstdint>
#include <vector>

namespace quib {

// The pointer's cursor as a picture to draw onto captured pixels: premultiplied ARGB, one
// 32-bit value a pixel (alpha in the top byte), with the hot spot (the pixel the pointer is at)
// inside it.
struct CursorOverlay {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    std::vector<std::uint32_t> pixels;  // width × height, row after row

    // Blends the cursor, its hot spot at (`x`, `y`), over `image` (`width` × `height` pixels of
    // B, G, R, unused, rows `stride` bytes apart); the part that falls outside is left out.
    void drawOnto(std::uint8_t* image, int width, int height, int stride, int x, int y) const;
    // Whether any of the cursor would fall on such an image.
    bool touches(int width, int height, int x, int y) const;
};

}  // namespace quib
