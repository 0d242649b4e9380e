#include "Tests/Support/FakeSleeper.hpp"

namespace quib {

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
