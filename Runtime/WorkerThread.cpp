#include "Runtime/WorkerThread.hpp"

#include <openssl/crypto.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>

#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;

// What Linux keeps of a thread's name, not counting the terminating zero.
constexpr std::size_t longestThreadName = 15;

// Keeps count of the threads let go that have not ended yet, and waits for them at exit.
class LetGoThreads {
public:
    LetGoThreads() {
        // OpenSSL cleans up at exit in a handler it registers on first use. Using it first makes
        // that handler run after this object's destructor, so the threads waited for below can
        // still release their OpenSSL state.
        OPENSSL_init_crypto(0, nullptr);
    }
    ~LetGoThreads() {
        UniqueLock lock(mutex_);
        ended_.wait_for(lock.native(), 2s, [this]() REQUIRES(mutex_) { return running_ == 0; });
    }

    Mutex& mutex() RETURN_CAPABILITY(mutex_) { return mutex_; }
    void letGo() REQUIRES(mutex_) { ++running_; }
    void ended() REQUIRES(mutex_) {
        --running_;
        ended_.notify_all();
    }
    int running() {
        MutexLock lock(mutex_);
        return running_;
    }

private:
    Mutex mutex_;
    std::condition_variable ended_;
    int running_ GUARDED_BY(mutex_) = 0;
};

LetGoThreads& letGoThreads() {
    static LetGoThreads threads;
    return threads;
}

}  // namespace

// What the thread and its owner share, under letGoThreads().mutex(). A thread let go before
// it ended counts as running until it does.
struct WorkerThread::Run {
    bool letGo = false;
    bool ended = false;
};

WorkerThread::WorkerThread(std::string_view label, std::function<void()> body) : run_(std::make_shared<Run>()) {
    auto& threads = letGoThreads();
    thread_ = std::thread([&threads, run = run_, name = threadName(label), body = std::move(body)]() mutable {
        ::pthread_setname_np(::pthread_self(), name.c_str());
        body();
        body = nullptr;  // what the body holds goes before the thread's own OpenSSL state
        OPENSSL_thread_stop();
        MutexLock lock(threads.mutex());
        run->ended = true;
        if (run->letGo) threads.ended();
    });
}

WorkerThread::~WorkerThread() {
    if (!isCurrent()) join();
    else letGo();
}

void WorkerThread::letGo() {
    if (!thread_.joinable()) return;
    auto& threads = letGoThreads();
    MutexLock lock(threads.mutex());
    if (!run_->ended) {
        run_->letGo = true;
        threads.letGo();
    }
    thread_.detach();
}

void WorkerThread::join() {
    if (thread_.joinable() && !isCurrent()) thread_.join();
}

int WorkerThread::runningLetGo() { return letGoThreads().running(); }

std::string WorkerThread::threadName(std::string_view label) {
    while (label.size() > longestThreadName) {
        const auto dot = label.find('.');
        if (dot == std::string_view::npos || dot + 1 == label.size())
            return std::string(label.substr(0, longestThreadName));
        label.remove_prefix(dot + 1);
    }
    return std::string(label);
}

}  // namespace quib
