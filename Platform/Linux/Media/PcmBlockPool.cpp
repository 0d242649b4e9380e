#include "Platform/Linux/Media/PcmBlockPool.hpp"

namespace quib {

PcmBlockPool::PcmBlockPool(std::size_t blockBytes, std::size_t maxBlocks)
    : blockBytes_(blockBytes), maxBlocks_(maxBlocks) {}

std::shared_ptr<PcmBlockPool::Block> PcmBlockPool::take() {
    std::unique_ptr<Block> block;
    {
        MutexLock lock(mutex_);
        if (out_ >= maxBlocks_) return nullptr;
        ++out_;
        if (!free_.empty()) {
            block = std::move(free_.back());
            free_.pop_back();
        }
    }
    if (!block) block = std::make_unique<Block>(blockBytes_);
    // The block outlives the pool when the pool goes first; it is then simply freed.
    return std::shared_ptr<Block>(block.release(), [pool = weak_from_this()](Block* returned) {
        if (const auto owner = pool.lock()) owner->giveBack(returned);
        else delete returned;
    });
}

void PcmBlockPool::giveBack(Block* block) {
    std::unique_ptr<Block> owned(block);
    MutexLock lock(mutex_);
    --out_;
    free_.push_back(std::move(owned));
}

std::size_t PcmBlockPool::blocksOut() const {
    MutexLock lock(mutex_);
    return out_;
}

}  // namespace quib
