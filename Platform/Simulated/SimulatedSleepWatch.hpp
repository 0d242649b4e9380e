#pragma once

#include <string>
#include <vector>

#include "Platform/SleepWatch.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// Sleep and wake that a test announces. It records every delay and release of the sleep, and
// can look at the world at the moment a sleep is let go.
class SimulatedSleepWatch final : public SleepWatch {
public:
    // Without a bus, `start` refuses, as on a machine without one.
    explicit SimulatedSleepWatch(bool hasBus = true) : hasBus_(hasBus) {}

    bool start(Handler handler) override;
    void delaySleep() override;
    void allowSleep() override;

    // Calls the handler on the calling thread, as the system's own thread would.
    void announce(bool goingToSleep);
    // Runs inside every `allowSleep`, before it is recorded.
    void setOnAllow(std::function<void()> check);

    bool isDelaying() const;
    // "delay" and "allow", in call order.
    std::vector<std::string> events() const;

private:
    const bool hasBus_;
    mutable Mutex mutex_;
    Handler handler_ GUARDED_BY(mutex_);
    std::function<void()> onAllow_ GUARDED_BY(mutex_);
    bool delaying_ GUARDED_BY(mutex_) = false;
    std::vector<std::string> events_ GUARDED_BY(mutex_);
};

}  // namespace quib
