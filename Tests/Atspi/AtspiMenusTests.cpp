// Other apps' menu bars read through the accessibility bus: the fixture editors of both
// toolkits on the test display, read by the host's scanner and catalog over the AT-SPI backend.

#include <gtest/gtest.h>

#include "AtspiReading.hpp"
#include "QuibHost/Apps/MenuCatalog.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Tests/Support/OnQueue.hpp"

namespace quib::testing {
namespace {

constexpr bool control = true, shift = true;

MenuCommand command(std::string menu, std::string title, std::string key, bool withControl = control,
                    bool withShift = false) {
    return {std::move(menu), std::move(title), KeyChord(std::move(key), withControl, false, withShift, false)};
}

// Both editors' commands, in menu-bar order, as the host presses them: Control stays Control.
const std::vector<MenuCommand>& editorCommands() {
    static const std::vector<MenuCommand> commands{
        command("File", "New Tab", "t"),
        command("File", "Save", "s"),
        command("File", "Close Window", "w"),
        command("Edit", "Undo Typing", "z"),
        command("Edit", "Redo", "z", control, shift),
        command("Edit", "Copy", "c"),
        command("Edit", "Paste", "v"),
        command("Edit", "Find", "f"),
        command("View", "Reload This Page", "f5", false),
        command("View", "Toggle Terminal", "`"),
    };
    return commands;
}

MenuScanner::Outcome scan(const AtspiReading& reading, std::string_view bundleID, const FixtureApp& app) {
    return MenuScanner(reading.scannerOf(bundleID, app.pid())).scan(std::string(bundleID));
}

std::vector<MenuCommand> commandsOf(const MenuScanner::Outcome& outcome) {
    const auto* read = std::get_if<MenuScanner::Read>(&outcome);
    EXPECT_TRUE(read) << "the menus were not read";
    return read ? read->commands : std::vector<MenuCommand>{};
}

bool hasCommand(const MenuScanner::Outcome& outcome, std::string_view title) {
    const auto commands = commandsOf(outcome);
    return std::ranges::any_of(commands, [&](const MenuCommand& found) { return found.title == title; });
}

TEST(AtspiMenus, TheGtkEditorsTenCommandsInMenuBarOrder) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    const auto session = DesktopSession::shared();
    AtspiReading reading(session);
    auto editor = publishedApp(FixtureApp::Kind::gtkEditor, session);
    ASSERT_TRUE(editor);

    EXPECT_EQ(scan(reading, FixtureApp::gtkEditorID, *editor),
              MenuScanner::Outcome(MenuScanner::Read{"Bars Editor", editorCommands()}));
}

// The first top-level menu is the app's own: File is read, not dropped as a system menu.
TEST(AtspiMenus, TheGtkEditorsProfileComesFromItsOwnMenuBar) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    const auto session = DesktopSession::shared();
    AtspiReading reading(session);
    auto editor = publishedApp(FixtureApp::Kind::gtkEditor, session);
    ASSERT_TRUE(editor);

    MenuCatalog catalog(reading.scannerOf(FixtureApp::gtkEditorID, editor->pid()));
    SerialQueue menuQueue{std::string(MenuCatalogService::queueLabel)};
    const auto payload =
        onQueue(menuQueue, [&] { return catalog.profile(std::string(FixtureApp::gtkEditorID), false); });
    EXPECT_EQ(payload.outcome, MenuProfilePayload::Outcome::read);
    EXPECT_EQ(payload.note, "Read from Bars Editor's own menu bar \u2014 10 shortcuts, 10 of them worth a button.");
    ASSERT_TRUE(payload.profile);
    std::vector<std::string> actions;
    for (const auto& action : payload.profile->actions) actions.push_back(action.id);
    EXPECT_EQ(actions, (std::vector<std::string>{"reload", "save", "find", "terminal", "new", "undo", "redo", "copy",
                                                 "paste", "close", "tab", "delete", "dictate"}));
}

// The Qt editor publishes its tree only if assistive technology is on when the accessibility bus
// comes up, which the host's first read brings about: it is read although it started first.
TEST(AtspiMenus, AQtEditorStartedBeforeTheFirstReadIsRead) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto bus = PrivateSessionBus::start();
    ASSERT_TRUE(bus);
    const DesktopSession session{DesktopSession::shared().display, bus->address()};
    auto editor = FixtureApp::start(FixtureApp::Kind::qtEditor, session);
    ASSERT_TRUE(editor);

    AtspiReading reading(session);
    EXPECT_EQ(commandsOf(scan(reading, FixtureApp::qtEditorID, *editor)), editorCommands()) << editor->log();
}

