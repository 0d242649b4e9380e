#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace quib {

// A thread that does one object's work and ends with it. Destroying it joins the thread; when
// the owner is destroyed from inside that very thread (its last reference dropped by one of its
// own tasks), the thread cannot join itself and is let go to finish alone instead. An owner that
// must not wait for the thread's last work lets it go itself.
//
// Threads let go that way are still waited for when the process exits (a short while at most),
// and each thread releases the state OpenSSL keeps per thread before it ends. Otherwise a
// process exiting while such a thread finishes its last task would lose that state unreleased.
class WorkerThread {
public:
    explicit WorkerThread(std::function<void()> body);
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

private:
    struct Run;
    std::shared_ptr<Run> run_;
    std::thread thread_;
};

}  // namespace quib
