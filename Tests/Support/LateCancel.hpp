#pragma once

#include <chrono>
#include <thread>

#include "Runtime/CancelToken.hpp"

namespace quib::testing {

// Cancels a token from a thread of its own after a while, and tells when it did.
class LateCancel {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit LateCancel(std::chrono::milliseconds after)
        : thread_([this, after] {
              std::this_thread::sleep_for(after);
              at_ = std::chrono::steady_clock::now();
              token.cancel();
          }) {}
    ~LateCancel() {
        if (thread_.joinable()) thread_.join();
    }
    LateCancel(const LateCancel&) = delete;
    LateCancel& operator=(const LateCancel&) = delete;

    // How long a call that the cancel ended went on after it; call when the call has returned.
    std::chrono::steady_clock::duration lingered() {
        const auto now = std::chrono::steady_clock::now();
        thread_.join();
        return now - at_;
    }

    CancelToken token;

private:
    TimePoint at_{};
    std::thread thread_;
};

}  // namespace quib::testing
