#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Runtime/Executor.hpp"
#include "Runtime/TaskQueue.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// One worker thread, named after the queue's label, that runs posted tasks in order. Destroying
// the queue runs what is already queued, then joins the worker (from a task of its own, it lets
// the worker finish alone).
class SerialQueue final : public Executor {
public:
    explicit SerialQueue(std::string label, std::shared_ptr<Clock> clock = nullptr);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(Task task) override;
    Cancellable postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

    // Runs `task` on the queue and waits for it; on the queue's own thread it runs at once (see
    // runSynchronously). Always true: the queue runs every task posted while it lives.
    bool sync(const Task& task);

    const std::string& label() const { return label_; }

    // True on the worker of a serial queue labelled `label`, which runs that queue's tasks and
    // nothing else, even once the queue is gone: how an object confined to a queue it holds no
    // reference to can tell that it is on it (see assertOnQueueLabelled).
    static bool isCurrentLabelled(std::string_view label);

private:
    std::string label_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<TaskQueue> tasks_;
    WorkerThread worker_;
};

}  // namespace quib
