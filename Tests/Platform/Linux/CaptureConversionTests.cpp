// Turning captured pixels into pictures: the cursor drawn over them, and the scaling into
// full-range BT.709 I420.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "Platform/Linux/Media/I420Converter.hpp"
#include "Platform/Linux/Media/PictureScaler.hpp"
#include "Platform/Linux/X11/CursorOverlay.hpp"

namespace quib {
namespace {

// Pixels of B, G, R, unused, each the same colour unless painted.
struct Pixels {
    Pixels(int width, int height, std::uint32_t rgb) : width(width), height(height), bytes(width * height * 4) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) set(x, y, rgb);
    }
    void set(int x, int y, std::uint32_t rgb) {
        std::uint8_t* pixel = &bytes[(y * width + x) * 4];
        pixel[0] = rgb & 0xFF;
        pixel[1] = rgb >> 8 & 0xFF;
        pixel[2] = rgb >> 16 & 0xFF;
        pixel[3] = 0;
    }
    std::uint32_t at(int x, int y) const {
        const std::uint8_t* pixel = &bytes[(y * width + x) * 4];
        return static_cast<std::uint32_t>(pixel[2] << 16 | pixel[1] << 8 | pixel[0]);
    }
    int width, height;
    std::vector<std::uint8_t> bytes;
};

TEST(CursorOverlay, BlendsPremultipliedPixelsAndLeavesOutWhatFallsOffTheImage) {
    // A 3 × 2 cursor: opaque blue, half-covering dark red, transparent; then three opaque black.
    const CursorOverlay cursor{3, 2, 1, 1, {0xFF0000FF, 0x80400000, 0x00000000, 0xFF000000, 0xFF000000, 0xFF000000}};
    Pixels image(4, 3, 0xFFFFFF);
    cursor.drawOnto(image.bytes.data(), image.width, image.height, image.width * 4, 1, 1);
    EXPECT_EQ(image.at(0, 0), 0x0000FFu);
    EXPECT_EQ(image.at(1, 0), 0xBF7F7Fu);  // 0x40 + 255 × 127 / 255 in red, 127 in the others
    EXPECT_EQ(image.at(2, 0), 0xFFFFFFu);
    EXPECT_EQ(image.at(0, 1), 0u);
    EXPECT_EQ(image.at(2, 1), 0u);
    EXPECT_EQ(image.at(3, 1), 0xFFFFFFu);
    EXPECT_EQ(image.at(0, 2), 0xFFFFFFu);

    // Hot spots at each corner and beyond: only the overlapping pixels change, and nothing is
    // written outside (the sanitizer build would see it).
    for (const auto& [x, y] : {std::pair{0, 0}, {4, 3}, {-1, 2}, {-1, 3}, {50, 50}, {-50, -50}}) {
        Pixels fresh(4, 3, 0xFFFFFF);
        cursor.drawOnto(fresh.bytes.data(), fresh.width, fresh.height, fresh.width * 4, x, y);
        int changed = 0;
        for (int py = 0; py < 3; ++py)
            for (int px = 0; px < 4; ++px) changed += fresh.at(px, py) != 0xFFFFFFu;
        const bool touches = cursor.touches(4, 3, x, y);
        // Where only its transparent corner falls on the image, it touches without changing it.
        EXPECT_EQ(touches, changed > 0 || (x == -1 && y == 3)) << x << ", " << y;
    }
    EXPECT_TRUE(cursor.touches(4, 3, 4, 3));
    EXPECT_FALSE(cursor.touches(4, 3, 5, 3));
    EXPECT_FALSE(cursor.touches(4, 3, -2, 0));
}

struct YCbCr {
    int y, cb, cr;
};

YCbCr sampleAt(const PixelBuffer& picture, int x, int y) {
    return {picture.row(0, y)[x], picture.row(1, y / 2)[x / 2], picture.row(2, y / 2)[x / 2]};
}

// Full range and BT.709: red is far darker than BT.601 would make it (54, not 76).
TEST(PictureScaler, ConvertsToFullRangeBt709OnOneThreadOrSeveral) {
    struct Case {
        std::uint32_t rgb;
        YCbCr expected;
    };
    const Case cases[] = {{0xFFFFFF, {255, 128, 128}},
                          {0x000000, {0, 128, 128}},
                          {0xFF0000, {54, 99, 255}},
                          {0x00FF00, {182, 30, 12}},
                          {0x0000FF, {18, 255, 116}}};
    for (const int threads : {1, 4}) {
        PictureScaler scaler(threads);
        for (const Case& c : cases) {
            const Pixels source(64, 48, c.rgb);
            auto picture = PixelBuffer::make(32, 24);
            ASSERT_TRUE(scaler.scale(source.bytes.data(), source.width, source.height, source.width * 4, *picture));
            const YCbCr seen = sampleAt(*picture, 16, 12);
            EXPECT_NEAR(seen.y, c.expected.y, 2) << std::hex << c.rgb << " on " << threads;
            EXPECT_NEAR(seen.cb, c.expected.cb, 2) << std::hex << c.rgb << " on " << threads;
            EXPECT_NEAR(seen.cr, c.expected.cr, 2) << std::hex << c.rgb << " on " << threads;
        }
    }
}

