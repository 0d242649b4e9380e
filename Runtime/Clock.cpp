#include "Runtime/Clock.hpp"

#include <cmath>
#include <ctime>

namespace quib {

SystemClock::SystemClock() : thread_("com.brenmoor.quib.clock", [this] { run(); }) {}

SystemClock::~SystemClock() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

MonoTime SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return MonoTime(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
}

WallTime SystemClock::wallNow() const { return std::chrono::system_clock::now(); }

Cancellable SystemClock::schedule(MonoTime deadline, std::function<void()> fire) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    {
        MutexLock lock(mutex_);
        timers_.emplace(deadline, Timer{std::move(fire), flag});
    }
    wake_.notify_all();
    return Cancellable(flag);
}

void SystemClock::run() {
    UniqueLock lock(mutex_);
    while (!stopping_) {
        if (timers_.empty()) {
            wake_.wait(lock.native());
            continue;
        }
        const auto first = timers_.begin();
        const MonoTime current = now();
        if (first->first > current) {
            wake_.wait_for(lock.native(), first->first - current);
            continue;
        }
        Timer timer = std::move(first->second);
        timers_.erase(first);
        if (timer.cancelled->load()) continue;
        lock.unlock();
        timer.fire();
        lock.lock();
    }
}

std::shared_ptr<SystemClock> SystemClock::shared() {
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

namespace {
// 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
constexpr std::int64_t kReferenceDateUnix = 978'307'200;
}  // namespace

double secondsSince2001(WallTime time) {
    const auto sinceUnix = std::chrono::duration<double>(time.time_since_epoch()).count();
    return sinceUnix - static_cast<double>(kReferenceDateUnix);
}

WallTime wallTimeFromSecondsSince2001(double seconds) {
    // A stored or received date can be any JSON number; one beyond what a time point can hold
    // becomes the nearest time it can, since converting it as it is would be undefined.
    using Seconds = std::chrono::duration<double>;
    const double earliest = std::chrono::duration_cast<Seconds>(WallTime::min().time_since_epoch()).count();
    const double latest = std::chrono::duration_cast<Seconds>(WallTime::max().time_since_epoch()).count();
    double sinceUnix = seconds + static_cast<double>(kReferenceDateUnix);
    if (std::isnan(sinceUnix)) sinceUnix = static_cast<double>(kReferenceDateUnix);
    if (!(sinceUnix > earliest)) return WallTime::min();
    if (!(sinceUnix < latest)) return WallTime::max();
    return WallTime(std::chrono::duration_cast<WallTime::duration>(Seconds(sinceUnix)));
}

std::string internetDateTime(WallTime time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

}  // namespace quib
