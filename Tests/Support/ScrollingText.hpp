#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "Platform/PixelBuffer.hpp"

namespace quib::testing {

// Pictures of a page of text being read and edited: dark glyphs on a light page, some lines in
// colour, scrolling a few rows a picture, with a few cells retyped in every picture so that
// consecutive pictures differ beyond the scroll. Picture `index` is always the same picture.
class ScrollingText {
public:
    static constexpr int cellWidth = 12;
    static constexpr int cellHeight = 20;

    ScrollingText(int width, int height, int rowsPerPicture = 5, int retypedCells = 60)
        : width_(width),
          height_(height),
          pageHeight_(height * 3),
          rowsPerPicture_(rowsPerPicture),
          retypedCells_(retypedCells),
          chromaWidth_((width + 1) / 2),
          luma_(std::size_t(width) * pageHeight_, 240),
          cb_(std::size_t(chromaWidth_) * ((pageHeight_ + 1) / 2), 128),
          cr_(cb_) {
        std::mt19937 random(7);
        for (int row = 0; row < pageHeight_ / cellHeight; ++row) {
            const int length = int(random() % (width_ / cellWidth));
            const int colour = int(random() % 4);
            for (int column = 0; column < length; ++column)
                if (random() % 6) drawGlyph(column, row, int(random()), colour);
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }

    void draw(PixelBuffer& picture, int index) const {
        const int top = index * rowsPerPicture_ % (pageHeight_ - height_);
        for (int y = 0; y < height_; ++y) std::memcpy(picture.row(0, y), &luma_[std::size_t(top + y) * width_], width_);
        for (int y = 0; y < (height_ + 1) / 2; ++y) {
            const std::size_t from = std::size_t(top / 2 + y) * chromaWidth_;
            std::memcpy(picture.row(1, y), &cb_[from], chromaWidth_);
            std::memcpy(picture.row(2, y), &cr_[from], chromaWidth_);
        }
        std::mt19937 random(unsigned(index) + 1);
        for (int i = 0; i < retypedCells_; ++i) {
            const int x = int(random() % (width_ / cellWidth)) * cellWidth;
            const int y = int(random() % (height_ / cellHeight)) * cellHeight;
            stamp(picture, x, y, int(random()));
        }
    }

    std::shared_ptr<PixelBuffer> picture(int index) const {
        auto made = PixelBuffer::make(width_, height_);
        draw(*made, index);
        return made;
    }

private:
    // A glyph is 5 × 7 dots of its code's bits, each dot 2 × 2 pixels.
    static bool dot(int code, int x, int y) { return (unsigned(code) * 2654435761u >> ((x + 5 * y) % 31)) & 1; }

    void drawGlyph(int column, int row, int code, int colour) {
        static constexpr std::uint8_t cb[] = {128, 170, 100, 90};
        static constexpr std::uint8_t cr[] = {128, 110, 190, 100};
        for (int gy = 0; gy < 14; ++gy) {
            for (int gx = 0; gx < 10; ++gx) {
                if (!dot(code, gx / 2, gy / 2)) continue;
                const int x = column * cellWidth + 1 + gx, y = row * cellHeight + 3 + gy;
                if (x >= width_ || y >= pageHeight_) continue;
                luma_[std::size_t(y) * width_ + x] = colour ? 90 : 30;
                const std::size_t c = std::size_t(y / 2) * chromaWidth_ + x / 2;
                cb_[c] = cb[colour];
                cr_[c] = cr[colour];
            }
        }
    }

    static void stamp(PixelBuffer& picture, int x0, int y0, int code) {
        for (int gy = 0; gy < cellHeight; ++gy) {
            std::uint8_t* row = picture.row(0, std::min(y0 + gy, picture.height() - 1));
            for (int gx = 0; gx < cellWidth && x0 + gx < picture.width(); ++gx)
                row[x0 + gx] =
                    (gx >= 1 && gx < 11 && gy >= 3 && gy < 17 && dot(code, (gx - 1) / 2, (gy - 3) / 2)) ? 30 : 240;
        }
    }

    int width_;
    int height_;
    int pageHeight_;
    int rowsPerPicture_;
    int retypedCells_;
    int chromaWidth_;
    std::vector<std::uint8_t> luma_;
    std::vector<std::uint8_t> cb_;
    std::vector<std::uint8_t> cr_;
};

}  // namespace quib::testing
