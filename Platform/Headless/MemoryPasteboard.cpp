#include "Platform/Headless/MemoryPasteboard.hpp"

namespace quib {

std::int64_t MemoryPasteboard::changeCount() {
    MutexLock lock(mutex_);
    return changeCount_;
}

std::vector<PasteboardItem> MemoryPasteboard::items() {
    MutexLock lock(mutex_);
    return items_;
}

void MemoryPasteboard::clear() { write({}); }

void MemoryPasteboard::write(std::vector<PasteboardItem> items) {
    MutexLock lock(mutex_);
    items_ = std::move(items);
    ++changeCount_;
}

}  // namespace quib
