#include "Shared/Instrumentation.hpp"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <utility>

#include "Shared/UptimeClock.hpp"

namespace quib {
namespace {

constexpr std::string_view kArrivalGap = "arrival_gap";

Mutex gSharedMutex;
std::shared_ptr<Settings> gSharedSettings GUARDED_BY(gSharedMutex);
bool gSharedCreated GUARDED_BY(gSharedMutex) = false;

double micros(std::uint64_t nanos) { return static_cast<double>(nanos) / 1000.0; }

}  // namespace

Instrumentation::Instrumentation(std::shared_ptr<Clock> clock, std::shared_ptr<Settings> settings)
    : clock_(std::move(clock)),
      settings_(std::move(settings)),
      enabled_(settings_ ? settings_->get(enabledKey) : false),
      windowStart_(uptimeNanos()),
      logger_(perfLog()) {}

Instrumentation& Instrumentation::shared() {
    static Instrumentation instance = [] {
        MutexLock lock(gSharedMutex);
        gSharedCreated = true;
        return Instrumentation(SystemClock::shared(), gSharedSettings);
    }();
    return instance;
}

bool Instrumentation::configureShared(std::shared_ptr<Settings> settings) {
    MutexLock lock(gSharedMutex);
    if (gSharedCreated) return false;
    gSharedSettings = std::move(settings);
    return true;
}

void Instrumentation::setEnabled(bool enabled) {
    enabled_.store(enabled, std::memory_order_relaxed);
    if (settings_) (void)settings_->setBool(enabledKey, enabled);  // a failure is logged by the settings
}

void Instrumentation::setLogger(const Logger& logger) {
    MutexLock lock(lock_);
    logger_ = logger;
}

std::uint64_t Instrumentation::uptimeNanos() const { return UptimeClock::nanos(*clock_); }

void Instrumentation::record(std::string_view series, std::uint64_t start) {
    if (!isEnabled()) return;
    // Read before taking the lock, so that waiting for it is not counted as work.
    const std::uint64_t now = uptimeNanos();
    {
        MutexLock lock(lock_);
        addLocked(series, now > start ? now - start : 0);
    }
    flushIfWindowElapsed();
}

void Instrumentation::recordMoveArrival() {
    if (!isEnabled()) return;
    {
        MutexLock lock(lock_);
        // Read under the lock: arrivals on several threads must reach lastMoveArrival in the
        // order of their times, or a gap would come out negative.
        const std::uint64_t now = uptimeNanos();
        const std::uint64_t previous = std::exchange(lastMoveArrival_, now);
        if (previous != 0) addLocked(kArrivalGap, now - previous);
    }
    flushIfWindowElapsed();
}

void Instrumentation::add(std::string_view series, std::uint64_t nanos) {
    if (!isEnabled()) return;
    MutexLock lock(lock_);
    addLocked(series, nanos);
}

void Instrumentation::addLocked(std::string_view series, std::uint64_t nanos) {
    auto found = series_.find(series);
    if (found == series_.end()) found = series_.emplace(std::string(series), std::vector<std::uint64_t>{}).first;
    if (found->second.size() < maxSamples) found->second.push_back(nanos);
}

void Instrumentation::flushIfWindowElapsed() {
    SeriesMap taken;
    std::optional<Logger> logger;
    {
        MutexLock lock(lock_);
        // Read under the lock, so that a thread holding an older time can never see the window
        // start after its own "now" and move the window back.
        const std::uint64_t now = uptimeNanos();
        if (now < windowStart_ + windowNanos) return;
        windowStart_ = now;
        taken.swap(series_);
        logger.emplace(logger_);
    }
    report(std::move(taken), *logger);
}

void Instrumentation::report(SeriesMap series, const Logger& logger) {
    for (auto& [name, samples] : series) {  // the map keeps the names in ascending order
        if (samples.empty()) continue;
        std::sort(samples.begin(), samples.end());
        const std::size_t n = samples.size();
        const std::uint64_t sum = std::accumulate(samples.begin(), samples.end(), std::uint64_t{0});
        const std::uint64_t mean = sum / n;
        const std::uint64_t p50 = samples[n / 2];
        const std::uint64_t p95 = samples[std::min(n - 1, static_cast<std::size_t>(static_cast<double>(n) * 0.95))];
        char line[512];
        std::snprintf(line, sizeof line, "[perf] %s n=%ld mean=%.*fus p50=%.*fus p95=%.*fus max=%.*fus", name.c_str(),
                      static_cast<long>(n), 1, micros(mean), 1, micros(p50), 1, micros(p95), 1, micros(samples.back()));
        logger.emit(LogLevel::info, line);
    }
}

}  // namespace quib
