// The real quib-host on a display of its own whose window manager has a tray: the panel's icon
// sits in the tray, a real click on it opens the panel beside it and a second one closes it, and
// the icon changes while a phone is connected.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <thread>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

// A viewable window of the host's class, where it is on the screen.
struct Shown {
    Window window = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string title;
};

void collect(Display* d, Window window, std::vector<Shown>& found) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable) return;
    XClassHint hint{};
    if (XGetClassHint(d, window, &hint)) {
        if (hint.res_class && std::string(hint.res_class) == "quib-host") {
            Shown shown{window, 0, 0, attributes.width, attributes.height, ""};
            Window child = 0;
            XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &shown.x, &shown.y, &child);
            char* name = nullptr;
            if (XFetchName(d, window, &name) && name) {
                shown.title = name;
                XFree(name);
            }
            found.push_back(shown);
        }
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, window, &root, &parent, &children, &count)) return;
    const std::vector<Window> all(children, children + count);
    if (children) XFree(children);
    for (const Window child : all) collect(d, child, found);
}

std::vector<Shown> hostWindows(X11Connection& display) {
    std::vector<Shown> found;
    display.use([&](Display* d) { collect(d, DefaultRootWindow(d), found); });
    return found;
}

std::optional<Shown> panel(X11Connection& display) {
    for (const auto& shown : hostWindows(display))
        if (shown.title == "Quib") return shown;
    return std::nullopt;
}

// The tray icon: the host's window that is not its panel.
std::optional<Shown> trayIcon(X11Connection& display) {
    for (const auto& shown : hostWindows(display))
        if (shown.title != "Quib" && shown.width <= 64 && shown.height <= 64) return shown;
    return std::nullopt;
}

// The screen's pixels in the icon's place, as the server has them.
std::vector<unsigned long> pixelsOf(X11Connection& display, const Shown& icon) {
    std::vector<unsigned long> pixels;
    display.use([&](Display* d) {
        XImage* image = XGetImage(d, DefaultRootWindow(d), icon.x, icon.y, icon.width, icon.height, AllPlanes, ZPixmap);
        if (!image) return;
        for (int y = 0; y < icon.height; ++y)
            for (int x = 0; x < icon.width; ++x) pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
    });
    return pixels;
}

void click(X11Connection& display, int x, int y) {
    display.use([&](Display* d) {
        XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(d, 1, True, CurrentTime);
        XTestFakeButtonEvent(d, 1, False, 20);
        XFlush(d);
    });
}

// The host's windows are found by reading the whole display: looked for every 50 ms, for at most 10 s.
bool eventually(const std::function<bool()>& condition) { return testing::eventually(condition, 10s, nullptr, 50ms); }

TEST(PanelTray, TheIconOpensAndClosesThePanelAndWearsAClockWhileAPhoneIsConnected) {
    auto server = testing::PrivateXServer::start();
    ASSERT_TRUE(server);
    ASSERT_TRUE(server->startWindowManager(
        R"(<JWM><FocusModel>click</FocusModel><Tray x="0" y="-1" height="32" autohide="off"><Dock/></Tray></JWM>)"));
    auto display = X11Connection::open(server->name());
    ASSERT_TRUE(display);
    TempHome home;
    auto host = testing::HostProcess::start(home, server->name(), {{"QUIB_TEST_HEADLESS", "0"}});
    ASSERT_TRUE(host);
    EXPECT_NE(host->log().find("interface: panel in the tray"), std::string::npos) << host->log();

    std::optional<Shown> icon;
    ASSERT_TRUE(eventually([&] { return (icon = trayIcon(*display)).has_value(); })) << host->log();
    // The tray runs along the bottom of the 1920 × 1080 screen.
    EXPECT_GT(icon->y, 1080 / 2);
    std::vector<unsigned long> idle;
    ASSERT_TRUE(eventually([&] {
        idle = pixelsOf(*display, *icon);
        return std::set<unsigned long>(idle.begin(), idle.end()).size() > 2;
    })) << "the icon's place shows no picture";
    EXPECT_FALSE(panel(*display));

    const int x = icon->x + icon->width / 2, y = icon->y + icon->height / 2;
    click(*display, x, y);
    std::optional<Shown> open;
    ASSERT_TRUE(eventually([&] { return (open = panel(*display)).has_value(); })) << host->log();
    EXPECT_EQ(open->width, 300);
    // Above the icon, inside the screen.
    EXPECT_LE(open->y + open->height, icon->y + 1);
    EXPECT_GE(open->x, 0);
    EXPECT_LE(open->x + open->width, 1920);

    click(*display, x, y);
    EXPECT_TRUE(eventually([&] { return !panel(*display); }));
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(panel(*display));

    auto phone = testing::welcomed(*host);
    ASSERT_TRUE(phone.phone);
    EXPECT_TRUE(eventually([&] { return pixelsOf(*display, *icon) != idle; })) << "the icon never changed";
}

}  // namespace
}  // namespace quib
