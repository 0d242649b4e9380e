// Telling which requests failed, on the shared test display.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

// A window that existed and is gone, as one a user closed in between.
Window closedWindow(Display* display) {
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display, window);
    XSync(display, False);
    return window;
}

// A request that failed before the trap was set is not the trap's; traps nest, the innermost
// one taking the errors of its own requests.
TEST(X11ErrorTrap, CatchesOnlyTheErrorsOfItsOwnRequests) {
    QUIB_REQUIRE_TEST_DISPLAY();
    auto connection = X11Connection::open(testDisplayName());
    ASSERT_TRUE(connection);
    connection->use([](Display* display) {
        const Window gone = closedWindow(display);
        {
            X11ErrorTrap trap(display);
            XMapWindow(display, DefaultRootWindow(display));
            EXPECT_EQ(trap.firstError(), std::nullopt);
            XMapWindow(display, gone);
            EXPECT_EQ(trap.firstError(), BadWindow);
        }
        XMapWindow(display, gone);
        X11ErrorTrap outer(display);
        EXPECT_EQ(outer.firstError(), std::nullopt);
        {
            X11ErrorTrap inner(display);
            XUnmapWindow(display, gone);
            EXPECT_EQ(inner.firstError(), BadWindow);
        }
        EXPECT_EQ(outer.firstError(), std::nullopt);
        XFreePixmap(display, gone);
        EXPECT_EQ(outer.firstError(), BadPixmap);
    });
}

// Two threads, each on a connection of its own, making failing requests at once: each trap
// gets exactly the errors of its own thread's requests.
TEST(X11ErrorTrap, TrapsOnSeveralThreadsEachSeeOnlyTheirOwnErrors) {
    QUIB_REQUIRE_TEST_DISPLAY();
    std::atomic<int> ready{0};
    const auto fail = [&](int expected, int& wrong) {
        auto connection = X11Connection::open(testDisplayName());
        ASSERT_TRUE(connection);
        connection->use([&](Display* display) {
            const Window gone = closedWindow(display);
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();
            for (int round = 0; round < 300; ++round) {
                X11ErrorTrap quiet(display);
                XMapWindow(display, DefaultRootWindow(display));
                if (quiet.firstError()) ++wrong;
                X11ErrorTrap trap(display);
                if (expected == BadWindow) XUnmapWindow(display, gone);
                else XFreePixmap(display, gone);
                if (trap.firstError() != expected) ++wrong;
            }
        });
    };
    int wrongWindows = 0, wrongPixmaps = 0;
    std::thread windows(fail, BadWindow, std::ref(wrongWindows));
    std::thread pixmaps(fail, BadPixmap, std::ref(wrongPixmaps));
    windows.join();
    pixmaps.join();
    EXPECT_EQ(wrongWindows, 0);
    EXPECT_EQ(wrongPixmaps, 0);
}

}  // namespace
}  // namespace quib::testing
