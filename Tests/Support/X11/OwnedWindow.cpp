// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/OwnedWindow.hpp"

namespace quib::testing {

std::optional<OwnedWindow> OwnedWindow::open(const std::string& display,
                                             const std::function<Window(Display*)>& create) {
    auto connection = X11Connection::open(display);
    if (!connection) {
        ADD_FAILURE() << "cannot open " << display;
        return std::nullopt;
    }
    Window window = None;
    connection->use([&](Display* d) {
        window = create(d);
        XSync(d, False);
    });
    return OwnedWindow(std::move(connection), window);
}

OwnedWindow::OwnedWindow(std::shared_ptr<X11Connection> connection, Window window)
    : connection_(std::move(connection)), window_(window) {}

OwnedWindow::~OwnedWindow() {
    // A moved-from window has no connection left and nothing to destroy.
    if (!connection_) return;
    connection_->use([&](Display* d) {
        XDestroyWindow(d, window_);
        XSync(d, False);
    });
}

}  // namespace quib::testing
