#include "Platform/PixelBufferPool.hpp"

#include <new>
#include <vector>

#include "Runtime/Mutex.hpp"

namespace quib {

// What the pool and the pictures it handed out share: the free pictures and how many are out.
struct PixelBufferPool::Shelf {
    Mutex lock;  // guards the two below
    std::vector<std::unique_ptr<PixelBuffer>> free GUARDED_BY(lock);
    std::size_t out GUARDED_BY(lock) = 0;

    void giveBack(std::unique_ptr<PixelBuffer> picture) {
        MutexLock guard(lock);
        --out;
        free.push_back(std::move(picture));
    }
};

PixelBufferPool::PixelBufferPool(int width, int height, std::size_t capacity)
    : width_(width),
      height_(height),
      capacity_(PixelBuffer::isValidSize(width, height) ? capacity : 0),
      shelf_(std::make_shared<Shelf>()) {}

PixelBufferPool::~PixelBufferPool() = default;

std::shared_ptr<PixelBuffer> PixelBufferPool::take() {
    std::unique_ptr<PixelBuffer> picture;
    {
        MutexLock guard(shelf_->lock);
        if (shelf_->out >= capacity_) return nullptr;
        if (!shelf_->free.empty()) {
            picture = std::move(shelf_->free.back());
            shelf_->free.pop_back();
        }
        ++shelf_->out;
    }
    if (!picture) {
        try {
            picture = std::make_unique<PixelBuffer>(PixelBuffer::Passkey{}, width_, height_);
        } catch (const std::bad_alloc&) {
            MutexLock guard(shelf_->lock);
            --shelf_->out;
            return nullptr;
        }
    }
    // The last holder hands the picture back, or frees it once the pool is gone.
    return std::shared_ptr<PixelBuffer>(picture.release(), [shelf = std::weak_ptr<Shelf>(shelf_)](PixelBuffer* raw) {
        std::unique_ptr<PixelBuffer> back(raw);
        if (auto alive = shelf.lock()) alive->giveBack(std::move(back));
    });
}

}  // namespace quib
