#include "Platform/Simulated/SimulatedSleepWatch.hpp"

namespace quib {

bool SimulatedSleepWatch::start(Handler handler) {
    MutexLock lock(mutex_);
    if (!hasBus_) return false;
    handler_ = std::move(handler);
    return true;
}

void SimulatedSleepWatch::delaySleep() {
    MutexLock lock(mutex_);
    delaying_ = true;
    events_.push_back("delay");
}

void SimulatedSleepWatch::allowSleep() {
    std::function<void()> check;
    {
        MutexLock lock(mutex_);
        check = onAllow_;
    }
    if (check) check();
    MutexLock lock(mutex_);
    delaying_ = false;
    events_.push_back("allow");
}

void SimulatedSleepWatch::announce(bool goingToSleep) {
    Handler handler;
    {
        MutexLock lock(mutex_);
        handler = handler_;
    }
    if (handler) handler(goingToSleep);
}

void SimulatedSleepWatch::setOnAllow(std::function<void()> check) {
    MutexLock lock(mutex_);
    onAllow_ = std::move(check);
}

bool SimulatedSleepWatch::isDelaying() const {
    MutexLock lock(mutex_);
    return delaying_;
}

std::vector<std::string> SimulatedSleepWatch::events() const {
    MutexLock lock(mutex_);
    return events_;
}

}  // namespace quib
