#include "Platform/Linux/X11/CursorOverlay.hpp"

#include <algorithm>

namespace quib {

void CursorOverlay::drawOnto(std::uint8_t* image, int imageWidth, int imageHeight, int stride, int x, int y) const {
    if (pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) return;
    const int left = x - hotX, top = y - hotY;
    const int fromX = std::max(0, -left), toX = std::min(width, imageWidth - left);
    const int fromY = std::max(0, -top), toY = std::min(height, imageHeight - top);
    for (int row = fromY; row < toY; ++row) {
        const std::uint32_t* source = pixels.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
        std::uint8_t* target = image + static_cast<std::ptrdiff_t>(top + row) * stride + (left + fromX) * 4;
        for (int column = fromX; column < toX; ++column, target += 4) {
            const std::uint32_t argb = source[column];
            const unsigned alpha = argb >> 24;
            if (alpha == 0) continue;
            // Premultiplied: what lies beneath keeps (255 - alpha) of itself, rounded.
            const unsigned keep = 255 - alpha;
            for (int channel = 0; channel < 3; ++channel) {
                const unsigned over = (argb >> (8 * channel)) & 0xFF;
                const unsigned under = target[channel];
                target[channel] = static_cast<std::uint8_t>(std::min(255u, over + (under * keep + 127) / 255));
            }
        }
    }
}

bool CursorOverlay::touches(int imageWidth, int imageHeight, int x, int y) const {
    const int left = x - hotX, top = y - hotY;
    return width > 0 && height > 0 && left < imageWidth && top < imageHeight && left + width > 0 && top + height > 0;
}

}  // namespace quib
