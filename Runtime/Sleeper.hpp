#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Runtime/Clock.hpp"

namespace quib {

// The short fixed waits that let another app catch up (after a paste, between key presses).
// Tests put a FakeSleeper in so that they run at once.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Blocks the calling thread for `duration`.
    virtual void sleep(Duration duration) = 0;
};

// Really waits.
class SystemSleeper final : public Sleeper {
public:
    void sleep(Duration duration) override;
    // The process-wide real sleeper.
    static std::shared_ptr<SystemSleeper> shared();
};

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
