// Telling which requests failed, on the shared test display.

#include <gtest/gtest.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"
#include "Tests/Display/TestDisplay.hpp"

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

}  // namespace
}  // namespace quib::testing
