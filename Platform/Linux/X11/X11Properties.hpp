#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "Runtime/Bytes.hpp"

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

// A property's whole value: its type, its format (8, 16 or 32 bits a unit) and its bytes, 32-bit
// units as 4 bytes each in the machine's order.
struct Value {
    Atom type = None;
    int format = 0;
    Bytes bytes;
    // The value held more bytes than the reader would take: `bytes` is empty.
    bool oversized = false;
};

// The value of `property` on `window`, none when the property does not exist; deleted once read
// when `remove` (an oversized one too). Two round trips: the size, then the bytes.
std::optional<Value> read(Display* display, Window window, Atom property, std::size_t limit, bool remove);

// Sets (`PropModeReplace`) or extends (`PropModeAppend`) `property` on `window` with `bytes` of
// `format`; units left incomplete at the end are dropped.
void write(Display* display, Window window, Atom property, Atom type, int format, const std::uint8_t* bytes,
           std::size_t size, int mode);

}  // namespace X11Properties
}  // namespace quib
