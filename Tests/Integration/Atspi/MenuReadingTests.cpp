// The real quib-host reading a running app's own menu bar on the shared test display, through
// the accessibility bus of the tests' session bus.

#include <gtest/gtest.h>

#include <algorithm>

#include "Shared/MenuProfilePayload.hpp"
#include "Tests/Fixtures/FixtureApp.hpp"
#include "Tests/Support/Process/HostProcess.hpp"

namespace quib {
namespace {

using testing::DesktopSession;
using testing::FixtureApp;
using testing::TempHome;
using Outcome = MenuProfilePayload::Outcome;

const std::string editorID(FixtureApp::gtkEditorID);

// A host on the test display and the tests' session bus that knows the fixture apps' desktop
// entries, with Ada's phone welcomed.
testing::HostWithPhone hostWithFixtureApps(TempHome& home) {
    const auto session = DesktopSession::shared();
    return testing::startWithApprovedPhone(
        home, session.display,
        {{"XDG_DATA_DIRS", FixtureApp::dataDir().string()}, {"DBUS_SESSION_BUS_ADDRESS", session.busAddress}});
}

MenuProfilePayload menuOf(PhoneClient& phone, const std::string& bundleID) {
    const Json reply = testing::askForMenu(phone, bundleID);
    EXPECT_TRUE(reply.contains("menu")) << reply.dump();
    return reply.contains("menu") ? MenuProfilePayload::fromJson(reply["menu"]["_0"]) : MenuProfilePayload{};
}

const ShortcutAction* actionNamed(const ShortcutProfile& profile, const std::string& id) {
    const auto found = std::ranges::find(profile.actions, id, &ShortcutAction::id);
    return found == profile.actions.end() ? nullptr : &*found;
}

// Quitting the app gives it no menus, at once: the answer kept for its old process is not used.
TEST(QuibHost, ReadsARunningAppsOwnMenuBarAndNoLongerOnceItQuits) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto editor = FixtureApp::start(FixtureApp::Kind::gtkEditor, DesktopSession::shared());
    ASSERT_TRUE(editor);
    ASSERT_TRUE(editor->waitForMenuBar());
    TempHome home;
    auto [host, ada] = hostWithFixtureApps(home);
    ASSERT_TRUE(ada.phone);

    const auto read = menuOf(*ada.phone, editorID);
    EXPECT_EQ(read.outcome, Outcome::read) << read.note << "\n" << host->log();
    ASSERT_TRUE(read.profile);
    EXPECT_EQ(read.profile->id, "menu:quibbars-editor");
    EXPECT_EQ(read.profile->name, "Bars Editor menus");
    EXPECT_EQ(read.profile->actions.size(), 13u);
    // The first top-level menu is the app's own, not a system menu to pass over.
    const auto* save = actionNamed(*read.profile, "save");
    ASSERT_TRUE(save);
    EXPECT_EQ(save->chord, KeyChord("s", /*control=*/true));
    EXPECT_EQ(save->note, "Bars Editor's own key for File \u25B8 Save.");

    editor->quit();
    const auto gone = menuOf(*ada.phone, editorID);
    EXPECT_EQ(gone, (MenuProfilePayload{editorID, Outcome::notRunning, std::nullopt,
                                        "Not running, so it has no menus to read yet."}));
}

}  // namespace
}  // namespace quib
