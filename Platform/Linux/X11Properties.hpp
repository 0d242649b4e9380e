#pragma once

#include <optional>
#include <string>

#include <X11/Xlib.h>

namespace quib {

// Reading what the window manager and the clients publish on their windows. Each call makes
// round trips on `display`; a window that vanished meanwhile reads as none.
namespace X11Properties {

// A window's WM_CLASS: the instance name and the class name.
struct WindowClass {
    std::string instance;
    std::string className;
    bool operator==(const WindowClass&) const = default;
};

// The window a window property names (a 32-bit WINDOW property such as _NET_ACTIVE_WINDOW);
// none when absent or zero.
std::optional<Window> windowProperty(Display* display, Window window, const char* property);

// The window that has the keyboard: the window manager's _NET_ACTIVE_WINDOW, else the input
// focus; none when nothing has it.
std::optional<Window> focusedWindow(Display* display);

// The WM_CLASS of `window`, or of the nearest ancestor that has one (the input focus may sit on
// a client's inner window); none when neither it nor an ancestor below the root has one.
std::optional<WindowClass> windowClass(Display* display, Window window);

}  // namespace X11Properties
}  // namespace quib
