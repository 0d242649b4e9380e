// An X server that goes away, on servers of the tests' own.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <thread>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "Platform/Linux/X11/X11Permissions.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

TEST(X11Connection, IsMarkedGoneInsteadOfEndingTheProcessWhenTheServerGoes) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    auto connection = X11Connection::open(server->name());
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->use([](Display* display) { XSync(display, False); }));

    server->kill();
    EXPECT_FALSE(connection->use([](Display* display) { XSync(display, False); }));
    EXPECT_TRUE(connection->isGone());
    bool called = false;
    EXPECT_FALSE(connection->use([&](Display*) { called = true; }));
    EXPECT_FALSE(called);
}

TEST(X11Desktop, LosesTrustAndDropsInputWhenTheServerGoes) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    auto desktop = X11Desktop::open(server->name());
    ASSERT_TRUE(desktop);
    const DesktopServices& services = desktop->services;
    EXPECT_TRUE(desktop->permissions->accessibilityTrusted());
    EXPECT_TRUE(desktop->permissions->screenRecordingGranted());
    EXPECT_EQ(services.accessibility->focusedElementError(), AccessibilityProbe::success);
    services.events->post(InputEvent::mouse(EventType::mouseMoved, {40, 30}, EventButton::left));
    EXPECT_EQ(services.pointer->pointerLocation(), (Point{40, 30}));

    server->kill();
    // The display watcher notices without any input being posted.
    EXPECT_TRUE(eventually([&] { return !desktop->permissions->accessibilityTrusted(); }, std::chrono::seconds(10)));
    EXPECT_EQ(services.accessibility->focusedElementError(), AccessibilityProbe::cannotComplete);
    EXPECT_FALSE(desktop->permissions->screenRecordingGranted());
    EXPECT_EQ(services.windowSource->shareableWindows(), std::nullopt);
    services.events->post(InputEvent::mouse(EventType::leftMouseDown, {40, 30}, EventButton::left));
    services.events->post(InputEvent::key(0, true, 0));
    services.events->post(InputEvent::key(0, false, 0));
    services.events->post(InputEvent::pixelScroll(500, 0));
    EXPECT_EQ(services.pointer->pointerLocation(), (Point{0, 0}));
    EXPECT_EQ(services.displays->activeDisplayBounds(), std::nullopt);
}

// Capture takes Composite, DAMAGE and XFIXES; the help says which of them a server lacks.
TEST(X11Permissions, GrantCaptureWhereTheServerHasWhatItTakes) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const X11Permissions shared(X11Connection::open(testDisplayName()));
    EXPECT_TRUE(shared.screenRecordingGranted());
    EXPECT_EQ(shared.screenRecordingHelp(),
              "The X display is open and has the Composite, DAMAGE and XFIXES extensions, so windows can be captured.");

    auto server = PrivateXServer::start("640x480x24", {"-extension", "Composite", "-extension", "DAMAGE"});
    ASSERT_TRUE(server);
    const X11Permissions lacking(X11Connection::open(server->name()));
    EXPECT_TRUE(lacking.accessibilityTrusted());
    EXPECT_FALSE(lacking.screenRecordingGranted());
    EXPECT_EQ(lacking.screenRecordingHelp(),
              "The X display lacks the Composite 0.2 and DAMAGE extensions, so windows cannot be captured; run an X "
              "server that has them.");
}

TEST(X11Desktop, IsNotOpenedWhereNoServerRuns) { EXPECT_FALSE(X11Desktop::open(":65535")); }

}  // namespace
}  // namespace quib::testing
