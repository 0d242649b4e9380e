#pragma once

#include <atomic>
#include <memory>

#include "Runtime/Executor.hpp"
#include "Runtime/TaskQueue.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// The process's main thread when there is no toolkit: `run` takes posted tasks until `quit`.
// Tests pump it by hand with `runPending` instead.
class MainLoop final : public Executor {
public:
    explicit MainLoop(std::shared_ptr<Clock> clock = nullptr);

    void post(Task task) override;
    Cancellable postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

    // Runs tasks on the calling thread until `quit` is called.
    void run();
    // Makes `run` return after the task in progress; safe from any thread and from signal-driven code.
    void quit();
    // Runs every task queued so far and those they queue in turn; returns how many ran.
    std::size_t runPending();

private:
    void runTask(Task& task);

    std::shared_ptr<Clock> clock_;
    std::shared_ptr<TaskQueue> tasks_;
    std::atomic<ThreadID> runner_{};
    std::atomic<bool> quitting_{false};
};

}  // namespace quib
