#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <X11/Xlib.h>

#include "Platform/Linux/X11/X11Connection.hpp"

namespace quib::testing {

// A window a test made on a connection of its own; destroyed with the object.
class OwnedWindow {
public:
    // Opens `display` and makes the window there with `create`, which returns it; none, with a
    // test failure, when the display does not open.
    static std::optional<OwnedWindow> open(const std::string& display, const std::function<Window(Display*)>& create);

    OwnedWindow(OwnedWindow&&) noexcept = default;
    OwnedWindow& operator=(OwnedWindow&&) = delete;
    ~OwnedWindow();

    Window window() const { return window_; }
    // Runs `body` on the window's own connection.
    void use(const std::function<void(Display*)>& body) const { connection_->use(body); }

private:
    OwnedWindow(std::shared_ptr<X11Connection> connection, Window window);

    std::shared_ptr<X11Connection> connection_;
    Window window_;
};

}  // namespace quib::testing
