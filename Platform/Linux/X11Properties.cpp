#include "Platform/Linux/X11Properties.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace quib::X11Properties {

std::optional<Window> windowProperty(Display* display, Window window, const char* property) {
    const Atom name = XInternAtom(display, property, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, name, 0, 1, False, XA_WINDOW, &type, &format, &count,
                                          &after, &data);
    std::optional<Window> result;
    if (status == Success && data && type == XA_WINDOW && format == 32 && count == 1) {
        // Xlib hands 32-bit properties over as longs.
        const Window value = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
        if (value != None) result = value;
    }
    if (data) XFree(data);
    return result;
}

std::optional<Window> focusedWindow(Display* display) {
    if (auto active = windowProperty(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW")) return active;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus == None || focus == PointerRoot) return std::nullopt;
    return focus;
}

std::optional<WindowClass> windowClass(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    // A bound on the walk, should a broken tree loop.
    for (int depth = 0; depth < 64 && window != None && window != root; ++depth) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            WindowClass found{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            return found;
        }
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return std::nullopt;
        if (children) XFree(children);
        window = parent;
    }
    return std::nullopt;
}

}  // namespace quib::X11Properties
