#pragma once

#include <glib.h>

#include <functional>
#include <string_view>

#include "Runtime/WorkerThread.hpp"

namespace quib {

// One thread running a GLib main loop on a context of its own, for libraries that are not
// thread-safe and expect their context to be run: everything they do happens on this thread,
// between the tasks posted to it, in the order they were posted.
class GlibLoopThread {
public:
    using Task = std::function<void()>;

    // The thread is named after `label`.
    explicit GlibLoopThread(std::string_view label);
    // Runs the tasks already posted, then stops the loop and joins the thread.
    ~GlibLoopThread();
    GlibLoopThread(const GlibLoopThread&) = delete;
    GlibLoopThread& operator=(const GlibLoopThread&) = delete;

    // The context the loop runs; only this thread may dispatch it.
    GMainContext* context() const { return context_; }

    void post(Task task);
    // Runs `task` on the thread and waits for it; on the thread itself it runs at once (see
    // runSynchronously). Always true: every task posted before the loop stops runs.
    bool sync(const Task& task);
    bool isCurrent() const { return thread_.isCurrent(); }

private:
    static void run(GMainContext* context, GMainLoop* loop);

    GMainContext* context_;
    GMainLoop* loop_;
    WorkerThread thread_;
};

}  // namespace quib
