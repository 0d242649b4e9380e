// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/ProbeWindow.hpp"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>

#include <thread>

#include "Platform/Linux/X11/X11Properties.hpp"

namespace quib::testing {
namespace {

constexpr int width = 400;
constexpr int height = 300;

// Asks the window manager to give `window` the keyboard, as a pager would.
void requestActivation(Display* display, Window window) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = 2;
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &message);
}

}  // namespace

std::unique_ptr<ProbeWindow> ProbeWindow::open(const std::string& display, Options options) {
    auto probe = std::make_unique<ProbeWindow>(Passkey{});
    ProbeWindow* self = probe.get();
    probe->control_ = X11Connection::open(display);
    probe->watcher_ = X11EventWatcher::start({
        .displayName = display,
        .label = "test.probe",
        .setup =
            [self, &options](Display* d) {
                const int screen = DefaultScreen(d);
                self->window_ = XCreateSimpleWindow(d, RootWindow(d, screen), 100, 100, width, height, 0,
                                                    BlackPixel(d, screen), WhitePixel(d, screen));
                if (!options.managed) {
                    XSetWindowAttributes attributes{};
                    attributes.override_redirect = True;
                    XChangeWindowAttributes(d, self->window_, CWOverrideRedirect, &attributes);
                }
                XClassHint hint{options.instance.data(), options.className.data()};
                XSetClassHint(d, self->window_, &hint);
                XSelectInput(d, self->window_,
                             KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                 FocusChangeMask | StructureNotifyMask);
                XMapWindow(d, self->window_);
                // Keyboard map changes reach a client of the keyboard extension only when asked for.
                constexpr unsigned long changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
                XkbSelectEvents(d, XkbUseCoreKbd, changes, changes);
                return true;
            },
        .handle = [self](Display* d, XEvent& event) { self->record(d, event); },
        .gone = {},
    });
    if (!probe->control_ || !probe->watcher_) {
        ADD_FAILURE() << "cannot open a probe window on " << display;
        return nullptr;
    }
    if (probe->waitForType(MapNotify).empty()) {
        ADD_FAILURE() << "the probe window was not shown";
        return nullptr;
    }
    if (options.managed && !probe->takeKeyboard()) {
        ADD_FAILURE() << "the probe window did not get the keyboard";
        return nullptr;
    }
    probe->clear();
    return probe;
}

ProbeWindow::~ProbeWindow() { watcher_.reset(); }

// Window managers commonly focus a new window themselves; otherwise it is asked for, through
// the window manager when one runs (which then names the window active too) or directly, and
// asked again now and then, should the manager not have taken the window on yet.
bool ProbeWindow::takeKeyboard() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int attempt = 0; std::chrono::steady_clock::now() < deadline; ++attempt) {
        bool focused = false;
        control_->use([&](Display* d) {
            const Window root = DefaultRootWindow(d);
            const bool managed = X11Properties::windowProperty(d, root, "_NET_SUPPORTING_WM_CHECK").has_value();
            Window focus = None;
            int revert = 0;
            XGetInputFocus(d, &focus, &revert);
            focused = focus == window_ &&
                      (!managed || X11Properties::windowProperty(d, root, "_NET_ACTIVE_WINDOW") == window_);
            if (focused || attempt % 50 != 10) return;
            if (managed) requestActivation(d, window_);
            else XSetInputFocus(d, window_, RevertToParent, CurrentTime);
            XSync(d, False);
        });
        if (focused) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Point ProbeWindow::centre() {
    Point point;
    control_->use([&](Display* d) {
        int x = 0, y = 0;
        Window child = None;
        XTranslateCoordinates(d, window_, DefaultRootWindow(d), width / 2, height / 2, &x, &y, &child);
        point = {static_cast<double>(x), static_cast<double>(y)};
    });
    return point;
}

// On the watcher's thread. Keys are read the way clients read them, with the keyboard map as
// the client knows it when the event comes.
void ProbeWindow::record(Display*, XEvent& event) {
    Event seen;
    seen.type = event.type;
    switch (event.type) {
        case KeyPress:
        case KeyRelease: {
            char text[16];
            seen.keycode = event.xkey.keycode;
            seen.state = event.xkey.state;
            XLookupString(&event.xkey, text, sizeof text, &seen.keysym, nullptr);
            break;
        }
        case ButtonPress:
        case ButtonRelease:
            seen.button = event.xbutton.button;
            seen.state = event.xbutton.state;
            seen.root = {static_cast<double>(event.xbutton.x_root), static_cast<double>(event.xbutton.y_root)};
            break;
        case MotionNotify:
            seen.state = event.xmotion.state;
            seen.root = {static_cast<double>(event.xmotion.x_root), static_cast<double>(event.xmotion.y_root)};
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            seen.keycode = static_cast<unsigned int>(event.xmapping.first_keycode);
            seen.count = event.xmapping.count;
            seen.state = static_cast<unsigned int>(event.xmapping.request);
            break;
        default: break;
    }
    std::lock_guard lock(mutex_);
    events_.push_back(seen);
    changed_.notify_all();
}

std::vector<ProbeWindow::Event> ProbeWindow::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void ProbeWindow::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool ProbeWindow::waitFor(const std::function<bool(const std::vector<Event>&)>& done,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(events_); });
}

std::vector<ProbeWindow::Event> ProbeWindow::waitForType(int type, std::size_t count,
                                                         std::chrono::milliseconds timeout) const {
    const auto ofType = [type](const std::vector<Event>& events) {
        std::vector<Event> found;
        for (const Event& event : events) {
            if (event.type == type) found.push_back(event);
        }
        return found;
    };
    waitFor([&](const std::vector<Event>& events) { return ofType(events).size() >= count; }, timeout);
    return ofType(events());
}

}  // namespace quib::testing
