#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11EventWatcher.hpp"
#include "Runtime/Geometry.hpp"

namespace quib::testing {

// A window of a test's own that records every key, button, motion and keyboard-mapping event it
// receives, as a real client would see them.
class ProbeWindow {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Event {
        int type = 0;              // KeyPress, ButtonPress, MotionNotify, MappingNotify ...
        unsigned int keycode = 0;  // keys; the first keycode of a mapping change
        KeySym keysym = NoSymbol;  // keys, as the client's own lookup reads them
        unsigned int state = 0;    // keys, buttons and motion: the modifier and button mask
        unsigned int button = 0;   // buttons
        int count = 0;             // mapping changes: how many keycodes
        Point root;                // buttons and motion
    };

    struct Options {
        std::string instance = "quib-probe";
        std::string className = "QuibProbe";
        // Framed by the window manager and given the keyboard. Otherwise the window sits above
        // the others, unmanaged, for the pointer alone: a window manager that grabs the buttons
        // of its clients (to focus them on click) cannot take the clicks meant for it.
        bool managed = true;
    };

    // Opens the window on `display`, maps it and, when managed, gives it the keyboard (through
    // the window manager when one runs). None, with a test failure, when that does not happen in
    // time.
    static std::unique_ptr<ProbeWindow> open(const std::string& display, Options options);
    static std::unique_ptr<ProbeWindow> open(const std::string& display) { return open(display, Options{}); }

    explicit ProbeWindow(Passkey) {}
    ~ProbeWindow();

    Window window() const { return window_; }
    // The middle of the window, in root coordinates.
    Point centre();

    std::vector<Event> events() const;
    void clear();
    // Waits until the events so far satisfy `done`; false when they do not within `timeout`.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Waits for `count` events of `type`, and returns those that came by then.
    std::vector<Event> waitForType(int type, std::size_t count = 1,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    bool takeKeyboard();
    void record(Display* display, XEvent& event);

    std::shared_ptr<X11Connection> control_;  // the test's own requests about the window
    std::unique_ptr<X11EventWatcher> watcher_;
    Window window_ = None;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

}  // namespace quib::testing
