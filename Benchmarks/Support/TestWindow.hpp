#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <memory>

#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"

namespace quib::bench {

// A window of the benchmark's own on the benchmark display: out of the window manager's hands,
// raised above the rest and painted once, so that what is grabbed from it is known. It lives as
// long as its connection.
class TestWindow {
public:
    struct Place {
        int x = 0, y = 0, width = 0, height = 0;
    };
    // Draws the window's picture with `gc`, on the connection's thread.
    using Paint = std::function<void(Display* display, Window window, GC gc)>;

    // Null when no display can be opened.
    static std::unique_ptr<TestWindow> open(const Place& place, unsigned long background, const Paint& paint) {
        auto made = std::make_unique<TestWindow>();
        made->connection = X11Connection::open(displayName());
        if (!made->connection) return nullptr;
        made->connection->use([&](Display* display) {
            XSetWindowAttributes attributes{};
            attributes.override_redirect = True;
            attributes.background_pixel = background;
            made->window =
                XCreateWindow(display, DefaultRootWindow(display), place.x, place.y, static_cast<unsigned>(place.width),
                              static_cast<unsigned>(place.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWOverrideRedirect | CWBackPixel, &attributes);
            XMapRaised(display, made->window);
            const GC gc = XCreateGC(display, made->window, 0, nullptr);
            paint(display, made->window, gc);
            XFreeGC(display, gc);
            XSync(display, False);
        });
        return made;
    }

    std::shared_ptr<X11Connection> connection;
    Window window = None;
};

}  // namespace quib::bench
