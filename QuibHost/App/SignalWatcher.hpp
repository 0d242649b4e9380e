#pragma once

#include <functional>
#include <initializer_list>
#include <optional>

#include "Runtime/WorkerThread.hpp"

namespace quib {

// Turns termination signals into an ordinary call on a thread of its own, so that nothing but
// the kernel runs at signal time. The signals must be blocked in every thread (call `block`
// first thing in main, before any thread starts) so that they wait for the watcher.
class SignalWatcher {
public:
    // Blocks the signals in the calling thread; threads started afterwards inherit the mask.
    static void block(std::initializer_list<int> signals);

    // Calls `onSignal` with the signal's number, on the watcher's thread, each time one arrives.
    SignalWatcher(std::initializer_list<int> signals, std::function<void(int)> onSignal);
    // Stops watching and joins the thread.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    bool isWatching() const { return signalFd_ >= 0; }

private:
    void run();

    int signalFd_ = -1;
    int stopFd_ = -1;
    std::function<void(int)> onSignal_;
    std::optional<WorkerThread> thread_;
};

}  // namespace quib
