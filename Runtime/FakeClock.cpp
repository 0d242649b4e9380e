#include "Runtime/FakeClock.hpp"

namespace quib {

FakeClock::FakeClock(MonoTime start, WallTime wallStart) : now_(start), wall_(wallStart) {}

MonoTime FakeClock::now() const {
    MutexLock lock(mutex_);
    return now_;
}

WallTime FakeClock::wallNow() const {
    MutexLock lock(mutex_);
    return wall_;
}

Cancellable FakeClock::schedule(MonoTime deadline, std::function<void()> fire) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    MutexLock lock(mutex_);
    timers_.emplace(deadline, Timer{std::move(fire), flag});
    return Cancellable(flag);
}

void FakeClock::advance(Duration by) {
    UniqueLock lock(mutex_);
    const MonoTime target = now_ + by;
    // Fire due timers one at a time, moving time to each deadline, so a timer that schedules
    // another within the window sees the right "now" and its follower fires too.
    while (!timers_.empty() && timers_.begin()->first <= target) {
        auto first = timers_.begin();
        if (first->first > now_) {
            wall_ += first->first - now_;
            now_ = first->first;
        }
        Timer timer = std::move(first->second);
        timers_.erase(first);
        if (timer.cancelled->load()) continue;
        lock.unlock();
        timer.fire();
        lock.lock();
    }
    wall_ += target - now_;
    now_ = target;
}

void FakeClock::setWallTime(WallTime wall) {
    MutexLock lock(mutex_);
    wall_ = wall;
}

std::size_t FakeClock::pendingTimers() const {
    MutexLock lock(mutex_);
    return timers_.size();
}

}  // namespace quib
