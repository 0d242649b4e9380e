#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quib {

// One captured picture on its way to the encoder: 8-bit Y'CbCr 4:2:0 in three planes (I420),
// full range (0...255), Y at full size and Cb, Cr at half width and half height, rounded up.
// Each plane has its own stride (bytes from one row to the next), a multiple of 64 so that
// vector code may read and write whole rows.
//
// Pictures are made by a PixelBufferPool (see there) and travel by reference: whoever fills
// one and whoever reads it share the same memory through a shared pointer; nothing between the
// capture and the encoder copies a picture.
class PixelBuffer {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr int planeCount = 3;  // Y, Cb, Cr
    static constexpr int maxSide = 16384;
    static constexpr std::size_t alignment = 64;

    // A picture of its own, outside any pool; none for a side outside 1...maxSide.
    static std::shared_ptr<PixelBuffer> make(int width, int height);

    // For make() and the pool; the size must be valid.
    PixelBuffer(Passkey, int width, int height);
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Plane 0 is Y, 1 is Cb, 2 is Cr.
    int planeWidth(int plane) const { return plane == 0 ? width_ : (width_ + 1) / 2; }
    int planeHeight(int plane) const { return plane == 0 ? height_ : (height_ + 1) / 2; }
    int stride(int plane) const { return strides_[plane]; }
    std::uint8_t* data(int plane) { return planes_[plane]; }
    const std::uint8_t* data(int plane) const { return planes_[plane]; }
    std::uint8_t* row(int plane, int y) { return planes_[plane] + static_cast<std::ptrdiff_t>(y) * strides_[plane]; }
    const std::uint8_t* row(int plane, int y) const {
        return planes_[plane] + static_cast<std::ptrdiff_t>(y) * strides_[plane];
    }

    // The one block that holds all three planes.
    const std::uint8_t* memory() const { return memory_.get(); }
    std::size_t memorySize() const { return memorySize_; }

    static bool isValidSize(int width, int height) {
        return width > 0 && height > 0 && width <= maxSide && height <= maxSide;
    }

private:
    friend class PixelBufferPool;
    struct AlignedDelete {
        void operator()(std::uint8_t* memory) const;
    };

    int width_;
    int height_;
    std::array<int, planeCount> strides_{};
    std::array<std::uint8_t*, planeCount> planes_{};
    std::unique_ptr<std::uint8_t[], AlignedDelete> memory_;
    std::size_t memorySize_ = 0;
};

}  // namespace quib
