#include "QuibHost/Connection/NetworkQueue.hpp"

#include <asio/post.hpp>

#include "Runtime/RunSynchronously.hpp"

namespace quib {

std::shared_ptr<NetworkQueue> NetworkQueue::create(std::string label, std::shared_ptr<Clock> clock) {
    auto queue = std::make_shared<NetworkQueue>(Passkey{}, std::move(label), std::move(clock));
    queue->begin();
    return queue;
}

NetworkQueue::NetworkQueue(Passkey, std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)), clock_(std::move(clock)), io_(std::make_shared<asio::io_context>(1)) {}

void NetworkQueue::begin() {
    work_.emplace(asio::make_work_guard(*io_));
    thread_.emplace(label_, [io = io_] { io->run(); });
}

NetworkQueue::~NetworkQueue() {
    if (thread_ && thread_->isCurrent()) {
        // The last owner let go on the queue's own thread: run() returns once the task in
        // progress does, and the thread ends on its own.
        io_->stop();
        return;
    }
    shutdown();
}

void NetworkQueue::post(Task task) {
    MutexLock lock(mutex_);
    if (stopped_) return;
    asio::post(*io_, std::move(task));
}

Cancellable NetworkQueue::postAfter(Duration delay, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<NetworkQueue> weak = weak_from_this();
    auto timer = clock_->scheduleAfter(delay, [weak, cancelled, task = std::move(task)]() mutable {
        if (cancelled->load()) return;
        if (auto queue = weak.lock()) {
            queue->post([cancelled, task = std::move(task)] {
                if (!cancelled->load()) task();
            });
        }
    });
    (void)timer;
    return Cancellable(cancelled);
}

bool NetworkQueue::isCurrent() const { return io_->get_executor().running_in_this_thread(); }

bool NetworkQueue::sync(const Task& task) { return runSynchronously(*this, task); }

void NetworkQueue::shutdown() {
    {
        MutexLock lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        work_.reset();
        io_->stop();
    }
    if (thread_) thread_->join();
}

}  // namespace quib
