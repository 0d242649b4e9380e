#include "Platform/TaskQueue.hpp"

namespace quib {

void TaskQueue::push(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
}

std::optional<Task> TaskQueue::take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || !tasks_.empty(); });
    if (tasks_.empty()) return std::nullopt;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

std::optional<Task> TaskQueue::tryTake() {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) return std::nullopt;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

void TaskQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

}  // namespace quib
