#include "Platform/Linux/X11/X11ClientWindows.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <map>
#include <utility>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib::X11ClientWindows {
namespace {

// More windows than any desktop shows, and longer titles than any window bears: a client that
// publishes more is not read further.
constexpr long maxListed = 4096;
constexpr long maxTitleUnits = 16384;  // 64 KiB

// A 32-bit list property of `type`; Xlib hands each unit over as a long.
std::vector<unsigned long> longs(Display* display, Window window, const char* property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    const int status = XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, maxListed, False,
                                          type, &actualType, &format, &count, &after, &data);
    if (status == Success && data && actualType == type && format == 32) {
        const auto* units = reinterpret_cast<const unsigned long*>(data);
        values.assign(units, units + count);
    }
    if (data) XFree(data);
    return values;
}

// An 8-bit property as its client stored it, of whatever type when `type` is AnyPropertyType.
// Only the first maxTitleUnits units are read.
struct TextProperty {
    Atom type = None;
    std::string bytes;
    bool cut = false;  // the client stored more
};

std::optional<TextProperty> textProperty(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<TextProperty> text;
    const int status = XGetWindowProperty(display, window, property, 0, maxTitleUnits, False, type, &actualType,
                                          &format, &count, &after, &data);
    if (status == Success && data && actualType != None && (type == AnyPropertyType || actualType == type) &&
        format == 8) {
        text = TextProperty{actualType, std::string(reinterpret_cast<const char*>(data), count), after > 0};
    }
    if (data) XFree(data);
    return text;
}

// UTF-8 read only up to the limit ends before the character the limit split, not in a
// replacement character for its first bytes.
std::string utf8Text(TextProperty text) {
    if (!text.cut) return std::move(text.bytes);
    std::string& bytes = text.bytes;
    // The last character starts at most three continuation bytes back.
    std::size_t last = bytes.size();
    while (last > 0 && bytes.size() - last < 3 && (static_cast<unsigned char>(bytes[last - 1]) & 0xC0) == 0x80) --last;
    if (last > 0) --last;
    if (!unicode::isValidUtf8(std::string_view(bytes).substr(last))) bytes.resize(last);
    return std::move(bytes);
}

std::string latin1ToUtf8(std::string_view latin1) {
    std::string utf8;
    for (const unsigned char c : latin1) utf8 += unicode::toUtf8(c);
    return utf8;
}

// WM_NAME in whatever encoding the client chose: Latin-1, UTF-8 or compound text. Xlib's own
// reader of it would take up to 4 MB; it is read here within the limit of every title.
std::string legacyTitle(Display* display, Window window) {
    auto text = textProperty(display, window, XA_WM_NAME, AnyPropertyType);
    if (!text) return {};
    if (text->type == XA_STRING) return latin1ToUtf8(text->bytes);
    if (text->type == XInternAtom(display, "UTF8_STRING", False)) return utf8Text(std::move(*text));
    XTextProperty property{reinterpret_cast<unsigned char*>(text->bytes.data()), text->type, 8, text->bytes.size()};
    std::string title;
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success && list) {
        if (count > 0 && list[0]) title = list[0];
        XFreeStringList(list);
    }
    return title;
}

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
           !attributes.override_redirect;
}

// Without a window manager, the apps' windows are the root's own children, bottom first.
std::vector<Window> unmanagedTopLevels(Display* display) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> windows;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return windows;
    for (unsigned int i = 0; i < count; ++i) {
        XClassHint hint{};
        if (!XGetClassHint(display, children[i], &hint)) continue;
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        if (isViewable(display, children[i])) windows.push_back(children[i]);
    }
    if (children) XFree(children);
    return windows;
}

std::vector<Window> managedList(Display* display, const char* property) {
    const auto values = longs(display, DefaultRootWindow(display), property, XA_WINDOW);
    return {values.begin(), values.end()};
}

// The root's child that holds `window`: the window manager's frame around it, or the window
// itself; None when the window is gone.
Window topLevelOf(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    // A bound on the walk, should a broken tree loop.
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return None;
        if (children) XFree(children);
        if (parent == root || parent == None) return window;
        window = parent;
    }
    return None;
}

}  // namespace

std::vector<Window> clients(Display* display) {
    if (!hasWindowManager(display)) return unmanagedTopLevels(display);
    return managedList(display, "_NET_CLIENT_LIST");
}

// Not every window manager publishes its stacking list bottom first, as it should, so the
// clients it lists are ordered by where their frames stand among the root's children.
std::vector<Window> stacking(Display* display) {
    if (!hasWindowManager(display)) return unmanagedTopLevels(display);
    const auto listed = managedList(display, "_NET_CLIENT_LIST_STACKING");
    Window rootReturn = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count)) return listed;
    std::map<Window, unsigned int> height;
    for (unsigned int i = 0; i < count; ++i) height[children[i]] = i;
    if (children) XFree(children);
    std::vector<std::pair<unsigned int, Window>> placed;
    for (Window client : listed) {
        if (auto found = height.find(topLevelOf(display, client)); found != height.end()) {
            placed.emplace_back(found->second, client);
        }
    }
    std::ranges::sort(placed);
    std::vector<Window> ordered;
    for (const auto& [level, client] : placed) ordered.push_back(client);
    return ordered;
}

