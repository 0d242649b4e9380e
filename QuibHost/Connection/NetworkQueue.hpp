#pragma once

#include <memory>
#include <optional>
#include <string>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// The server's network queue: one thread running one asio::io_context, so every socket,
// listener and table of the server is touched by that thread alone. Posted tasks and asio
// completions run in order on it. Delayed tasks are timed by the injected clock, so tests move
// deadlines with a FakeClock. After shutdown() nothing more runs and later posts are dropped.
class NetworkQueue final : public Executor, public std::enable_shared_from_this<NetworkQueue> {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    NetworkQueue(Passkey, std::string label, std::shared_ptr<Clock> clock);
    static std::shared_ptr<NetworkQueue> create(std::string label, std::shared_ptr<Clock> clock);
    ~NetworkQueue() override;
    NetworkQueue(const NetworkQueue&) = delete;
    NetworkQueue& operator=(const NetworkQueue&) = delete;

    void post(Task task) override;
    Cancellable postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

    // Runs `task` on the queue and waits for it; on the queue's own thread it runs at once (see
    // runSynchronously). False, running nothing, once the queue has shut down.
    bool sync(const Task& task);

    // Stops the thread after the task in progress; pending tasks are destroyed, never run.
    // Must not be called from the queue's own thread.
    void shutdown();

    asio::io_context& context() { return *io_; }
    const std::string& label() const { return label_; }

private:
    void begin();

    std::string label_;
    std::shared_ptr<Clock> clock_;
    // Shared with the thread, which may still be inside run() when the last owner lets go there.
    std::shared_ptr<asio::io_context> io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    Mutex mutex_;
    bool stopped_ GUARDED_BY(mutex_) = false;
    std::optional<WorkerThread> thread_;
};

}  // namespace quib