// A picture of another shape than the pixels is filled in the middle, with black bands beside.
TEST(PictureScaler, KeepsTheShapeWithBlackBands) {
    PictureScaler scaler(4);
    const Pixels wide(200, 100, 0xFFFFFF);
    auto square = PixelBuffer::make(100, 100);
    ASSERT_TRUE(scaler.scale(wide.bytes.data(), wide.width, wide.height, wide.width * 4, *square));
    for (const int y : {0, 20, 23}) EXPECT_EQ(sampleAt(*square, 50, y).y, 0) << y;
    for (const int y : {24, 50, 73}) EXPECT_EQ(sampleAt(*square, 50, y).y, 255) << y;
    for (const int y : {74, 99}) EXPECT_EQ(sampleAt(*square, 50, y).y, 0) << y;
    EXPECT_EQ(sampleAt(*square, 50, 0).cb, 128);
    EXPECT_EQ(sampleAt(*square, 50, 99).cr, 128);

    const Pixels tall(50, 100, 0xFFFFFF);
    ASSERT_TRUE(scaler.scale(tall.bytes.data(), tall.width, tall.height, tall.width * 4, *square));
    EXPECT_EQ(sampleAt(*square, 10, 50).y, 0);
    EXPECT_EQ(sampleAt(*square, 50, 50).y, 255);
    EXPECT_EQ(sampleAt(*square, 90, 50).y, 0);
    // One pixel off from the picture's shape is stretched over, not banded.
    const Pixels almost(101, 100, 0xFFFFFF);
    ASSERT_TRUE(scaler.scale(almost.bytes.data(), almost.width, almost.height, almost.width * 4, *square));
    EXPECT_EQ(sampleAt(*square, 0, 0).y, 255);
    EXPECT_EQ(sampleAt(*square, 99, 99).y, 255);
    EXPECT_FALSE(scaler.scale(almost.bytes.data(), almost.width, almost.height, 10, *square));
}

// The exact values, worked out in floating point from the pixels, the chroma of each 2 × 2 block
// from the mean of its pixels (an odd last column or row counting twice).
YCbCr exactAt(const Pixels& pixels, int x, int y) {
    const auto colour = [&](int px, int py) {
        const std::uint32_t rgb = pixels.at(std::min(px, pixels.width - 1), std::min(py, pixels.height - 1));
        return std::array<double, 3>{double(rgb >> 16 & 0xFF), double(rgb >> 8 & 0xFF), double(rgb & 0xFF)};
    };
    const auto luma = [](const std::array<double, 3>& c) { return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]; };
    std::array<double, 3> mean{};
    const int left = x & ~1, top = y & ~1;
    for (const auto& [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
        for (int i = 0; i < 3; ++i) mean[i] += colour(left + dx, top + dy)[i] / 4;
    const double meanLuma = luma(mean);
    return {static_cast<int>(std::lround(luma(colour(x, y)))),
            static_cast<int>(std::clamp(std::lround((mean[2] - meanLuma) / 1.8556 + 128), 0L, 255L)),
            static_cast<int>(std::clamp(std::lround((mean[0] - meanLuma) / 1.5748 + 128), 0L, 255L))};
}

// Pixels of the picture's own size are converted, sample by sample within one step of the exact
// value, whatever the size's oddness and the number of threads, by the converter and so by the
// scaler; the rows may lie apart.
TEST(I420Converter, ConvertsEachSampleWithinOneStepOnAnyThreadsAndOddSizes) {
    std::mt19937 random(7);
    for (const auto& [width, height] : {std::pair{64, 48}, {33, 17}, {1, 1}, {2, 3}, {150, 5}}) {
        Pixels source(width, height, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) source.set(x, y, random() & 0xFFFFFF);
        for (const int threads : {1, 3, 8}) {
            I420Converter converter(threads);
            PictureScaler scaler(threads);
            auto converted = PixelBuffer::make(width, height), scaled = PixelBuffer::make(width, height);
            ASSERT_TRUE(converter.convert(source.bytes.data(), width, height, width * 4, *converted));
            ASSERT_TRUE(scaler.scale(source.bytes.data(), width, height, width * 4, *scaled));
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const YCbCr exact = exactAt(source, x, y);
                    for (const PixelBuffer* picture : {converted.get(), scaled.get()}) {
                        const YCbCr seen = sampleAt(*picture, x, y);
                        ASSERT_NEAR(seen.y, exact.y, 1) << width << "x" << height << " at " << x << "," << y;
                        ASSERT_NEAR(seen.cb, exact.cb, 1) << width << "x" << height << " at " << x << "," << y;
                        ASSERT_NEAR(seen.cr, exact.cr, 1) << width << "x" << height << " at " << x << "," << y;
                    }
                }
        }
    }
    // Rows further apart than a row of pixels, and pixels of another size than the picture.
    Pixels wide(20, 4, 0xFF0000);
    I420Converter converter(2);
    auto picture = PixelBuffer::make(10, 4);
    ASSERT_TRUE(converter.convert(wide.bytes.data(), 10, 4, 80, *picture));
    EXPECT_EQ(sampleAt(*picture, 9, 3).y, 54);
    EXPECT_FALSE(converter.convert(wide.bytes.data(), 20, 4, 80, *picture));
    EXPECT_FALSE(converter.convert(wide.bytes.data(), 10, 4, 39, *picture));
}

}  // namespace
}  // namespace quib
