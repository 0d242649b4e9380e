#pragma once

#include <memory>
#include <optional>
#include <string>

#include <X11/Xlib.h>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/WindowRoster.hpp"

namespace quib {

// The windows of an X display's apps: an app's windows are the window manager's clients whose
// WM_CLASS its desktop entry claims, numbered by their window IDs and titled by _NET_WM_NAME,
// else WM_NAME. A minimised window is one the window manager marks hidden; the app's main
// window is its active one.
//
// Raising asks the window manager to activate the window (_NET_ACTIVE_WINDOW) and does not wait
// for it: a window that will not rise still counts as raised. Opening maps a minimised window
// first; only an X error on that request (the window closed in between, say) refuses it.
// Without a window manager the window is raised and given the keyboard directly.
//
// Its own connection, under the connection's lock, serves every thread.
class X11WindowRoster final : public WindowRoster {
public:
    // Apps are told by `apps`; the host is trusted as `permissions` say.
    X11WindowRoster(std::shared_ptr<X11Connection> connection, std::shared_ptr<Permissions> permissions,
                    std::shared_ptr<DesktopEntries> apps);

    Raise raise(std::uint32_t windowID, const std::string& bundleID, const std::string& name,
                bool movingPointer) override;
    Raise open(std::uint32_t windowID, const std::string& bundleID, const std::string& name) override;
    std::optional<Rect> frontWindowFrame(const std::string& bundleID) override;
    // The app's client windows, highest first, numbered by their window IDs, sized by their
    // client geometry; the main one is the highest that is not minimised.
    std::vector<AccessibleWindow> accessibleWindows(const std::string& bundleID) override;

private:
    // The app's windows, highest in the stack first; empty when it is not installed or shows
    // no window.
    std::vector<Window> windowsOf(Display* display, const std::string& bundleID) const;
    Raise bringForward(std::uint32_t windowID, const std::string& bundleID, const std::string& name, bool opening,
                       bool movingPointer);
    static bool mapAgain(Display* display, Window window);
    static void activate(Display* display, Window window);

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<DesktopEntries> apps_;
};

}  // namespace quib
