#include "Runtime/Sleeper.hpp"

#include <thread>

namespace quib {

void SystemSleeper::sleep(Duration duration) { std::this_thread::sleep_for(duration); }

std::shared_ptr<SystemSleeper> SystemSleeper::shared() {
    static const auto sleeper = std::make_shared<SystemSleeper>();
    return sleeper;
}

}  // namespace quib
