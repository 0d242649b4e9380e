#include "Platform/Linux/X11/X11Properties.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstring>
#include <vector>

namespace quib::X11Properties {
namespace {

// Xlib hands 32-bit units over as longs, and takes them so.
Bytes unitsOf(const unsigned char* data, int format, unsigned long count) {
    if (format != 32) {
        const std::size_t size = count * static_cast<std::size_t>(format / 8);
        return Bytes(data, data + size);
    }
    Bytes bytes(count * 4);
    const auto* longs = reinterpret_cast<const long*>(data);
    for (unsigned long i = 0; i < count; ++i) {
        const auto unit = static_cast<std::uint32_t>(longs[i]);
        std::memcpy(bytes.data() + i * 4, &unit, 4);
    }
    return bytes;
}

std::vector<long> longsOf(const std::uint8_t* bytes, std::size_t count) {
    std::vector<long> longs(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t unit = 0;
        std::memcpy(&unit, bytes + i * 4, 4);
        longs[i] = static_cast<long>(unit);
    }
    return longs;
}

}  // namespace

std::optional<Window> windowProperty(Display* display, Window window, const char* property) {
    const Atom name = XInternAtom(display, property, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display, window, name, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
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

std::optional<Value> read(Display* display, Window window, Atom property, std::size_t limit, bool remove) {
    Value value;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &value.type, &value.format, &count,
                           &after, &data) != Success) {
        return std::nullopt;
    }
    if (data) XFree(data);
    if (value.type == None) return std::nullopt;
    if (after > limit) {
        if (remove) XDeleteProperty(display, window, property);
        value.oversized = true;
        return value;
    }
    data = nullptr;
    const long units = static_cast<long>((after + 3) / 4);
    if (XGetWindowProperty(display, window, property, 0, units, remove ? True : False, AnyPropertyType, &value.type,
                           &value.format, &count, &after, &data) != Success) {
        return std::nullopt;
    }
    // A value that changed between the two reads: what is there now, whole or not at all.
    if (data && value.type != None && after == 0) value.bytes = unitsOf(data, value.format, count);
    if (data) XFree(data);
    if (value.type == None) return std::nullopt;
    if (after != 0) value.oversized = true;
    return value;
}

void write(Display* display, Window window, Atom property, Atom type, int format, const std::uint8_t* bytes,
           std::size_t size, int mode) {
    if (format != 16 && format != 32) format = 8;
    const std::size_t unit = static_cast<std::size_t>(format / 8);
    const int count = static_cast<int>(size / unit);
    if (format != 32) {
        XChangeProperty(display, window, property, type, format, mode, bytes, count);
        return;
    }
    const std::vector<long> longs = longsOf(bytes, static_cast<std::size_t>(count));
    XChangeProperty(display, window, property, type, format, mode, reinterpret_cast<const unsigned char*>(longs.data()),
                    count);
}

}  // namespace quib::X11Properties
