#pragma once

#include <memory>
#include <thread>

#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The main executor while Qt's event loop runs the main thread: tasks arrive as events of one
// object of that thread, so posts from one thread run in their order, from any thread, and
// those made before the loop starts run once it does. Delayed tasks start a precise single-shot
// timer there. Once closed (after the loop has ended), posts are dropped where they are made.
class QtMainExecutor final : public Executor {
public:
    // On the thread that made the application, after it.
    QtMainExecutor();
    // Closes.
    ~QtMainExecutor() override;
    QtMainExecutor(const QtMainExecutor&) = delete;
    QtMainExecutor& operator=(const QtMainExecutor&) = delete;

    void post(Task task) override;
    // A cancelled task never runs; its timer is stopped the next time the executor arms one.
    Cancellable postAfter(Duration delay, Task task) override;
    // On the thread that made the application, whether or not its loop runs now.
    bool isCurrent() const override;

    // On the main thread, once the loop has ended: tasks still queued are destroyed there, and
    // every later post is dropped on the posting thread.
    void close();

private:
    class Anchor;

    const std::thread::id thread_;
    Mutex mutex_;                                        // guards anchor_ against close while a post is under way
    std::unique_ptr<Anchor> anchor_ GUARDED_BY(mutex_);  // none once closed
};

}  // namespace quib
