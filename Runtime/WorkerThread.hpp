#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace quib {

// Tells threads apart (see MainLoop::isCurrent); a default one is no thread.
using ThreadID = std::thread::id;

// A thread that does one object's work and ends with it. Destroying it joins the thread; when
// the owner is destroyed from inside that very thread (its last reference dropped by one of its
// own tasks), the thread cannot join itself and is let go to finish alone instead. An owner that
// must not wait for the thread's last work lets it go itself.
//
// Threads let go that way are still waited for when the process exits (a short while at most),
// and each thread releases the state OpenSSL keeps per thread before it ends. Otherwise a
// process exiting while such a thread finishes its last task would lose that state unreleased.
//
// Every thread of the host is one of these, named after the queue or object it serves (see
// threadName), so that `top -H`, debuggers and the sanitizers' reports say whose it is.
class WorkerThread {
public:
    // Runs `body` on a new thread named after `label`.
    WorkerThread(std::string_view label, std::function<void()> body);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Joins the thread now, unless called from it; later calls and the destructor then do nothing.
    void join();
    // Lets the thread finish alone, from any thread: nobody waits for it but the process at exit.
    // Later calls and the destructor then do nothing.
    void letGo();

    // How many threads let go are still running, across the process.
    static int runningLetGo();

    // The name a thread of this label gets: Linux keeps at most 15 characters, so a dotted label
    // longer than that keeps its last parts that fit ("com.example.host.net": "host.net"), and one
    // whose last part alone is too long keeps that part's first 15 characters.
    static std::string threadName(std::string_view label);

private:
    struct Run;
    std::shared_ptr<Run> run_;
    std::thread thread_;
};

}  // namespace quib
