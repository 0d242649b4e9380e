#pragma once

#include <functional>
#include <mutex>

#include "QuibHost/Streaming/StillCaptureService.hpp"

namespace quib::testing {

// Answers every capture with the outcome the test sets.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class FakeStillCapture final : public StillCaptureService {
public:
    void capture(const QuibTarget&, std::int64_t, std::function<void(Outcome)> done) override {
        Outcome outcome = Refusal::noDisplay();
        {
            std::lock_guard lock(mutex_);
            outcome = outcome_;
        }
        done(std::move(outcome));
    }
    void set(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcome_ = std::move(outcome);
    }

private:
    std::mutex mutex_;
    Outcome outcome_ = Refusal::noDisplay();
};

}  // namespace quib::testing
