#include "Runtime/TaskQueue.hpp"

namespace quib {

void TaskQueue::push(Task task) {
    {
        MutexLock lock(mutex_);
        if (closed_) return;
        tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
}

std::optional<Task> TaskQueue::take() {
    UniqueLock lock(mutex_);
    ready_.wait(lock.native(), [&]() REQUIRES(mutex_) { return closed_ || !tasks_.empty(); });
    if (tasks_.empty()) return std::nullopt;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

std::optional<Task> TaskQueue::tryTake() {
    MutexLock lock(mutex_);
    if (tasks_.empty()) return std::nullopt;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

void TaskQueue::close() {
    {
        MutexLock lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

Cancellable postAfter(const std::shared_ptr<TaskQueue>& tasks, Clock& clock, Duration delay, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<TaskQueue> weak = tasks;
    clock.scheduleAfter(delay, [weak, cancelled, task = std::move(task)]() mutable {
        if (cancelled->load()) return;
        if (auto queue = weak.lock()) {
            queue->push([cancelled, task = std::move(task)] {
                if (!cancelled->load()) task();
            });
        }
    });
    return Cancellable(cancelled);
}

}  // namespace quib
