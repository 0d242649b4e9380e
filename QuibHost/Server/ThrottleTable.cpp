#include "QuibHost/Server/ThrottleTable.hpp"

#include <cmath>

namespace quib {

std::optional<std::int64_t> ThrottleTable::lockSeconds(std::int64_t failures) {
    if (failures <= 2) return std::nullopt;
    // 2^9 already passes the ceiling, so larger exponents never need computing.
    const std::int64_t exponent = failures - 2;
    if (exponent >= 9) return longestLockSeconds;
    return std::min<std::int64_t>(std::int64_t{1} << exponent, longestLockSeconds);
}

std::optional<std::int64_t> ThrottleTable::secondsLockedOut(const std::string& source, MonoTime now) const {
    const auto found = records_.find(source);
    if (found == records_.end() || !found->second.blockedUntil || *found->second.blockedUntil <= now) {
        return std::nullopt;
    }
    const double remaining = std::chrono::duration<double>(*found->second.blockedUntil - now).count();
    return static_cast<std::int64_t>(std::lround(remaining));
}

ThrottleTable::Failure ThrottleTable::noteFailure(const std::string& source, MonoTime now) {
    prune(now);
    if (!records_.contains(source)) makeRoom(now);
    Throttle& record = records_[source];
    record.failures += 1;
    record.lastFailure = now;
    Failure failure{record.failures, lockSeconds(record.failures)};
    if (failure.lockSeconds) record.blockedUntil = now + std::chrono::seconds(*failure.lockSeconds);
    return failure;
}

void ThrottleTable::makeRoom(MonoTime now) {
    if (records_.size() < maxSources) return;
    auto isLocked = [now](const Throttle& t) { return t.blockedUntil && *t.blockedUntil > now; };
    auto oldest = records_.end();
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (oldest == records_.end()) {
            oldest = it;
            continue;
        }
        const bool locked = isLocked(it->second), oldestLocked = isLocked(oldest->second);
        if (locked != oldestLocked ? !locked : it->second.lastFailure < oldest->second.lastFailure) oldest = it;
    }
    records_.erase(oldest);
}

std::optional<Throttle> ThrottleTable::record(const std::string& source) const {
    const auto found = records_.find(source);
    if (found == records_.end()) return std::nullopt;
    return found->second;
}

void ThrottleTable::prune(MonoTime now) {
    const MonoTime horizon = now - pruneAge;
    std::erase_if(records_, [&](const auto& entry) { return entry.second.lastFailure <= horizon; });
}

}  // namespace quib
