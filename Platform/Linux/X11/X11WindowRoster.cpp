#include "Platform/Linux/X11/X11WindowRoster.hpp"

#include <algorithm>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"

namespace quib {

X11WindowRoster::X11WindowRoster(std::shared_ptr<X11Connection> connection, std::shared_ptr<Permissions> permissions,
                                 std::shared_ptr<DesktopEntries> apps)
    : connection_(std::move(connection)), permissions_(std::move(permissions)), apps_(std::move(apps)) {}

WindowRoster::Raise X11WindowRoster::raise(std::uint32_t windowID, const std::string& bundleID, const std::string& name,
                                           bool movingPointer) {
    return bringForward(windowID, bundleID, name, false, movingPointer);
}

WindowRoster::Raise X11WindowRoster::open(std::uint32_t windowID, const std::string& bundleID,
                                          const std::string& name) {
    return bringForward(windowID, bundleID, name, true, false);
}

// A display that went away refuses as an untrusted one does.
WindowRoster::Raise X11WindowRoster::bringForward(std::uint32_t windowID, const std::string& bundleID,
                                                  const std::string& name, bool opening, bool movingPointer) {
    Raise result = Raise::refused(std::string(Permissions::accessibilityRefusal));
    if (!permissions_->accessibilityTrusted()) return result;
    connection_->use([&](Display* display) {
        const auto windows = windowsOf(display, bundleID);
        if (windows.empty()) {
            result = Raise::refused(notRunningText(name));
            return;
        }
        const Window window = windowID;
        if (std::ranges::find(windows, window) == windows.end()) {
            result = Raise::refused(std::string(closedText));
            return;
        }
        std::string title = X11ClientWindows::title(display, window);
        if (X11ClientWindows::isHidden(display, window)) {
            if (!opening) {
                result = Raise::refused(minimisedText(title));
                return;
            }
            if (!mapAgain(display, window)) {
                result = Raise::refused(stuckMinimisedText(name));
                return;
            }
        }
        activate(display, window);
        const auto frame = movingPointer ? X11ClientWindows::frame(display, window) : std::nullopt;
        result = Raise::raisedWindow(std::move(title), frame);
    });
    return result;
}

// The main window (the highest that is not minimised) whenever there is one: an app with a shown
// window always has it, so the frame is the main window's, or none when it cannot be read.
std::optional<Rect> X11WindowRoster::frontWindowFrame(const std::string& bundleID) {
    std::optional<Rect> front;
    if (!permissions_->accessibilityTrusted()) return front;
    connection_->use([&](Display* display) {
        for (const Window window : windowsOf(display, bundleID)) {
            if (X11ClientWindows::isHidden(display, window)) continue;
            front = X11ClientWindows::frame(display, window);
            return;
        }
    });
    return front;
}

std::vector<WindowRoster::AccessibleWindow> X11WindowRoster::accessibleWindows(const std::string& bundleID) {
    std::vector<AccessibleWindow> windows;
    if (!permissions_->accessibilityTrusted()) return windows;
    connection_->use([&](Display* display) {
        bool mainFound = false;
        for (const Window window : windowsOf(display, bundleID)) {
            AccessibleWindow described;
            described.number = static_cast<std::uint32_t>(window);
            described.title = X11ClientWindows::title(display, window);
            described.minimised = X11ClientWindows::isHidden(display, window);
            if (const auto frame = X11ClientWindows::frame(display, window)) {
                described.size = WindowSize{frame->width, frame->height};
            }
            described.main = !described.minimised && !mainFound;
            mainFound = mainFound || described.main;
            windows.push_back(std::move(described));
        }
    });
    return windows;
}

std::vector<Window> X11WindowRoster::windowsOf(Display* display, const std::string& bundleID) const {
    const auto installed = apps_->installed();
    const auto app = DesktopEntries::find(installed, bundleID);
    if (!app) return {};
    return X11ClientWindows::windowsOf(display, *app, installed);
}

// The window manager shows a minimised window again once its client maps it; false when the
// server refused the request (the window closed meanwhile, say).
bool X11WindowRoster::mapAgain(Display* display, Window window) {
    X11ErrorTrap trap(display);
    XMapWindow(display, window);
    return !trap.firstError();
}

// A window manager raises, focuses and activates the window when asked, in its own time.
void X11WindowRoster::activate(Display* display, Window window) {
    if (X11ClientWindows::hasWindowManager(display)) X11ClientWindows::requestActivation(display, window);
    else (void)X11ClientWindows::focusDirectly(display, window);
}

}  // namespace quib
