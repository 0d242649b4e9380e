#include "Platform/Linux/X11/X11EventWait.hpp"

#include <poll.h>

#include <algorithm>

namespace quib::X11EventWait {

// Reading first moves what the socket already holds into Xlib's queue, so that a poll after it
// waits only for what has not arrived yet. A lost connection reads as ready: the caller's next
// Xlib call finds out. A signal ends the sleep early, as callers check their own time anyway.
bool forEvents(Display* display, std::optional<std::chrono::microseconds> limit, int wake) {
    if (XEventsQueued(display, QueuedAfterReading) > 0) return true;
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake, POLLIN, 0}};
    timespec timeout{};
    if (limit) {
        const auto micros = std::max<std::chrono::microseconds::rep>(limit->count(), 0);
        timeout = {static_cast<time_t>(micros / 1'000'000), static_cast<long>(micros % 1'000'000 * 1000)};
    }
    const int ready = ::ppoll(fds, wake >= 0 ? 2 : 1, limit ? &timeout : nullptr, nullptr);
    return ready > 0 && fds[0].revents != 0;
}

}  // namespace quib::X11EventWait
