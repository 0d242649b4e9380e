#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Runtime/Geometry.hpp"

namespace quib {

// The top-level windows of the desktop's apps as the window manager publishes them, who owns
// them, and asking the window manager to bring one forward. Each call makes round trips on
// `display` (the caller holds its connection); a window that vanished meanwhile reads as absent.
namespace X11ClientWindows {

// The windows the window manager manages, in the order they were mapped (_NET_CLIENT_LIST).
// Without a window manager: the root's mapped children that carry a WM_CLASS.
std::vector<Window> clients(Display* display);
// The same windows bottom of the stack first: those of _NET_CLIENT_LIST_STACKING in the order
// the server stacks them; without a window manager the root's mapped children.
std::vector<Window> stacking(Display* display);

// A window manager runs: the root names a check window that names itself (_NET_SUPPORTING_WM_CHECK).
bool hasWindowManager(Display* display);
// The window the window manager has made active (_NET_ACTIVE_WINDOW); none when no window is.
std::optional<Window> activeWindow(Display* display);

// The process that made the window (_NET_WM_PID); none when the client does not say.
std::optional<std::int64_t> processID(Display* display, Window window);
// The window's title as UTF-8: _NET_WM_NAME, else WM_NAME; "" when it has neither.
std::string title(Display* display, Window window);
// The window is minimised: _NET_WM_STATE holds _NET_WM_STATE_HIDDEN, and the window is not
// shown. A window manager may leave HIDDEN behind when it shows a window again, so a window
// that is viewable and whose WM_STATE is not Iconic counts as shown whatever HIDDEN says.
bool isHidden(Display* display, Window window);
// The window is an ordinary app window or a dialog: its _NET_WM_WINDOW_TYPE is absent or names
// _NET_WM_WINDOW_TYPE_NORMAL or _NET_WM_WINDOW_TYPE_DIALOG first (not a dock, panel, menu or
// desktop, say).
bool isNormalWindow(Display* display, Window window);
// The desktop the window manager shows now (_NET_CURRENT_DESKTOP); none when it has no desktops.
std::optional<unsigned long> currentDesktop(Display* display);
// The window shows on `current` (none: the desktop is unknown): its _NET_WM_DESKTOP is absent,
// 0xFFFFFFFF (every desktop) or `current`.
bool isOnDesktop(Display* display, Window window, std::optional<unsigned long> current);
// The window's frame in root coordinates, as its client drew it (the window manager's frame
// left out); none when the window is gone.
std::optional<Rect> frame(Display* display, Window window);

// The installed app whose windows carry the window's WM_CLASS (the entry's StartupWMClass, its
// ID, or its program); none when no entry claims it.
std::optional<DesktopEntry> owner(Display* display, Window window, std::span<const DesktopEntry> installed);
// The client windows of `app` (one of `installed`), highest in the stack first.
std::vector<Window> windowsOf(Display* display, const DesktopEntry& app, std::span<const DesktopEntry> installed);

// Asks the window manager to raise, focus and activate `window`: a _NET_ACTIVE_WINDOW message
// as a pager sends it (source 2), stamped with the server's time now. Flushed, not confirmed:
// whether it happened shows in activeWindow.
void requestActivation(Display* display, Window window);
// Without a window manager, nobody answers that request: raises `window` and gives it the
// keyboard directly, at the server's time now. Whether the server did so.
bool focusDirectly(Display* display, Window window);
// The server's time now, read from the notice of an empty change to a window of our own;
// CurrentTime when it cannot be read.
Time serverTime(Display* display);

}  // namespace X11ClientWindows
}  // namespace quib
