#pragma once

#include <functional>
#include <future>
#include <memory>

namespace quib {

// What `sync` means for every queue of the host: runs `task` on `queue` and waits for it. On the
// queue's own thread, where waiting would never end, it runs `task` at once. False, and nothing
// run, when the queue drops the task unrun (it has shut down); `queue` needs only `post(task)`
// and `isCurrent()`.
template <class Queue>
bool runSynchronously(Queue& queue, const std::function<void()>& task) {
    if (queue.isCurrent()) {
        task();
        return true;
    }
    // The task alone holds the promise: dropped unrun, it breaks the promise instead of leaving
    // the caller waiting.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    queue.post([&task, done = std::move(done)] {
        task();
        done->set_value();
    });
    try {
        finished.get();
        return true;
    } catch (const std::future_error&) {
        return false;
    }
}

}  // namespace quib
