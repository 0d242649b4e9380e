#pragma once

#include "Platform/Pasteboard.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// A pasteboard that lives in this process only: where no desktop is there to share one with,
// and inside the simulated desktop.
class MemoryPasteboard final : public Pasteboard {
public:
    std::int64_t changeCount() override;
    std::vector<PasteboardItem> items() override;
    void clear() override;
    void write(std::vector<PasteboardItem> items) override;

private:
    Mutex mutex_;
    std::vector<PasteboardItem> items_ GUARDED_BY(mutex_);
    std::int64_t changeCount_ GUARDED_BY(mutex_) = 0;
};

}  // namespace quib
