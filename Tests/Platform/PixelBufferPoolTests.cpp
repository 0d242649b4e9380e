#include "Platform/PixelBufferPool.hpp"

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

namespace quib {
namespace {

TEST(PixelBuffer, PlanesAreAlignedAndApart) {
    for (const auto& [width, height] : {std::pair{1, 1}, {33, 17}, {1920, 1080}, {2526, 1768}}) {
        const auto picture = PixelBuffer::make(width, height);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->planeWidth(1), (width + 1) / 2);
        EXPECT_EQ(picture->planeHeight(2), (height + 1) / 2);
        // Fill each plane whole, stride included, with its own value: none may overwrite another.
        for (int p = 0; p < PixelBuffer::planeCount; ++p) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(picture->data(p)) % PixelBuffer::alignment, 0u);
            EXPECT_EQ(picture->stride(p) % PixelBuffer::alignment, 0u);
            EXPECT_GE(picture->stride(p), picture->planeWidth(p));
            std::memset(picture->data(p), 0x10 * (p + 1), std::size_t(picture->stride(p)) * picture->planeHeight(p));
        }
        for (int p = 0; p < PixelBuffer::planeCount; ++p) {
            const int last = picture->planeHeight(p) - 1;
            EXPECT_EQ(picture->data(p)[0], 0x10 * (p + 1));
            EXPECT_EQ(picture->row(p, last)[picture->stride(p) - 1], 0x10 * (p + 1));
        }
        EXPECT_LE(picture->row(2, picture->planeHeight(2)), picture->memory() + picture->memorySize());
    }
    EXPECT_FALSE(PixelBuffer::make(0, 10));
    EXPECT_FALSE(PixelBuffer::make(10, PixelBuffer::maxSide + 1));
}

TEST(PixelBufferPool, HandsOutAtMostItsCapacityAndReusesWhatComesBack) {
    PixelBufferPool pool(640, 480, 2);
    auto first = pool.take();
    auto second = pool.take();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(first->width(), 640);
    EXPECT_FALSE(pool.take());  // both are held

    // A picture held by two (capture and encoder) comes back only when both let go.
    const PixelBuffer* memory = first.get();
    std::shared_ptr<const PixelBuffer> encoderCopy = first;
    first.reset();
    EXPECT_FALSE(pool.take());
    encoderCopy.reset();
    auto again = pool.take();
    EXPECT_EQ(again.get(), memory);

    // Pictures outlive the pool, and their last holder frees them.
    auto survivor = std::make_unique<PixelBufferPool>(64, 64, 1)->take();
    ASSERT_TRUE(survivor);
    survivor->data(0)[0] = 7;
    survivor.reset();

    EXPECT_FALSE(PixelBufferPool(0, 480, 4).take());
}

}  // namespace
}  // namespace quib
