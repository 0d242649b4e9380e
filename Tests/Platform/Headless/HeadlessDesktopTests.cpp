#include <gtest/gtest.h>

#include <fstream>

#include "Platform/Headless/EmptyWindowRoster.hpp"
#include "Platform/Headless/HeadlessDesktop.hpp"
#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib {
namespace {

TEST(HeadlessDesktop, DropsInputHasNoDisplaysAndKeepsItsPasteboardInProcess) {
    const DesktopServices desktop = HeadlessDesktop::services();
    desktop.events->post(InputEvent::mouse(EventType::mouseMoved, {500, 500}, EventButton::left));
    EXPECT_EQ(desktop.pointer->pointerLocation(), (Point{0, 0}));
    EXPECT_EQ(desktop.displays->activeDisplayBounds(), std::vector<Rect>{});
    EXPECT_EQ(desktop.accessibility->focusedElementError(), AccessibilityProbe::cannotComplete);

    const std::int64_t before = desktop.pasteboard->changeCount();
    desktop.pasteboard->write({PasteboardItem{}.set(PasteboardType::string, bytesOf("kept"))});
    EXPECT_EQ(desktop.pasteboard->changeCount(), before + 1);
    EXPECT_EQ(textOf(*desktop.pasteboard->items().at(0).data(PasteboardType::string)), "kept");

    // Two headless desktops do not share a pasteboard, and a partial set has its gaps filled.
    EXPECT_TRUE(HeadlessDesktop::services().pasteboard->items().empty());
    DesktopServices given;
    given.pasteboard = desktop.pasteboard;
    const DesktopServices partial = HeadlessDesktop::fillGaps(given);
    EXPECT_TRUE(partial.events && partial.pointer && partial.displays && partial.accessibility);
    EXPECT_TRUE(partial.workspace && partial.roster);
    EXPECT_EQ(partial.pasteboard, desktop.pasteboard);

    // Nothing can be captured: the windows cannot be read and no stream opens.
    ASSERT_TRUE(partial.windowSource);
    EXPECT_EQ(partial.windowSource->shareableWindows(), std::nullopt);
    EXPECT_EQ(partial.windowSource->backingScaleFactor(), std::nullopt);
    EXPECT_FALSE(partial.windowSource->openStream(1, {}, nullptr, {}));
}

TEST(HeadlessDesktop, KnowsInstalledAppsButRunsAndLaunchesNone) {
    testing::ScratchFolder scratch("headless-apps");
    std::filesystem::create_directories(scratch.path / "applications");
    std::ofstream(scratch.path / "applications" / "org.example.Editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\n";
    HeadlessWorkspace workspace(std::make_shared<DesktopEntries>(std::vector{scratch.path / "applications"}));

    EXPECT_TRUE(workspace.isInstalled("org.example.Editor"));
    EXPECT_FALSE(workspace.isInstalled("org.example.Missing"));
    EXPECT_TRUE(workspace.runningInstances("org.example.Editor").empty());
    EXPECT_FALSE(workspace.activate({"org.example.Editor", 42}));
    const auto launched = workspace.launch("org.example.Editor");
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error().message,
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
    EXPECT_EQ(workspace.frontmostApp(), std::nullopt);
}

TEST(HeadlessDesktop, TheEmptyRosterRefusesForTrustFirstThenAsClosed) {
    auto permissions = std::make_shared<SettablePermissions>();
    EmptyWindowRoster roster(permissions);
    const auto untrusted = WindowRoster::Raise::refused(
        "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
    EXPECT_EQ(roster.raise(7, "org.example.Editor", "Editor", true), untrusted);
    EXPECT_EQ(roster.open(7, "org.example.Editor", "Editor"), untrusted);

    permissions->setAccessibilityTrusted(true);
    const auto closed = WindowRoster::Raise::refused("The window you picked has closed \u2014 pick another");
    EXPECT_EQ(roster.raise(7, "org.example.Editor", "Editor", true), closed);
    EXPECT_EQ(roster.open(7, "org.example.Editor", "Editor"), closed);
    EXPECT_EQ(roster.frontWindowFrame("org.example.Editor"), std::nullopt);
}

}  // namespace
}  // namespace quib
