#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Runtime/Mutex.hpp"

struct sd_bus;
struct sd_bus_message;

namespace quib {

// Whether the host's desktop session is locked, as logind says (the LockedHint of the session
// named by $XDG_SESSION_ID, else of the session this process runs in), read over the system bus
// at every ask. Each call waits at most `timeout` for logind: one that does not answer in time
// reads as not locked, so a logind that hangs holds nobody up. Without a system bus or a session,
// the screen is never locked (the bus is looked for again at each ask). Any thread; calls are
// served one at a time.
class LogindScreenLock {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{250};

    explicit LogindScreenLock(std::chrono::milliseconds timeout = defaultTimeout);
    ~LogindScreenLock();
    LogindScreenLock(const LogindScreenLock&) = delete;
    LogindScreenLock& operator=(const LogindScreenLock&) = delete;

    bool isLocked();

private:
    // With the lock held.
    bool connect() REQUIRES(mutex_);
    // The session's object path; none while logind cannot say. Once it says there is no session,
    // `noSession_` stays set.
    std::optional<std::string> sessionPath() REQUIRES(mutex_);
    // Sends `call` (consumed) and reads the object path it answers with; none without an answer.
    std::optional<std::string> callForPath(sd_bus_message* call) REQUIRES(mutex_);
    // Calls logind and waits at most the time-out; the reply, or none with the bus dropped when
    // it broke, or `noSession_` set when logind (or its absence) says there is no session.
    sd_bus_message* send(sd_bus_message* call) REQUIRES(mutex_);
    void disconnect() REQUIRES(mutex_);

    const std::uint64_t timeoutMicros_;
    Mutex mutex_;
    sd_bus* bus_ GUARDED_BY(mutex_) = nullptr;
    std::optional<std::string> sessionPath_ GUARDED_BY(mutex_);
    bool noSession_ GUARDED_BY(mutex_) = false;
    bool saidNoBus_ GUARDED_BY(mutex_) = false;
};

}  // namespace quib
