#pragma once

#include <optional>

#include <X11/Xlib.h>

namespace quib {

// Tells whether requests failed. Xlib reports a failed request later, to the one process-wide
// error handler, which logs it and lets the call that met it carry on; while a trap lives, the
// errors of the requests its thread makes on its display from then on are the trap's instead.
// Traps nest: an error goes to the innermost trap that covers its request.
//
// Made, used and destroyed on one thread, inside one use of the display's connection (so that
// no other thread reads the display's replies meanwhile).
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request made so far (XSync), then gives the
    // error code of the first of the trap's requests that failed (BadWindow, say); none when
    // none did.
    std::optional<int> firstError();

    // For the process-wide error handler: whether a trap of this thread takes the error.
    static bool claim(Display* display, const XErrorEvent& error);

private:
    Display* const display_;
    const unsigned long firstRequest_;
    std::optional<int> error_;
    X11ErrorTrap* const outer_;
};

}  // namespace quib
