#include "Platform/Linux/X11/X11EventPoster.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string_view>
#include <vector>

namespace quib {
namespace {

// X coordinates are 16-bit; a point beyond them (no display to keep it on) goes to the edge.
int coordinate(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

unsigned int xButton(std::int64_t button) {
    if (button == EventButton::right) return 3;
    if (button == EventButton::middle) return 2;
    return 1;
}

// Each event after the first waits `spacing` in the server.
void click(Display* display, unsigned int button, int times, std::chrono::milliseconds spacing = {}) {
    const auto delay = static_cast<unsigned long>(spacing.count());
    for (int i = 0; i < times; ++i) {
        XTestFakeButtonEvent(display, button, True, i == 0 ? CurrentTime : delay);
        XTestFakeButtonEvent(display, button, False, delay);
    }
}

// Gesture and momentum phases of a scroll: a run begins, a run ends.
bool beginsRun(const InputEvent& event) {
    return event.field(EventField::scrollPhase) == 1 || event.field(EventField::momentumPhase) == 1;
}
bool endsRun(const InputEvent& event) {
    return event.field(EventField::scrollPhase) == 4 || event.field(EventField::momentumPhase) == 3;
}

// The pointing devices XTEST posts through, and the others: the host's own moves come from the
// first, the user's from the second.
struct Pointers {
    std::set<int> own;
    std::set<int> others;
};

Pointers slavePointers(Display* display) {
    Pointers pointers;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; devices && i < count; ++i) {
        if (devices[i].use != XISlavePointer) continue;
        const std::string_view name = devices[i].name ? devices[i].name : "";
        (name.find("XTEST") != std::string_view::npos ? pointers.own : pointers.others).insert(devices[i].deviceid);
    }
    if (devices) XIFreeDeviceInfo(devices);
    return pointers;
}

// Raw motion is asked for of each other device alone, so that the host's own posts send this
// connection nothing; a change of the devices (one plugged in) is asked for too, to ask again.
// A device that went is forgotten by the server with what was asked of it.
Pointers selectOtherPointers(Display* display) {
    Pointers pointers = slavePointers(display);
    unsigned char hierarchy[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(hierarchy, XI_HierarchyChanged);
    std::vector<XIEventMask> masks{{XIAllDevices, sizeof hierarchy, hierarchy}};
    unsigned char motion[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(motion, XI_RawMotion);
    for (const int device : pointers.others) masks.push_back({device, sizeof motion, motion});
    XISelectEvents(display, DefaultRootWindow(display), masks.data(), static_cast<int>(masks.size()));
    XFlush(display);
    return pointers;
}

}  // namespace

// A client that uses the keyboard extension hears of map changes only when it asks to; Xlib then
// passes them on as mapping notifications.
X11EventPoster::X11EventPoster(std::shared_ptr<X11Connection> connection, std::shared_ptr<DesktopEntries> apps,
                               std::shared_ptr<Clock> clock)
    : connection_(std::move(connection)),
      apps_(std::move(apps)),
      clock_(clock ? std::move(clock) : SystemClock::shared()) {
    connection_->use([](Display* display) {
        constexpr unsigned long changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, changes, changes);
        XSync(display, False);
    });
    std::string name;
    connection_->use([&](Display* display) { name = DisplayString(display); });
    watchOtherDevices(name);
}

X11EventPoster::~X11EventPoster() = default;

// Raw motion reaches the root window from every device, whoever's window the pointer is over.
// Without the input extension, only the pause in the host's moves makes it ask again.
void X11EventPoster::watchOtherDevices(const std::string& displayName) {
    struct Watched {
        int opcode = -1;
        Pointers pointers;
    };
    auto watched = std::make_shared<Watched>();
    motionWatcher_ = X11EventWatcher::start({
        .displayName = displayName,
        .label = "com.brenmoor.quib.host.pointer",
        .setup =
            [watched](Display* display) {
                int event = 0, error = 0, major = 2, minor = 0;
                if (!XQueryExtension(display, "XInputExtension", &watched->opcode, &event, &error)) return false;
                if (XIQueryVersion(display, &major, &minor) != Success) return false;
                watched->pointers = selectOtherPointers(display);
                return true;
            },
        .handle =
            [watched, moved = movedElsewhere_, heard = watcherEvents_](Display* display, XEvent& event) {
                heard->fetch_add(1);
                XGenericEventCookie& cookie = event.xcookie;
                if (cookie.type != GenericEvent || cookie.extension != watched->opcode) return;
                if (!XGetEventData(display, &cookie)) return;
                if (cookie.evtype == XI_HierarchyChanged) {
                    watched->pointers = selectOtherPointers(display);
                } else if (cookie.evtype == XI_RawMotion &&
                           !watched->pointers.own.contains(static_cast<XIRawEvent*>(cookie.data)->sourceid)) {
                    moved->store(true);
                }
                XFreeEventData(display, &cookie);
            },
        .gone = {},
    });
}

void X11EventPoster::post(const InputEvent& event) {
    switch (event.type) {
        case EventType::keyDown: return pressKey(event);
        case EventType::keyUp: return releaseKey(event);
        case EventType::scrollWheel: return postScroll(event);
        case EventType::leftMouseDown:
        case EventType::rightMouseDown:
        case EventType::otherMouseDown: return postButton(event, true);
        case EventType::leftMouseUp:
        case EventType::rightMouseUp:
        case EventType::otherMouseUp: return postButton(event, false);
        case EventType::mouseMoved:
        case EventType::leftMouseDragged:
        case EventType::rightMouseDragged:
        case EventType::otherMouseDragged: return postMotion(event.location);
    }
}

// The round trip that makes a post arrive, and a look at what the server sent meanwhile.
void X11EventPoster::sync(Display* display) {
    XSync(display, False);
    takeEvents(display);
}

// Only keyboard changes come to this connection, and each makes the map stale.
void X11EventPoster::takeEvents(Display* display) {
    while (!connection_->isGone() && XEventsQueued(display, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MappingNotify) continue;
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request == MappingKeyboard) keymap_.markStale();
    }
}

// The point the host moved to last, while nothing else can have moved the pointer since.
std::optional<Point> X11EventPoster::trustedLocation() {
    if (!lastPosted_ || clock_->now() - lastPostedAt_ >= pointerTrust || movedElsewhere_->load()) return std::nullopt;
    return lastPosted_;
}

Point X11EventPoster::pointerLocation() {
    Point location;
    connection_->use([&](Display* display) {
        if (const auto trusted = trustedLocation()) {
            location = *trusted;
            return;
        }
        movedElsewhere_->store(false);
        Window root = None, child = None;
        int x = 0, y = 0, windowX = 0, windowY = 0;
        unsigned int mask = 0;
        const bool found =
            XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
        takeEvents(display);
        if (!found) return;
        // Still where the host put it: the fraction the server cannot hold counts.
        if (lastPosted_ && coordinate(lastPosted_->x) == x && coordinate(lastPosted_->y) == y) location = *lastPosted_;
        else location = {static_cast<double>(x), static_cast<double>(y)};
    });
    return location;
}

// Flushed, not waited for: an error the server answers comes in with the next read.
void X11EventPoster::postMotion(Point location) {
    connection_->use([&](Display* display) {
        XTestFakeMotionEvent(display, DefaultScreen(display), coordinate(location.x), coordinate(location.y),
                             CurrentTime);
        XFlush(display);
        lastPosted_ = location;
        lastPostedAt_ = clock_->now();
    });
}

// The click state says which click of its run a press is. A press after the first of a run
// keeps its distance from the click before it, which may have come an instant earlier.
void X11EventPoster::postButton(const InputEvent& event, bool down) {
    const unsigned int button = xButton(event.mouseButton);
    const std::int64_t clickState = event.field(EventField::mouseClickState).value_or(1);
    connection_->use([&](Display* display) {
        const int earlier = down ? clicksToMakeUp(button, event.location, clickState) : 0;
        click(display, button, earlier, multiClickSpacing);
        const auto delay = down && clickState > 1 ? static_cast<unsigned long>(multiClickSpacing.count()) : CurrentTime;
        XTestFakeButtonEvent(display, button, down ? True : False, delay);
        sync(display);
    });
}

// None when the press continues the run last posted; else the run's earlier clicks, at most a
// triple click's. The press becomes the run's latest.
int X11EventPoster::clicksToMakeUp(unsigned int button, Point place, std::int64_t count) {
    count = std::max<std::int64_t>(count, 1);
    const MonoTime now = clock_->now();
    const int x = coordinate(place.x), y = coordinate(place.y);
    const bool continues = lastClick_ && lastClick_->button == button && lastClick_->count == count - 1 &&
                           now - lastClick_->at <= multiClickTime &&
                           std::abs(lastClick_->x - x) <= multiClickDistance &&
                           std::abs(lastClick_->y - y) <= multiClickDistance;
    lastClick_ = Click{button, now, x, y, count};
    return continues ? 0 : static_cast<int>(std::min<std::int64_t>(count, 3)) - 1;
}

// A new run starts from nothing; the zero event that closes a run posts nothing. Positive
// deltas scroll up and left, as the wheels of the host's own events do.
void X11EventPoster::postScroll(const InputEvent& event) {
    connection_->use([&](Display* display) {
        if (beginsRun(event) || endsRun(event)) {
            vertical_.clear();
            horizontal_.clear();
        }
        if (endsRun(event)) return;
        const int vertical = vertical_.add(event.wheels[0]);
        const int horizontal = horizontal_.add(event.wheels[1]);
        if (vertical == 0 && horizontal == 0) return;
        click(display, vertical > 0 ? 4 : 5, std::abs(vertical));
        click(display, horizontal > 0 ? 6 : 7, std::abs(horizontal));
        sync(display);
    });
}

}  // namespace quib
