#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>

#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// Time that moves only when a test says so. `advance` fires every due timer, in deadline order,
// on the calling thread.
class FakeClock final : public Clock {
public:
    explicit FakeClock(MonoTime start = MonoTime(std::chrono::hours(1)),
                       WallTime wallStart = WallTime(std::chrono::seconds(1'800'000'000)));

    MonoTime now() const override;
    WallTime wallNow() const override;
    Cancellable schedule(MonoTime deadline, std::function<void()> fire) override;

    void advance(Duration by);
    void setWallTime(WallTime wall);
    std::size_t pendingTimers() const;

private:
    struct Timer {
        std::function<void()> fire;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    mutable Mutex mutex_;
    MonoTime now_ GUARDED_BY(mutex_);
    WallTime wall_ GUARDED_BY(mutex_);
    std::multimap<MonoTime, Timer> timers_ GUARDED_BY(mutex_);
};

}  // namespace quib
