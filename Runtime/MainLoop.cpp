#include "Runtime/MainLoop.hpp"

namespace quib {

MainLoop::MainLoop(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : SystemClock::shared()), tasks_(std::make_shared<TaskQueue>()) {}

void MainLoop::post(Task task) { tasks_->push(std::move(task)); }

Cancellable MainLoop::postAfter(Duration delay, Task task) {
    return quib::postAfter(tasks_, *clock_, delay, std::move(task));
}

bool MainLoop::isCurrent() const { return runner_.load() == std::this_thread::get_id(); }

void MainLoop::runTask(Task& task) {
    const auto previous = runner_.exchange(std::this_thread::get_id());
    task();
    runner_.store(previous);
}

void MainLoop::run() {
    runner_.store(std::this_thread::get_id());
    while (!quitting_.load()) {
        auto task = tasks_->take();
        if (!task) break;
        (*task)();
    }
    runner_.store(ThreadID{});
}

void MainLoop::quit() {
    quitting_.store(true);
    tasks_->push([] {});
}

std::size_t MainLoop::runPending() {
    std::size_t count = 0;
    while (auto task = tasks_->tryTake()) {
        runTask(*task);
        ++count;
    }
    return count;
}

}  // namespace quib
