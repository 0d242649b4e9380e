#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <optional>

#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// A thread-safe FIFO of tasks with a blocking take, shared by the serial queue and the main loop.
class TaskQueue {
public:
    void push(Task task);
    // Waits for a task; nothing once `close` has been called and the queue is empty.
    std::optional<Task> take();
    // Takes a task without waiting.
    std::optional<Task> tryTake();
    void close();

private:
    Mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_ GUARDED_BY(mutex_);
    bool closed_ GUARDED_BY(mutex_) = false;
};

// Queues `task` onto `tasks` once `delay` has passed on `clock`. The timer holds the queue only
// weakly, so a timer that fires after its queue is gone does nothing.
Cancellable postAfter(const std::shared_ptr<TaskQueue>& tasks, Clock& clock, Duration delay, Task task);

}  // namespace quib
