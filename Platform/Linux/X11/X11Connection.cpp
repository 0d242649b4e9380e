#include "Platform/Linux/X11/X11Connection.hpp"

#include <array>
#include <cstddef>

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>

#include "Platform/Linux/X11/X11CaptureExtensions.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"
#include "Runtime/Logger.hpp"

namespace quib {
namespace {

// A failed request (a window closed while being read, say) is no reason to stop: the call that
// met it fails, and the caller copes. A caller that must know sets a trap around its requests.
int logProtocolError(Display* display, XErrorEvent* error) {
    if (X11ErrorTrap::claim(display, *error)) return 0;
    quibLog().debug("x11: request ", static_cast<int>(error->request_code), " failed with error ",
                    static_cast<int>(error->error_code));
    return 0;
}

// Returning hands over to the connection's exit handler, which marks it gone.
int logLostServer(Display*) {
    quibLog().error("x11: the connection to the X server was lost");
    return 0;
}

// Held while a connection opens, meets the extensions and closes (see open()).
Mutex& displaysLock() {
    static Mutex lock;
    return lock;
}

// Each extension's library keeps a process-wide list of the displays it has met, added to on a
// display's first use of the extension and taken from as it closes: met here, every one is
// added to before the connection is handed out.
void meetExtensions(Display* display) {
    (void)X11CaptureExtensions::query(display);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    (void)XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
    (void)XRRQueryExtension(display, &eventBase, &errorBase);
}

void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(logProtocolError);
        XSetIOErrorHandler(logLostServer);
    });
}

}  // namespace

std::shared_ptr<X11Connection> X11Connection::open(const std::string& name) {
    prepareXlib();
    std::shared_ptr<X11Connection> connection;
    {
        MutexLock lock(displaysLock());
        Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
        if (!display) return nullptr;
        connection = std::make_shared<X11Connection>(Passkey{}, display);
        XSetIOErrorExitHandler(display, &X11Connection::ioErrorExit, connection.get());
        meetExtensions(display);
    }
    // A server that went away meanwhile is the first caller's to find out.
    return connection;
}

// `mutex_` guards Xlib's state behind `display_`, which only Xlib itself reaches: the pointer
// never changes, so there is no member to mark GUARDED_BY it.
X11Connection::X11Connection(Passkey, Display* display) : display_(display) {}

X11Connection::~X11Connection() {
    if (gone_.load()) {
        keepForever(display_);
        return;
    }
    MutexLock lock(displaysLock());
    XCloseDisplay(display_);
}

void X11Connection::abandon() {
    MutexLock lock(mutex_);
    gone_.store(true);
}

// Called by Xlib, on whichever thread met the failure, in place of ending the process.
void X11Connection::ioErrorExit(Display*, void* self) { static_cast<X11Connection*>(self)->gone_.store(true); }

// A plain array, never destroyed, so that the leak checker still sees them at exit. A process
// opens a few connections, so it never fills.
void X11Connection::keepForever(Display* display) {
    static Mutex mutex;
    static std::array<Display*, 64> kept{};
    static std::size_t count = 0;
    MutexLock lock(mutex);
    if (count < kept.size()) kept[count++] = display;
}

}  // namespace quib
