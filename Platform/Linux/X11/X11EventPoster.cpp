#include "Platform/Linux/X11/X11EventPoster.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>

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

void click(Display* display, unsigned int button, int times) {
    for (int i = 0; i < times; ++i) {
        XTestFakeButtonEvent(display, button, True, CurrentTime);
        XTestFakeButtonEvent(display, button, False, CurrentTime);
    }
}

// Gesture and momentum phases of a scroll: a run begins, a run ends.
bool beginsRun(const InputEvent& event) {
    return event.field(EventField::scrollPhase) == 1 || event.field(EventField::momentumPhase) == 1;
}
bool endsRun(const InputEvent& event) {
    return event.field(EventField::scrollPhase) == 4 || event.field(EventField::momentumPhase) == 3;
}

}  // namespace

// A client that uses the keyboard extension hears of map changes only when it asks to; Xlib then
// passes them on as mapping notifications.
X11EventPoster::X11EventPoster(std::shared_ptr<X11Connection> connection, std::shared_ptr<DesktopEntries> apps)
    : connection_(std::move(connection)), apps_(std::move(apps)) {
    connection_->use([](Display* display) {
        constexpr unsigned long changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, changes, changes);
        XSync(display, False);
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

// The round trip that makes a post arrive, and a look at what the server sent meanwhile: only
// keyboard changes come to this connection, and each makes the map stale.
void X11EventPoster::sync(Display* display) {
    XSync(display, False);
    while (!connection_->isGone() && XEventsQueued(display, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MappingNotify) continue;
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request == MappingKeyboard) keymap_.markStale();
    }
}

Point X11EventPoster::pointerLocation() {
    Point location;
    connection_->use([&](Display* display) {
        Window root = None, child = None;
        int x = 0, y = 0, windowX = 0, windowY = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask))
            return;
        // Still where the host put it: the fraction the server cannot hold counts.
        if (lastPosted_ && coordinate(lastPosted_->x) == x && coordinate(lastPosted_->y) == y) location = *lastPosted_;
        else location = {static_cast<double>(x), static_cast<double>(y)};
    });
    return location;
}

void X11EventPoster::postMotion(Point location) {
    connection_->use([&](Display* display) {
        XTestFakeMotionEvent(display, DefaultScreen(display), coordinate(location.x), coordinate(location.y),
                             CurrentTime);
        sync(display);
        lastPosted_ = location;
    });
}

// The click state says which click of a run a press is; X needs the earlier ones posted (at
// most a triple click's).
void X11EventPoster::postButton(const InputEvent& event, bool down) {
    const unsigned int button = xButton(event.mouseButton);
    const std::int64_t clickState = event.field(EventField::mouseClickState).value_or(1);
    const int earlier = down ? static_cast<int>(std::clamp<std::int64_t>(clickState, 1, 3)) - 1 : 0;
    connection_->use([&](Display* display) {
        click(display, button, earlier);
        XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
        sync(display);
    });
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
