// Sleeping on a connection to the shared test display until it has events to handle.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <X11/Xatom.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11EventWait.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

class X11EventWait : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        connection = X11Connection::open(testDisplayName());
        ASSERT_TRUE(connection);
        display = connection->unlockedDisplay();
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, window, PropertyChangeMask);
        XSync(display, False);
    }
    void TearDown() override {
        if (connection && !connection->isGone()) XDestroyWindow(display, window);
    }

    bool socketShowsSomething() {
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }

    std::shared_ptr<X11Connection> connection;
    Display* display = nullptr;
    Window window = None;
};

// A round trip reads the events the server sent before its reply off the socket: a poll of the
// socket would sleep through them.
TEST_F(X11EventWait, WakesAtOnceForEventsXlibHasAlreadyRead) {
    const Atom property = XInternAtom(display, "QUIB_EVENT_WAIT", False);
    XChangeProperty(display, window, property, XA_STRING, 8, PropModeReplace, nullptr, 0);
    XSync(display, False);
    ASSERT_FALSE(socketShowsSomething());
    ASSERT_GT(XEventsQueued(display, QueuedAlready), 0);
    EXPECT_TRUE(quib::X11EventWait::forEvents(display, 5s));

    XEvent event;
    XNextEvent(display, &event);
    EXPECT_EQ(event.type, PropertyNotify);
    EXPECT_FALSE(quib::X11EventWait::forEvents(display, 0ms));
}

TEST_F(X11EventWait, WakesForEventsStillOnTheirWayAndForItsWakeDescriptor) {
    auto other = X11Connection::open(testDisplayName());
    ASSERT_TRUE(other);
    other->use([&](Display* d) {
        XChangeProperty(d, window, XInternAtom(d, "QUIB_EVENT_WAIT", False), XA_STRING, 8, PropModeReplace, nullptr, 0);
        XFlush(d);
    });
    EXPECT_TRUE(quib::X11EventWait::forEvents(display, 5s));
    XEvent event;
    XNextEvent(display, &event);

    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    const FileDescriptor wakeRead(wake[0]), wakeWrite(wake[1]);
    ASSERT_TRUE(wakeWrite.writeAll("x"));
    EXPECT_FALSE(quib::X11EventWait::forEvents(display, std::nullopt, wakeRead.get()));
}

}  // namespace
}  // namespace quib::testing
