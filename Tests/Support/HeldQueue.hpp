#pragma once

#include <cstddef>
#include <deque>

#include "Runtime/Executor.hpp"

namespace quib::testing {

// Holds posted tasks until the test runs them, in any order, on its own thread.
class HeldQueue final : public Executor {
public:
    void post(Task task) override { tasks.push_back(std::move(task)); }
    Cancellable postAfter(Duration, Task task) override {
        post(std::move(task));
        return {};
    }
    bool isCurrent() const override { return false; }

    void run(std::size_t index) {
        auto task = std::move(tasks.at(index));
        tasks.erase(tasks.begin() + static_cast<std::ptrdiff_t>(index));
        task();
    }
    void runAll() {
        while (!tasks.empty()) run(0);
    }

    std::deque<Task> tasks;
};

}  // namespace quib::testing
