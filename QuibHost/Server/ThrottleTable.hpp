#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "QuibHost/Server/Throttle.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// Counts failed handshakes per source and locks out a source whose handshakes keep failing:
// from the third failure on, for 2^(failures-2) seconds, at most 300 s. Records whose last
// failure is an hour old are forgotten at the next failure of any source. At most maxSources
// records are kept: a new source then takes the place of the record whose last failure is the
// oldest, preferring one that is not locked out. Not thread-safe:
// the server touches it on its network queue only.
class ThrottleTable {
public:
    static constexpr std::chrono::seconds pruneAge{3600};
    static constexpr std::int64_t longestLockSeconds = 300;
    static constexpr std::size_t maxSources = 4096;

    // What one more failure did to its source.
    struct Failure {
        std::int64_t failures = 0;                // failures now counted against the source
        std::optional<std::int64_t> lockSeconds;  // the lock-out it started, if any
    };

    // The lock-out that `failures` counted failures earn, in seconds; none for one or two.
    static std::optional<std::int64_t> lockSeconds(std::int64_t failures);

    // The whole seconds (rounded, halves away from zero) left of the source's lock-out, or
    // nothing when the source is not locked out at `now`.
    std::optional<std::int64_t> secondsLockedOut(const std::string& source, MonoTime now) const;

    // Counts one failed handshake of `source` at `now`, pruning stale records first.
    Failure noteFailure(const std::string& source, MonoTime now);

    // Forgets one source (its hello was accepted) or every source (the server restarted).
    void forget(const std::string& source) { records_.erase(source); }
    void clear() { records_.clear(); }

    std::optional<Throttle> record(const std::string& source) const;
    std::size_t size() const { return records_.size(); }
    const std::map<std::string, Throttle>& records() const { return records_; }

private:
    void prune(MonoTime now);
    void makeRoom(MonoTime now);

    std::map<std::string, Throttle> records_;
};

}  // namespace quib
