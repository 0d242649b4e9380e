#include <gtest/gtest.h>

#include <fstream>

#include "Platform/Headless/EmptyWindowRoster.hpp"
#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "TargetRouterFixture.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace target_router_focus_tests {

using namespace quib;
using namespace std::chrono_literals;

using TargetRouter = quib::testing::TargetRouter;

TEST_F(TargetRouter, FocusLaunchesAnInstalledAppAtOnceAndFocusesItOnceItRuns) {
    desktop->setLaunchDelay(2s);
    const QuibTarget terminal = app("Terminal", terminalID);
    EXPECT_EQ(router().focus(terminal, true), (TargetOutcome{true, "Launching Terminal"}));
    EXPECT_EQ(desktop->focusedApp(), editorID);
    clock->advance(2s);
    desktop->openWindow(terminalID, {3, "bash", {200, 100, 400, 300}, false});
    EXPECT_EQ(router().focus(terminal, true), (TargetOutcome{true, "Focused Terminal"}));
    EXPECT_EQ(desktop->focusedApp(), terminalID);
    EXPECT_EQ(desktop->pointerLocation(), (Point{400, 250}));  // landed in the front window
    EXPECT_EQ(desktop->launchRequests(), 1u);

    EXPECT_EQ(router().focus(app("Mail", "org.example.Mail"), false), (TargetOutcome{false, "Mail isn't installed"}));
    QuibTarget nameless = app("Mail", "");
    EXPECT_EQ(router().focus(nameless, false), (TargetOutcome{false, "Mail has no application ID"}));
}

TEST_F(TargetRouter, APinnedWindowIsRaisedAndNamedByItsTitleOrTheTarget) {
    desktop->start(terminalID);
    desktop->openWindow(terminalID, {3, "", {0, 0, 400, 300}, false});
    desktop->openWindow(terminalID, {4, "build", {500, 0, 400, 300}, false});
    QuibTarget terminal = app("Terminal", terminalID);
    terminal.pinnedWindowID = 3;
    EXPECT_EQ(router().focus(terminal, false), (TargetOutcome{true, "Focused Terminal"}));
    EXPECT_EQ(desktop->pointerLocation(), (Point{5, 5}));
    terminal.pinnedWindowID = 4;
    EXPECT_EQ(router().focus(terminal, true), (TargetOutcome{true, "Focused build"}));
    EXPECT_EQ(desktop->pointerLocation(), (Point{700, 150}));
    terminal.pinnedWindowID = 9;
    EXPECT_EQ(router().focus(terminal, true),
              (TargetOutcome{false, "The window you picked has closed \u2014 pick another"}));
}

TEST_F(TargetRouter, PausedFocusAndPressSayPausedInTheirOwnWords) {
    injector->setPaused(true);
    EXPECT_EQ(router().focus(app("Editor", editorID), true), (TargetOutcome{false, "Injection is paused"}));
    EXPECT_EQ(router().press(KeyChord("a"), std::nullopt),
              (TargetOutcome{false, "Injection is paused \u2014 turn it back on in the Quib panel"}));
}

TEST_F(TargetRouter, KeysGoToTheFrontWindowOrTheFocusedTarget) {
    const KeyChord copy("c", false, false, false, true);
    EXPECT_EQ(router().press(copy, std::nullopt), (TargetOutcome{true, copy.spoken() + " \u2192 the front window"}));
    desktop->start(terminalID);
    EXPECT_EQ(router().press(KeyChord("escape"), app("Terminal", terminalID)),
              (TargetOutcome{true, KeyChord("escape").spoken() + " \u2192 Terminal"}));
    EXPECT_EQ(desktop->app(editorID)->keys.size(), 1u);
    EXPECT_EQ(desktop->app(terminalID)->keys.size(), 1u);

    desktop->setTrusted(false);
    EXPECT_EQ(
        router().press(copy, std::nullopt),
        (TargetOutcome{false,
                       "Quib can't type or click without a desktop display \u2014 start it in your desktop session"}));
}

TEST_F(TargetRouter, PaneKeysAreSentByTheirTmuxNameOneRunAPress) {
    const std::string id = workPane();
    const QuibTarget work = pane("Work", id);
    const KeyChord a("a", false, false, false, false, 3);
    EXPECT_EQ(router().press(a, work), (TargetOutcome{true, a.spoken() + " \u2192 Work"}));
    EXPECT_EQ(runs.subcommands(), (std::vector<std::string>{"display-message", "send-keys", "send-keys", "send-keys"}));
    EXPECT_EQ(runs.all()[1].arguments, (std::vector<std::string>{"send-keys", "-t", id, "a"}));
    EXPECT_EQ(router().focus(work, true), (TargetOutcome{true, "Selected Work"}));
}

TEST_F(TargetRouter, PaneKeysStopAtTheFirstFailedRun) {
    const std::string id = workPane();
    int sends = 0;
    runs.answer([&](const std::vector<std::string>& arguments) -> std::optional<Subprocess::Result> {
        if (arguments.front() == "send-keys" && ++sends == 2) return Subprocess::Result{false, "server exited"};
        return std::nullopt;
    });
    EXPECT_EQ(router().press(KeyChord("a", false, false, false, false, 3), pane("Work", id)),
              (TargetOutcome{false, "tmux: server exited"}));
    EXPECT_EQ(sends, 2);
}

// A key no table holds is not a key at all, whatever its modifiers; a known key with Command is
// the terminal's.
TEST_F(TargetRouter, ATerminalsOwnShortcutAndAnUnknownKeyAreRefusedBeforeTmuxRuns) {
    struct Case {
        KeyChord chord;
        std::string refusal;
    };
    for (const Case& refused :
         {Case{KeyChord("c", false, false, false, true),
               "Command C is the terminal's own shortcut, not something a pane can receive"},
          Case{KeyChord("nosuchkey", true), "Control NOSUCHKEY isn't a key Quib knows how to press"},
          Case{KeyChord("nosuchkey"), "NOSUCHKEY isn't a key Quib knows how to press"}}) {
        EXPECT_EQ(router().press(refused.chord, pane("Work", "%1")), (TargetOutcome{false, refused.refusal}));
    }
    EXPECT_TRUE(runs.all().empty());
}

// Without a display nothing runs or launches; an app target still says first what is wrong
// with the target itself.
TEST_F(TargetRouter, HeadlessFocusOfAnAppKeepsItsOrderOfRefusals) {
    quib::testing::ScratchFolder apps("router-apps");
    std::filesystem::create_directories(apps.path / "applications");
    std::ofstream(apps.path / "applications" / "org.example.Editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Editor\n";
    DesktopServices headless;
    headless.workspace =
        std::make_shared<HeadlessWorkspace>(std::make_shared<DesktopEntries>(std::vector{apps.path / "applications"}));
    headless.roster = std::make_shared<EmptyWindowRoster>(nullptr);
    const auto onHeadless = onInjection(config(headless));
    const auto focus = [&](const QuibTarget& target) { return onHeadless->focus(target, true).message; };

    injector->setPaused(true);
    EXPECT_EQ(focus(app("Editor", editorID)), "Injection is paused");
    injector->setPaused(false);
    EXPECT_EQ(focus(app("Editor", "")), "Editor has no application ID");
    QuibTarget pinned = app("Editor", editorID);
    pinned.pinnedWindowID = 12;
    EXPECT_EQ(focus(pinned),
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
    EXPECT_EQ(focus(app("Mail", "org.example.Mail")), "Mail isn't installed");
    EXPECT_EQ(focus(app("Editor", editorID)),
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
}

}  // namespace target_router_focus_tests
