#include "QuibHost/Server/NetworkQueue.hpp"

#include <future>

#include <asio/post.hpp>

namespace quib {

std::shared_ptr<NetworkQueue> NetworkQueue::create(std::string label, std::shared_ptr<Clock> clock) {
    auto queue = std::make_shared<NetworkQueue>(Passkey{}, std::move(label), std::move(clock));
    queue->begin();
    return queue;
}

NetworkQueue::NetworkQueue(Passkey, std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)), clock_(std::move(clock)), io_(1) {}

void NetworkQueue::begin() {
    work_.emplace(asio::make_work_guard(io_));
    thread_ = std::thread([this] { io_.run(); });
}

NetworkQueue::~NetworkQueue() {
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        // The last owner let go on the queue's own thread: it cannot join itself.
        io_.stop();
        thread_.detach();
        return;
    }
    shutdown();
}

void NetworkQueue::post(Task task) {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    asio::post(io_, std::move(task));
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

bool NetworkQueue::isCurrent() const { return const_cast<asio::io_context&>(io_).get_executor().running_in_this_thread(); }

bool NetworkQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return true;
    }
    // The promise rides in the task: a task dropped by a shutdown breaks it instead of leaving
    // the caller waiting.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return false;
        asio::post(io_, [&task, done] {
            task();
            done->set_value();
        });
    }
    try {
        finished.get();
        return true;
    } catch (const std::future_error&) {
        return false;
    }
}

void NetworkQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        work_.reset();
        io_.stop();
    }
    if (thread_.joinable()) thread_.join();
}

}  // namespace quib
