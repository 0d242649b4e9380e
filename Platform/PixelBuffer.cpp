#include "Platform/PixelBuffer.hpp"

#include <new>

namespace quib {
namespace {

int alignedStride(int width) {
    constexpr int a = static_cast<int>(PixelBuffer::alignment);
    return (width + a - 1) / a * a;
}

}  // namespace

void PixelBuffer::AlignedDelete::operator()(std::uint8_t* memory) const {
    ::operator delete (memory, std::align_val_t{alignment});
}

std::shared_ptr<PixelBuffer> PixelBuffer::make(int width, int height) {
    if (!isValidSize(width, height)) return nullptr;
    return std::make_shared<PixelBuffer>(Passkey{}, width, height);
}

PixelBuffer::PixelBuffer(Passkey, int width, int height) : width_(width), height_(height) {
    std::array<std::size_t, planeCount> offsets{};
    std::size_t size = 0;
    for (int p = 0; p < planeCount; ++p) {
        strides_[p] = alignedStride(planeWidth(p));
        offsets[p] = size;
        size += static_cast<std::size_t>(strides_[p]) * static_cast<std::size_t>(planeHeight(p));
    }
    // Spare bytes at the end, for vector code that reads a little past the last pixel.
    memorySize_ = size + alignment;
    memory_.reset(static_cast<std::uint8_t*>(::operator new (memorySize_, std::align_val_t{alignment})));
    for (int p = 0; p < planeCount; ++p) planes_[p] = memory_.get() + offsets[p];
}

}  // namespace quib
