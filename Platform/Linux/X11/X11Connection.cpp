#include "Platform/Linux/X11/X11Connection.hpp"

#include <array>
#include <cstddef>

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
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display) return nullptr;
    auto connection = std::make_shared<X11Connection>(Passkey{}, display);
    XSetIOErrorExitHandler(display, &X11Connection::ioErrorExit, connection.get());
    return connection;
}

X11Connection::X11Connection(Passkey, Display* display) : display_(display) {}

X11Connection::~X11Connection() {
    if (gone_.load()) keepForever(display_);
    else XCloseDisplay(display_);
}

void X11Connection::abandon() {
    std::lock_guard lock(mutex_);
    gone_.store(true);
}

// Called by Xlib, on whichever thread met the failure, in place of ending the process.
void X11Connection::ioErrorExit(Display*, void* self) { static_cast<X11Connection*>(self)->gone_.store(true); }

// A plain array, never destroyed, so that the leak checker still sees them at exit. A process
// opens a few connections, so it never fills.
void X11Connection::keepForever(Display* display) {
    static std::mutex mutex;
    static std::array<Display*, 64> kept{};
    static std::size_t count = 0;
    std::lock_guard lock(mutex);
    if (count < kept.size()) kept[count++] = display;
}

}  // namespace quib
