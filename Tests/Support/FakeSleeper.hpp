#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Sleeper.hpp"

namespace quib {

// Waits no time at all: it moves a fake clock on by the duration (firing the timers that fall
// due on the calling thread) and remembers each wait.
class FakeSleeper final : public Sleeper {
public:
    explicit FakeSleeper(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}
    void sleep(Duration duration) override;
    std::vector<Duration> sleeps() const;

private:
    std::shared_ptr<FakeClock> clock_;
    mutable std::mutex mutex_;
    std::vector<Duration> sleeps_;
};

}  // namespace quib
