#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quib::testing {

// What the streamer did to its neighbours and viewers, in one order, as short lines.
class StreamerEvents {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Forgets what happened so far.
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }
    // Waits (at most 5 s) until `event` has happened; true when it has.
    bool waitFor(const std::string& event) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5),
                                 [&] { return std::find(events_.begin(), events_.end(), event) != events_.end(); });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

}  // namespace quib::testing
