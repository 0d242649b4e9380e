#include "Shared/ApprovalClock.hpp"

#include "Runtime/Mutex.hpp"

namespace quib {

namespace {

// The clock a test installed, if any.
struct Installed {
    Mutex mutex;
    std::shared_ptr<const Clock> clock GUARDED_BY(mutex);
};

Installed& installed() {
    static Installed slot;
    return slot;
}

std::shared_ptr<const Clock> currentClock() {
    auto& slot = installed();
    {
        MutexLock guard(slot.mutex);
        if (slot.clock) return slot.clock;
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
    auto& slot = installed();
    MutexLock guard(slot.mutex);
    slot.clock = std::move(clock);
}

}  // namespace quib
