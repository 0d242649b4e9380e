#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Clock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// Opt-in timing samples of the hot paths (pointer moves, control lines, pane capture, video
// encoding). Callers hand in durations in nanoseconds under a series name; once a second, when a
// sample arrives after the window has run out, one line per series is logged with the count,
// mean, median, 95th percentile and maximum in microseconds. Off unless "quib.instrument" is set;
// when off, every recording call returns at once. Safe to use from any thread.
class Instrumentation final {
public:
    static constexpr auto enabledKey = setting<"quib.instrument">;
    static constexpr std::uint64_t windowNanos = 1'000'000'000;
    static constexpr std::size_t maxSamples = 8192;

    // Reads the switch from `settings` once, now (off when missing). `settings` may be null: the
    // switch is then off and `setEnabled` stores nothing. Reports go to perfLog() until replaced.
    Instrumentation(std::shared_ptr<Clock> clock, std::shared_ptr<Settings> settings);

    // The process-wide instance, created on first use with the system clock and the store given
    // to `configureShared`.
    static Instrumentation& shared();
    // Hands the shared instance its settings store; call at start-up before the first use of
    // `shared()`. Later calls change nothing and return false.
    static bool configureShared(std::shared_ptr<Settings> settings);

    bool isEnabled() const { return enabled_.load(std::memory_order_relaxed); }
    // Switches sampling and stores the choice under "quib.instrument".
    void setEnabled(bool enabled);
    // Where reports go from now on (start-up points it at the host's logger).
    void setLogger(const Logger& logger);

    // The monotonic uptime in nanoseconds that `record` measures from.
    std::uint64_t uptimeNanos() const;

    // Records the time elapsed since `start` (an earlier uptimeNanos()) under `series`.
    void record(std::string_view series, std::uint64_t start);
    // Notes a pointer-move message; from the second one on, records the gap to the previous one
    // under "arrival_gap".
    void recordMoveArrival();
    // Appends one sample of `nanos` to `series`; past maxSamples in a window it is dropped.
    // Callers that measure on their own follow it with flushIfWindowElapsed().
    void add(std::string_view series, std::uint64_t nanos);
    // Reports and clears the series when a second has passed since the window began.
    void flushIfWindowElapsed();

private:
    using SeriesMap = std::map<std::string, std::vector<std::uint64_t>, std::less<>>;

    void addLocked(std::string_view series, std::uint64_t nanos) REQUIRES(lock_);
    static void report(SeriesMap series, const Logger& logger);

    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Settings> settings_;
    std::atomic<bool> enabled_;

    Mutex lock_;  // guards everything below
    SeriesMap series_ GUARDED_BY(lock_);
    std::uint64_t lastMoveArrival_ GUARDED_BY(lock_) = 0;  // 0: no move yet
    std::uint64_t windowStart_ GUARDED_BY(lock_);
    Logger logger_ GUARDED_BY(lock_);
};

}  // namespace quib
