#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <X11/Xlib.h>

#include "Runtime/Mutex.hpp"

namespace quib {

// One connection to an X server, used by one owner at a time under the connection's lock.
//
// An X server that goes away must not end the host, as Xlib would by default: every connection
// opened here returns from Xlib's fatal I/O error and is marked gone instead. Once gone, Xlib is
// never called on it again (not even to close it), and `use` refuses. Xlib's protocol errors (a
// window that vanished while being read, say) are logged and otherwise ignored, so the call that
// met one simply fails.
//
// Xlib's thread support and the process-wide error handlers are set up before the first
// connection opens. Connections open and close one at a time across the process, and each meets
// every extension the host uses while it opens: Xlib and the extensions' libraries keep
// process-wide state about the displays they have met, which a connection closing on one thread
// while another opened or met an extension on another corrupted (a capture stream closes its
// connection on its own thread, while the host opens others).
class X11Connection {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Connects to `name` (empty: $DISPLAY); none when no server answers there.
    static std::shared_ptr<X11Connection> open(const std::string& name = {});

    X11Connection(Passkey, Display* display);
    // Closes the connection unless the server went away.
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Runs `body` with the display under the connection's lock. False when the connection was
    // gone before, or went away during the call (whatever `body` did then had no effect).
    template <class Body>
    bool use(Body&& body) {
        MutexLock lock(mutex_);
        if (gone_.load()) return false;
        body(display_);
        return !gone_.load();
    }

    // The server went away (or the owner gave the connection up): Xlib is not called on it again.
    bool isGone() const { return gone_.load(); }
    // Gives the connection up without asking Xlib: for a server known to be gone from another
    // connection's failure. Waits for a `use` in progress.
    void abandon();

    // The display itself, for an owner that keeps the connection to one thread of its own (an
    // event watcher): it must check `isGone` after each Xlib call that reads from the server.
    Display* unlockedDisplay() const { return display_; }

private:
    static void ioErrorExit(Display* display, void* self);
    // Gone connections are never freed (Xlib must not touch them again), but stay reachable.
    static void keepForever(Display* display);

    Mutex mutex_;
    Display* const display_;
    std::atomic<bool> gone_{false};
};

}  // namespace quib
