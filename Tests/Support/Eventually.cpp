#include "Tests/Support/Eventually.hpp"

#include <thread>

namespace quib::testing {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
                const std::function<void()>& between, std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (between) between();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(period);
    }
}

}  // namespace quib::testing
