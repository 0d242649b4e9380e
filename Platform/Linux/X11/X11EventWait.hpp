#pragma once

#include <chrono>
#include <optional>

#include <X11/Xlib.h>

namespace quib {

// Sleeping until an X connection has something to handle.
//
// Polling the connection's socket alone misses events Xlib has already read off it: a round
// trip reads every event the server sent before its reply, and a flush reads whatever has
// arrived, into Xlib's own queue, where the socket no longer shows them. A loop that handles
// its events, makes one more call and then polls could sleep through an answer already
// received, until its deadline or the next event.
namespace X11EventWait {

// Sleeps until `display` has events to handle (at once when some are already read), `wake` (a
// descriptor, or -1 for none) is readable, or `limit` passes (none: no limit). True when X
// events are ready; false when woken by `wake` or the time.
bool forEvents(Display* display, std::optional<std::chrono::microseconds> limit, int wake = -1);

}  // namespace X11EventWait
}  // namespace quib
