#include "Platform/Linux/X11/X11EventWait.hpp"

#include <poll.h>

#include <algorithm>

namespace quib::X11EventWait {

// Reading first moves what the socket already holds into Xlib's queue, so that a poll after it
// waits only for what has not arrived yet. A lost connection reads as ready: the caller's next
// Xlib call finds out. A signal ends the sleep early, as callers check their own time anyway.
bool forEvents(Display* display, std::optional<std::chrono::milliseconds> limit, int wake) {
    if (XEventsQueued(display, QueuedAfterReading) > 0) return true;
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake, POLLIN, 0}};
    const int timeout = limit ? static_cast<int>(std::max<std::chrono::milliseconds::rep>(limit->count(), 0)) : -1;
    const int ready = ::poll(fds, wake >= 0 ? 2 : 1, timeout);
    return ready > 0 && fds[0].revents != 0;
}

}  // namespace quib::X11EventWait
