#pragma once

#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "Platform/Linux/X11/X11EventPoster.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/X11/ProbeWindow.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {

// The host's event injector driving the shared test display, a connection of the test's own to
// check what happened there, and a probe window to receive input.
class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        control = X11Connection::open(testDisplayName());
        ASSERT_TRUE(control) << "cannot open " << testDisplayName();
    }

    // Opens the desktop, telling terminals by `apps`, with the injector and the desktop on a
    // clock that stands still (so a scroll run never stalls, and clicks come as fast as need be).
    void openDesktop(std::shared_ptr<DesktopEntries> apps = nullptr) {
        desktop = X11Desktop::open(testDisplayName(), std::move(apps), clock);
        ASSERT_TRUE(desktop);
        EventInjector::Config config;
        config.desktop = desktop->services;
        config.permissions = desktop->permissions;
        config.clock = clock;
        injector = EventInjector::create(std::move(config));
    }

    void openProbe(ProbeWindow::Options options = {}) {
        probe = ProbeWindow::open(testDisplayName(), std::move(options));
        ASSERT_TRUE(probe);
    }

    // Where the server has the pointer, and the buttons and modifiers held.
    struct PointerState {
        Point location;
        unsigned int mask = 0;
    };
    PointerState queryPointer() {
        PointerState state;
        control->use([&](Display* display) {
            Window root = None, child = None;
            int x = 0, y = 0, windowX = 0, windowY = 0;
            XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &state.mask);
            state.location = {static_cast<double>(x), static_cast<double>(y)};
        });
        return state;
    }

    // Puts the pointer somewhere, as the user's own hand would, a moment after the host's last
    // move: long enough for the host to ask the server again where the pointer is. The host's
    // moves are only flushed, so its asking also makes sure they came before the warp.
    void warpPointer(Point to) {
        clock->advance(X11EventPoster::pointerTrust);
        if (desktop) (void)desktop->services.pointer->pointerLocation();
        control->use([&](Display* display) {
            XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, static_cast<int>(to.x),
                         static_cast<int>(to.y));
            XSync(display, False);
        });
        clock->advance(X11EventPoster::pointerTrust);
    }

    // Whether the server puts the pointer at `location`, soon (the host's moves are only flushed).
    bool pointerReaches(Point location) {
        return eventually([&] { return queryPointer().location == location; });
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<X11Connection> control;
    std::optional<X11Desktop::Opened> desktop;
    std::shared_ptr<EventInjector> injector;
    std::unique_ptr<ProbeWindow> probe;
};

}  // namespace quib::testing
