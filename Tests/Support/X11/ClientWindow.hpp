#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <X11/Xlib.h>

#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/X11/OwnedWindow.hpp"

namespace quib::testing {

// A top-level window of a test's own, with the class, title and process an app's window would
// carry, on a connection of its own. Destroyed with the object.
class ClientWindow {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Options {
        std::string instance = "quib-client";
        std::string className = "QuibClient";
        std::optional<std::string> netTitle = {};     // _NET_WM_NAME, UTF-8
        std::optional<std::string> legacyTitle = {};  // WM_NAME, Latin-1
        std::optional<std::int64_t> processID = {};
    };

    // Maps the window on `display` and waits until it is listed among the clients (taken on by
    // the window manager, when one runs); none, with a test failure, when it is not in time.
    static std::unique_ptr<ClientWindow> open(const std::string& display, const Options& options);

    ClientWindow(Passkey, OwnedWindow window);

    Window window() const { return window_.window(); }
    // Runs `body` on the window's own connection.
    void use(const std::function<void(Display*)>& body) { window_.use(body); }

private:
    OwnedWindow window_;
};

}  // namespace quib::testing
