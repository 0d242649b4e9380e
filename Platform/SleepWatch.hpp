#pragma once

#include <functional>

namespace quib {

// Tells the host when the computer is about to sleep and when it has woken, and lets it hold
// the sleep back while it closes its connections.
class SleepWatch {
public:
    // Called with true just before the computer sleeps and with false once it has woken, on a
    // thread of the watch's own: the handler only hands the work on.
    using Handler = std::function<void(bool goingToSleep)>;

    virtual ~SleepWatch() = default;

    // Starts watching. False when the system cannot say (the reason is logged once); sleep and
    // wake then go unnoticed.
    virtual bool start(Handler handler) = 0;
    // Any thread: asks the system to wait before sleeping until `allowSleep`, up to its own
    // limit. Holding it twice holds it once.
    virtual void delaySleep() = 0;
    // Any thread: lets a sleep that is being held go ahead.
    virtual void allowSleep() = 0;
};

}  // namespace quib