bool hasWindowManager(Display* display) {
    const auto check = X11Properties::windowProperty(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    // A check window left behind by a window manager that has gone no longer names itself.
    return check && X11Properties::windowProperty(display, *check, "_NET_SUPPORTING_WM_CHECK") == check;
}

std::optional<Window> activeWindow(Display* display) {
    return X11Properties::windowProperty(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW");
}

std::optional<std::int64_t> processID(Display* display, Window window) {
    const auto values = longs(display, window, "_NET_WM_PID", XA_CARDINAL);
    if (values.empty() || values.front() == 0) return std::nullopt;
    return static_cast<std::int64_t>(values.front() & 0xFFFFFFFFu);
}

std::string title(Display* display, Window window) {
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    auto text = textProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8);
    // A client's bytes are not trusted to be what they claim.
    return unicode::sanitizeUtf8(text ? utf8Text(std::move(*text)) : legacyTitle(display, window));
}

bool isHidden(Display* display, Window window) {
    const auto states = longs(display, window, "_NET_WM_STATE", XA_ATOM);
    const Atom hidden = XInternAtom(display, "_NET_WM_STATE_HIDDEN", False);
    if (std::ranges::find(states, hidden) == states.end()) return false;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return true;
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const auto icccm = longs(display, window, "WM_STATE", wmState);
    return !icccm.empty() && icccm.front() == IconicState;
}

bool isNormalWindow(Display* display, Window window) {
    const auto types = longs(display, window, "_NET_WM_WINDOW_TYPE", XA_ATOM);
    if (types.empty()) return true;
    return types.front() == XInternAtom(display, "_NET_WM_WINDOW_TYPE_NORMAL", False) ||
           types.front() == XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
}

std::optional<unsigned long> currentDesktop(Display* display) {
    const auto values = longs(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP", XA_CARDINAL);
    if (values.empty()) return std::nullopt;
    return values.front() & 0xFFFFFFFFu;
}

bool isOnDesktop(Display* display, Window window, std::optional<unsigned long> current) {
    constexpr unsigned long everyDesktop = 0xFFFFFFFFu;
    const auto values = longs(display, window, "_NET_WM_DESKTOP", XA_CARDINAL);
    if (values.empty() || !current) return true;
    const unsigned long desktop = values.front() & 0xFFFFFFFFu;
    return desktop == everyDesktop || desktop == *current;
}

// As the client drew it: the corner inside its border, translated to the root.
std::optional<Rect> frame(Display* display, Window window) {
    Window root = None, child = None;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth)) return std::nullopt;
    const int inset = -static_cast<int>(border);
    int rootX = 0, rootY = 0;
    if (!XTranslateCoordinates(display, window, root, inset, inset, &rootX, &rootY, &child)) return std::nullopt;
    return Rect{static_cast<double>(rootX), static_cast<double>(rootY), static_cast<double>(width),
                static_cast<double>(height)};
}

std::optional<DesktopEntry> owner(Display* display, Window window, std::span<const DesktopEntry> installed) {
    const auto windowClass = X11Properties::windowClass(display, window);
    if (!windowClass) return std::nullopt;
    return DesktopEntries::owner(installed, windowClass->className, windowClass->instance);
}

std::vector<Window> windowsOf(Display* display, const DesktopEntry& app, std::span<const DesktopEntry> installed) {
    std::vector<Window> windows;
    const auto stack = stacking(display);
    for (auto window = stack.rbegin(); window != stack.rend(); ++window) {
        const auto found = owner(display, *window, installed);
        if (found && found->id == app.id) windows.push_back(*window);
    }
    return windows;
}

void requestActivation(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // from a pager: the user asked for it
    event.xclient.data.l[1] = static_cast<long>(serverTime(display));
    event.xclient.data.l[2] = None;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

bool focusDirectly(Display* display, Window window) {
    XRaiseWindow(display, window);
    XSetInputFocus(display, window, RevertToParent, serverTime(display));
    XSync(display, False);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus == window;
}

Time serverTime(Display* display) {
    const Window clock =
        XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    XSelectInput(display, clock, PropertyChangeMask);
    const Atom stamp = XInternAtom(display, "QUIB_TIMESTAMP", False);
    XChangeProperty(display, clock, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    // The notice comes before the answer to the sync.
    XSync(display, False);
    XEvent event{};
    const Time now =
        XCheckTypedWindowEvent(display, clock, PropertyNotify, &event) ? event.xproperty.time : CurrentTime;
    XDestroyWindow(display, clock);
    XFlush(display);
    return now;
}

}  // namespace quib::X11ClientWindows
