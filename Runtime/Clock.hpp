#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

using Duration = std::chrono::nanoseconds;
// Monotonic time since an arbitrary start (for the system clock: since boot).
using MonoTime = std::chrono::time_point<struct MonoClockTag, Duration>;
using WallTime = std::chrono::system_clock::time_point;

// Cancels work scheduled for later. Dropping the handle does not cancel.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::shared_ptr<std::atomic<bool>> flag) : cancelled_(std::move(flag)) {}
    void cancel() const {
        if (cancelled_) cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// The source of time for everything that waits: deadlines, lock-outs, expiries, pacing.
// Tests inject a FakeClock so that all of these run instantly and deterministically.
class Clock {
public:
    virtual ~Clock() = default;
    virtual MonoTime now() const = 0;
    virtual WallTime wallNow() const = 0;
    // Calls `fire` once `deadline` has passed, on a thread of the clock's choosing; it must only
    // hand work on (post it to a queue). Cancelled timers never fire.
    virtual Cancellable schedule(MonoTime deadline, std::function<void()> fire) = 0;

    Cancellable scheduleAfter(Duration delay, std::function<void()> fire) {
        return schedule(now() + delay, std::move(fire));
    }
};

// Real time: CLOCK_MONOTONIC and the system clock, timers on one background thread.
class SystemClock final : public Clock {
public:
    SystemClock();
    ~SystemClock() override;
    SystemClock(const SystemClock&) = delete;
    SystemClock& operator=(const SystemClock&) = delete;

    MonoTime now() const override;
    WallTime wallNow() const override;
    Cancellable schedule(MonoTime deadline, std::function<void()> fire) override;

    // The process-wide real clock.
    static std::shared_ptr<SystemClock> shared();

private:
    struct Timer {
        std::function<void()> fire;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    void run();

    Mutex mutex_;
    std::condition_variable wake_;
    std::multimap<MonoTime, Timer> timers_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    WorkerThread thread_;
};

// Seconds since 2001-01-01 00:00:00 UTC, the epoch of dates in stored records.
double secondsSince2001(WallTime time);
WallTime wallTimeFromSecondsSince2001(double seconds);

// The moment in UTC to the whole second, as "2026-12-08T02:43:39Z".
std::string internetDateTime(WallTime time);

}  // namespace quib