// Such a toolkit looks at the switch the moment the accessibility bus's service appears, which
// the host's first read brings about: whoever looks then finds it on already.
TEST(AtspiMenus, TheSwitchIsOnTheMomentTheAccessibilityBusAppears) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto bus = PrivateSessionBus::start();
    ASSERT_TRUE(bus);
    const DesktopSession session{DesktopSession::shared().display, bus->address()};
    auto look = FirstLook::start(session);
    ASSERT_TRUE(look);
    AtspiReading reading(session);
    EXPECT_TRUE(reading.menus->isTrusted());
    EXPECT_EQ(look->seen(), true);
}

// An app started after the first read is found too. Zoom In (Ctrl++) has no key the host can
// press, and Show Keys (Meta+K) needs the Super key.
TEST(AtspiMenus, AQtEditorStartedAfterTheFirstReadIsReadWithoutTheKeysTheHostCannotPress) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    auto bus = PrivateSessionBus::start();
    ASSERT_TRUE(bus);
    const DesktopSession session{DesktopSession::shared().display, bus->address()};
    AtspiReading reading(session);
    auto first = publishedApp(FixtureApp::Kind::gtkEditor, session);
    ASSERT_TRUE(first);
    ASSERT_EQ(commandsOf(scan(reading, FixtureApp::gtkEditorID, *first)), editorCommands());

    auto editor = publishedApp(FixtureApp::Kind::qtEditor, session);
    ASSERT_TRUE(editor);
    EXPECT_EQ(commandsOf(scan(reading, FixtureApp::qtEditorID, *editor)), editorCommands());
}

// GTK folds each menu into its item, Qt does not; both count their levels alike.
TEST(AtspiMenus, AThirdLevelItemIsReadAndAFourthLevelOneIsNotInEitherToolkit) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    const auto session = DesktopSession::shared();
    AtspiReading reading(session);
    ASSERT_TRUE(reading.menus->isTrusted());
    for (auto [kind, id] : {std::pair{FixtureApp::Kind::gtkEditor, FixtureApp::gtkEditorID},
                            std::pair{FixtureApp::Kind::qtEditor, FixtureApp::qtEditorID}}) {
        auto editor = publishedApp(kind, session, {"--deep-menus"});
        ASSERT_TRUE(editor);
        const auto outcome = scan(reading, id, *editor);
        EXPECT_TRUE(hasCommand(outcome, "Level Three")) << id;
        EXPECT_FALSE(hasCommand(outcome, "Level Four")) << id;
        const MenuCommand third{"View", "Level Three", KeyChord("3", control, true, false, false)};
        EXPECT_EQ(commandsOf(outcome).back(), third) << id;
    }
}

TEST(AtspiMenus, AProcessThatPublishesNoTreeHasNoMenuBar) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    AtspiReading reading(DesktopSession::shared());
    EXPECT_EQ(
        MenuScanner(reading.scannerOf(FixtureApp::gtkEditorID, ::getpid())).scan(std::string(FixtureApp::gtkEditorID)),
        MenuScanner::Outcome(MenuScanner::Unreadable{"Bars Editor publishes no menu bar Quib can read"}));
}

// Switching it on is left to the host's first read; it stays on while the host runs, and is
// switched off as it ends only when the host was the one that switched it on.
TEST(AtspiMenus, TheFirstReadSwitchesAssistiveTechnologyOnUntilTheEnd) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    for (const bool onBefore : {false, true}) {
        auto bus = PrivateSessionBus::start();
        ASSERT_TRUE(bus);
        const DesktopSession session{DesktopSession::shared().display, bus->address()};
        if (onBefore) {
            ASSERT_TRUE(enableAssistiveTechnology(session));
        }
        AtspiReading reading(session);
        ASSERT_EQ(assistiveTechnologyEnabled(session), onBefore);
        EXPECT_TRUE(reading.menus->isTrusted());
        EXPECT_EQ(assistiveTechnologyEnabled(session), true);
        reading.connection->switchBackOff();  // as the host does at its end
        EXPECT_EQ(assistiveTechnologyEnabled(session), onBefore) << "on before: " << onBefore;
    }
}

}  // namespace
}  // namespace quib::testing
