// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/ClientWindow.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"

namespace quib::testing {
namespace {

void setProperties(Display* display, Window window, const ClientWindow::Options& options) {
    std::string instance = options.instance, className = options.className;
    XClassHint hint{instance.data(), className.data()};
    XSetClassHint(display, window, &hint);
    if (options.netTitle) {
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(options.netTitle->data()),
                        static_cast<int>(options.netTitle->size()));
    }
    if (options.legacyTitle) {
        XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(options.legacyTitle->data()),
                        static_cast<int>(options.legacyTitle->size()));
    }
    if (options.processID) {
        const long pid = static_cast<long>(*options.processID);
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
    }
}

}  // namespace

std::unique_ptr<ClientWindow> ClientWindow::open(const std::string& display, const Options& options) {
    auto window = OwnedWindow::open(display, [&](Display* d) {
        const int screen = DefaultScreen(d);
        const Window made = XCreateSimpleWindow(d, RootWindow(d, screen), 50, 60, 320, 200, 0, BlackPixel(d, screen),
                                                WhitePixel(d, screen));
        setProperties(d, made, options);
        XMapWindow(d, made);
        return made;
    });
    if (!window) return nullptr;
    auto client = std::make_unique<ClientWindow>(Passkey{}, std::move(*window));
    const bool listed = eventually([&] {
        bool found = false;
        client->use(
            [&](Display* d) { found = std::ranges::count(X11ClientWindows::clients(d), client->window()) == 1; });
        return found;
    });
    if (!listed) {
        ADD_FAILURE() << "the window was not taken on as a client";
        return nullptr;
    }
    return client;
}

ClientWindow::ClientWindow(Passkey, OwnedWindow window) : window_(std::move(window)) {}

}  // namespace quib::testing
