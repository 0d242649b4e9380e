#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Server/Neighbours/WindowListService.hpp"

namespace quib::testing {

// The window list the test sets for every app. A neighbour of the server for tests; its state is
// under a lock of its own, since the server calls it from the main loop.
class FixedWindowList final : public WindowListService {
public:
    WindowList windows(const std::string& bundleID, std::optional<std::uint32_t>, bool) override {
        std::lock_guard lock(mutex_);
        listed_.push_back(bundleID);
        return list_;
    }
    // The apps whose windows were asked for, in order.
    std::vector<std::string> listed() {
        std::lock_guard lock(mutex_);
        return listed_;
    }
    void list(WindowList list) {
        std::lock_guard lock(mutex_);
        list_ = std::move(list);
    }

private:
    std::mutex mutex_;
    WindowList list_;
    std::vector<std::string> listed_;
};

}  // namespace quib::testing
