#pragma once

#include <cstddef>
#include <memory>

#include "Platform/PixelBuffer.hpp"

namespace quib {

// A few pictures of one size, used over and over.
//
// How pooling works: `take()` hands out a picture as a shared pointer. Its holders (the
// capture that fills it, the encoder that reads it, a queue between them) share that one
// picture; none copies it. When the last holder lets go, the picture goes back on the pool's
// shelf instead of being freed, and a later `take()` hands it out again, with whatever it held
// (the taker overwrites it). The pool makes pictures only as they are first needed, and never
// more than `capacity` are out at once: when all are held, `take()` returns none and the
// producer skips that picture, which keeps memory bounded when the consumer falls behind.
//
// The pool may be destroyed while pictures are still held: they stay valid, and their last
// holder frees them. Safe to use from any thread.
class PixelBufferPool {
public:
    // A size outside what PixelBuffer allows gives a pool that hands out nothing.
    PixelBufferPool(int width, int height, std::size_t capacity);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // A picture of the pool's size, or none when `capacity` are already held.
    std::shared_ptr<PixelBuffer> take();

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t capacity() const { return capacity_; }

private:
    struct Shelf;

    int width_;
    int height_;
    std::size_t capacity_;
    std::shared_ptr<Shelf> shelf_;
};

}  // namespace quib
