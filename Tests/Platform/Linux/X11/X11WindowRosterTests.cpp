// Raising, opening and framing the windows of an app on the shared test display.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11WindowRoster.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

constexpr const char* probeApp = "quib-roster-probe";

// The window's place and size as xwininfo reports them: its absolute upper-left corner, width
// and height.
std::optional<Rect> xwininfoGeometry(Window window, const std::filesystem::path& scratch) {
    auto run = ChildProcess::start({"xwininfo", "-display", testDisplayName(), "-id", std::to_string(window)}, {},
                                   scratch / "xwininfo.log");
    if (!run) return std::nullopt;
    while (run->readLine(std::chrono::seconds(5))) {}
    if (run->wait(std::chrono::seconds(5)) != 0) return std::nullopt;
    const auto field = [&](const char* name) {
        std::smatch match;
        const std::regex pattern(std::string(name) + ":\\s+(-?\\d+)");
        return std::regex_search(run->output(), match, pattern) ? std::stod(match[1]) : -1.0;
    };
    return Rect{field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")};
}

// Two windows of the app "quib-roster-probe" (its entry claims their class), the titled one
// behind, a roster of the app's windows that the test can withdraw trust from, and a connection
// of the test's own.
class X11WindowRosterTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        std::ofstream(apps.path / (std::string(probeApp) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Roster Probe\nExec=quib-roster-probe\n"
               "StartupWMClass=QuibRosterProbe\n";
        control = X11Connection::open(testDisplayName());
        ASSERT_TRUE(control);
        permissions->setAccessibilityTrusted(true);
        roster = std::make_unique<X11WindowRoster>(X11Connection::open(testDisplayName()), permissions,
                                                   std::make_shared<DesktopEntries>(std::vector{apps.path}));
        back = ClientWindow::open(
            testDisplayName(), {.instance = probeApp, .className = "QuibRosterProbe", .netTitle = "Zw\u00f6lf notes"});
        ASSERT_TRUE(back);
        front = ClientWindow::open(testDisplayName(), {.instance = probeApp, .className = "QuibRosterProbe"});
        ASSERT_TRUE(front);
    }

    // The window manager has marked the window minimised, or shown, as asked.
    bool isHidden(Window window) {
        bool hidden = false;
        control->use([&](Display* display) { hidden = X11ClientWindows::isHidden(display, window); });
        return hidden;
    }
    std::optional<Window> activeWindow() {
        std::optional<Window> active;
        control->use([&](Display* display) { active = X11ClientWindows::activeWindow(display); });
        return active;
    }

    void minimise(Window window) {
        control->use([&](Display* display) {
            XIconifyWindow(display, window, DefaultScreen(display));
            XSync(display, False);
        });
        ASSERT_TRUE(eventually([&] { return isHidden(window); })) << "the window manager did not minimise it";
    }

    ScratchFolder apps{"quib-roster"};
    std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
    std::shared_ptr<X11Connection> control;
    std::unique_ptr<X11WindowRoster> roster;
    std::unique_ptr<ClientWindow> back;
    std::unique_ptr<ClientWindow> front;
};

TEST_F(X11WindowRosterTest, RaisingActivatesTheWindowWithoutWaitingAndCarriesItsFrame) {
    const auto raised = roster->raise(back->window(), probeApp, "Probe", true);
    EXPECT_TRUE(raised.raised);
    EXPECT_EQ(raised.text, "Zw\u00f6lf notes");
    EXPECT_TRUE(eventually([&] { return activeWindow() == back->window(); }));
    EXPECT_EQ(raised.frame, xwininfoGeometry(back->window(), apps.path));
    EXPECT_EQ(roster->raise(front->window(), probeApp, "Probe", false), WindowRoster::Raise::raisedWindow(""));
    EXPECT_TRUE(eventually([&] { return activeWindow() == front->window(); }));
}

TEST_F(X11WindowRosterTest, AMinimisedWindowIsRefusedByItsTitleAndOpeningBringsItBack) {
    minimise(back->window());
    EXPECT_EQ(
        roster->raise(back->window(), probeApp, "Probe", true),
        WindowRoster::Raise::refused("Zw\u00f6lf notes is minimised \u2014 open it on your computer, or pick another"));
    EXPECT_TRUE(isHidden(back->window()));

    EXPECT_EQ(roster->open(back->window(), probeApp, "Probe"), WindowRoster::Raise::raisedWindow("Zw\u00f6lf notes"));
    EXPECT_TRUE(eventually([&] { return !isHidden(back->window()) && activeWindow() == back->window(); }));
}

// The window in front is the app's main one, even when another is larger; a minimised window
// is never the front one.
TEST_F(X11WindowRosterTest, TheFrontWindowFrameIsTheActiveWindowsAbsoluteGeometry) {
    control->use([&](Display* display) {
        XResizeWindow(display, back->window(), 600, 500);
        XSync(display, False);
    });
    ASSERT_TRUE(eventually([&] { return xwininfoGeometry(back->window(), apps.path)->width == 600; }));
    ASSERT_TRUE(roster->raise(front->window(), probeApp, "Probe", false).raised);
    ASSERT_TRUE(eventually([&] { return activeWindow() == front->window(); }));
    EXPECT_EQ(roster->frontWindowFrame(probeApp), xwininfoGeometry(front->window(), apps.path));

    minimise(front->window());
    EXPECT_EQ(roster->frontWindowFrame(probeApp), xwininfoGeometry(back->window(), apps.path));
    EXPECT_EQ(roster->frontWindowFrame("quib-no-such-app"), std::nullopt);
    permissions->setAccessibilityTrusted(false);
    EXPECT_EQ(roster->frontWindowFrame(probeApp), std::nullopt);
}

TEST_F(X11WindowRosterTest, AWindowNotOfTheRunningAppHasClosed) {
    const std::string closed(WindowRoster::closedText);
    EXPECT_EQ(roster->raise(0x7fffffff, probeApp, "Probe", true).text, closed);
    EXPECT_EQ(roster->open(0x7fffffff, probeApp, "Probe").text, closed);
    EXPECT_EQ(roster->raise(back->window(), "quib-no-such-app", "Gone", true).text, "Gone isn't running");

    const Window window = front->window();
    front.reset();
    EXPECT_TRUE(eventually([&] { return roster->raise(window, probeApp, "Probe", false).text == closed; }));
    permissions->setAccessibilityTrusted(false);
    EXPECT_EQ(roster->open(back->window(), probeApp, "Probe").text,
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
}

}  // namespace
}  // namespace quib::testing
