#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Runtime/Mutex.hpp"

namespace quib {

// Blocks of memory of one size for PCM on its way from a capture to its consumer, reused rather
// than allocated for every fragment. A block goes back to the pool when its last reference goes,
// on whatever thread that is. At most `maxBlocks` are out at once, so a consumer that stalls
// costs a bounded amount of memory.
class PcmBlockPool : public std::enable_shared_from_this<PcmBlockPool> {
public:
    using Block = std::vector<std::uint8_t>;

    PcmBlockPool(std::size_t blockBytes, std::size_t maxBlocks);

    // A block of blockBytes (its contents left from its last use), or none when maxBlocks are out.
    std::shared_ptr<Block> take();

    std::size_t blocksOut() const;

private:
    void giveBack(Block* block);

    const std::size_t blockBytes_;
    const std::size_t maxBlocks_;
    mutable Mutex mutex_;
    std::vector<std::unique_ptr<Block>> free_ GUARDED_BY(mutex_);
    std::size_t out_ GUARDED_BY(mutex_) = 0;
};

}  // namespace quib
