#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "Platform/Linux/X11/X11Pasteboard.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Sleeper.hpp"
#include "Tests/Support/FakeSleeper.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"
#include "Tests/Support/X11/Xclip.hpp"

namespace quib::testing {

inline PasteboardItem textItem(std::string_view text) {
    return PasteboardItem{}.set(PasteboardType::string, bytesOf(text));
}

// The suite X11Pasteboard: the clipboard of the shared test display, owned by a pasteboard of
// the test's own, with a connection of the test's own to see who owns it. Pastes go through an
// event injector whose waits run on a fake clock, while X runs for real.
class X11Pasteboard : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        control = X11Connection::open(display);
        ASSERT_TRUE(control);
        pasteboard = quib::X11Pasteboard::open(display);
        ASSERT_TRUE(pasteboard);
        ASSERT_TRUE(pasteboard->hasOwnerNotices());
    }

    Window owner() {
        Window owner = None;
        control->use([&](Display* d) { owner = XGetSelectionOwner(d, XInternAtom(d, "CLIPBOARD", False)); });
        return owner;
    }

    // The injector, on the display's desktop with this pasteboard, made on first use.
    quib::EventInjector& injector() {
        if (!made) {
            auto desktop = X11Desktop::open(display);
            EXPECT_TRUE(desktop);
            if (desktop) desktop->services.pasteboard = pasteboard;
            made = quib::EventInjector::create({.desktop = desktop ? desktop->services : HeadlessDesktop::services(),
                                                .permissions = desktop ? desktop->permissions : nullptr,
                                                .clock = clock,
                                                .sleeper = std::make_shared<FakeSleeper>(clock),
                                                .pasteboardQueue = restores});
        }
        return *made;
    }

    // Lets time pass on the injector's clock, and runs the restores that fell due.
    void wait(Duration duration) {
        clock->advance(duration);
        restores->runPending();
    }

    const std::string display = testDisplayName();
    std::shared_ptr<X11Connection> control;
    std::shared_ptr<quib::X11Pasteboard> pasteboard;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> restores = std::make_shared<MainLoop>(clock);
    std::shared_ptr<quib::EventInjector> made;
};

}  // namespace quib::testing
