#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// A thread of its own with a connection of its own, receiving the X events its owner selected.
// The connection belongs to the thread: the owner touches it only in `setup`, before the thread
// starts.
class X11EventWatcher {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Runs on the watcher's thread, for each event, with the watcher's display.
    using Handler = std::function<void(Display*, XEvent&)>;

    struct Config {
        std::string displayName;  // empty: $DISPLAY
        std::string label;        // names the watcher's thread
        // Selects the events wanted (and makes any windows they come from), on the caller's
        // thread; false gives up.
        std::function<bool(Display*)> setup;
        Handler handle;
        // Called once on the watcher's thread when the server goes away; the watcher then stops.
        std::function<void()> gone;
    };

    // None when the display cannot be opened or `setup` failed.
    static std::unique_ptr<X11EventWatcher> start(Config config);

    X11EventWatcher(Passkey, Config config, std::shared_ptr<X11Connection> connection, int wakeRead, int wakeWrite);
    // Stops the thread and closes the connection.
    ~X11EventWatcher();
    X11EventWatcher(const X11EventWatcher&) = delete;
    X11EventWatcher& operator=(const X11EventWatcher&) = delete;

    // The server went away: the watcher no longer runs.
    bool isGone() const { return connection_->isGone(); }

private:
    void run();
    // Hands every event already received to the handler; false once the connection is gone.
    bool dispatchPending(Display* display);

    Config config_;
    std::shared_ptr<X11Connection> connection_;
    FileDescriptor wakeRead_;
    FileDescriptor wakeWrite_;
    WorkerThread thread_;
};

}  // namespace quib
