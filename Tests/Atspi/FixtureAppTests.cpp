// The fixture apps that the accessibility tests read, started on the test display: each shows
// its menu bar to other programs on the session's accessibility bus.

#include <gtest/gtest.h>

#include "Tests/Fixtures/FixtureApp.hpp"

namespace quib::testing {
namespace {

TEST(FixtureApp, TheGtkEditorPublishesItsMenuBarOnTheSessionBus) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto editor = FixtureApp::start(FixtureApp::Kind::gtkEditor, DesktopSession::shared());
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->waitForMenuBar()) << editor->log();
}

// The Qt editor publishes its tree only when assistive technology is on as it starts. The
// switch, once on, stays on for the whole session: it gets a bus of its own, where it is off.
TEST(FixtureApp, TheQtEditorPublishesItsMenuBarWhenStartedWithAssistiveTechnologyOn) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto bus = PrivateSessionBus::start();
    ASSERT_TRUE(bus);
    const DesktopSession session{DesktopSession::shared().display, bus->address()};
    EXPECT_EQ(assistiveTechnologyEnabled(session), false);
    ASSERT_TRUE(enableAssistiveTechnology(session));
    EXPECT_EQ(assistiveTechnologyEnabled(session), true);

    auto editor = FixtureApp::start(FixtureApp::Kind::qtEditor, session);
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->waitForMenuBar()) << editor->log();
}

}  // namespace
}  // namespace quib::testing
