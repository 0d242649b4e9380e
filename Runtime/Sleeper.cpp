#include "Runtime/Sleeper.hpp"

#include <thread>

namespace quib {

void SystemSleeper::sleep(Duration duration) { std::this_thread::sleep_for(duration); }

std::shared_ptr<SystemSleeper> SystemSleeper::shared() {
    static const auto sleeper = std::make_shared<SystemSleeper>();
    return sleeper;
}

void FakeSleeper::sleep(Duration duration) {
    {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(duration);
    }
    clock_->advance(duration);
}

std::vector<Duration> FakeSleeper::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

}  // namespace quib
