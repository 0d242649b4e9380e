#include "Shared/ApprovalClock.hpp"

#include "Runtime/Mutex.hpp"

namespace quib {

namespace {

Mutex& clockLock() {
    static Mutex mutex;
    return mutex;
}

std::shared_ptr<const Clock>& installedClock() {
    static std::shared_ptr<const Clock> clock;
    return clock;
}

std::shared_ptr<const Clock> currentClock() {
    {
        MutexLock guard(clockLock());
        if (installedClock()) return installedClock();
    }
    return SystemClock::shared();
}

}  // namespace

std::int64_t ApprovalClock::now() { return millis(currentClock()->wallNow()); }

std::int64_t ApprovalClock::millis(WallTime at) {
    const std::int64_t nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    constexpr std::int64_t perMilli = 1'000'000;
    std::int64_t whole = nanos / perMilli;
    const std::int64_t rest = nanos % perMilli;
    if (rest >= perMilli / 2) ++whole;
    if (rest <= -perMilli / 2) --whole;
    return whole;
}

void ApprovalClock::use(std::shared_ptr<const Clock> clock) {
    MutexLock guard(clockLock());
    installedClock() = std::move(clock);
}

}  // namespace quib
