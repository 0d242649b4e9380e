// The real quib-host choosing its interface on the shared test display (which has no tray):
// the panel in a window that leaves the keyboard where it was, headless when tests ask for it,
// the shut-down on SIGTERM, and a listener that cannot be made shown on the panel.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <thread>

#include <X11/Xutil.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

// The mapped top-level windows of class `className`, with their sizes.
struct Mapped {
    Window window;
    int width;
};
std::vector<Mapped> mappedWindows(X11Connection& display, const std::string& className) {
    std::vector<Mapped> found;
    display.use([&](Display* d) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return;
        std::vector<Window> frames(children, children + count);
        XFree(children);
        for (const Window frame : frames) {
            // A window manager reparents each client into a frame: look one level down too.
            std::vector<Window> candidates{frame};
            if (XQueryTree(d, frame, &root, &parent, &children, &count)) {
                candidates.insert(candidates.end(), children, children + count);
                XFree(children);
            }
            for (const Window window : candidates) {
                XWindowAttributes attributes;
                if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable) continue;
                char* name = nullptr;
                char* type = nullptr;
                XClassHint hint{};
                if (!XGetClassHint(d, window, &hint)) continue;
                name = hint.res_name;
                type = hint.res_class;
                if (type && className == type) found.push_back({window, attributes.width});
                if (name) XFree(name);
                if (type) XFree(type);
            }
        }
    });
    return found;
}

std::optional<Window> activeWindow(X11Connection& display) {
    std::optional<Window> active;
    display.use(
        [&](Display* d) { active = X11Properties::windowProperty(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW"); });
    return active;
}

// The host's windows are found by reading the whole display: looked for every 50 ms, for at most 10 s.
bool eventually(const std::function<bool()>& condition) { return testing::eventually(condition, 10s, nullptr, 50ms); }

const std::map<std::string, std::string> withPanel{{"QUIB_TEST_HEADLESS", "0"}};

// With no tray, the panel is a window "Quib" of the host's class, 300 wide, shown without
// taking the keyboard from the window that had it; `quibctl panel` prints the same panel, and
// SIGTERM runs the shut-down and ends the host with 0.
TEST(PanelShell, WithoutATrayThePanelIsAWindowThatLeavesTheFocusAlone) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const auto name = testing::testDisplayName();
    auto display = X11Connection::open(name);
    ASSERT_TRUE(display);
    TempHome home;
    auto xterm = testing::ChildProcess::start({"xterm", "-class", "PanelFocusWitness", "-e", "sleep", "60"},
                                              {{"DISPLAY", name}}, home.root() / "xterm.log");
    ASSERT_TRUE(xterm);
    std::optional<Window> before;
    ASSERT_TRUE(eventually([&] {
        before = activeWindow(*display);
        return !mappedWindows(*display, "PanelFocusWitness").empty() && before && *before != 0;
    })) << "the xterm never took the focus";

    auto host = testing::HostProcess::start(home, name, withPanel);
    ASSERT_TRUE(host);
    std::vector<Mapped> panels;
    ASSERT_TRUE(eventually([&] { return !(panels = mappedWindows(*display, "quib-host")).empty(); })) << host->log();
    EXPECT_EQ(panels.front().width, 300);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(activeWindow(*display), before);
    EXPECT_NE(host->log().find("interface: panel in a window (no tray)"), std::string::npos) << host->log();
    EXPECT_TRUE(testing::eventuallyShows(home, {"panel"}, "header\ttext\tListening as "));
    EXPECT_EQ(testing::quibctl(home, {"show", "panel"}).status, 0);

    EXPECT_EQ(host->stop(), 0);
    const auto log = host->log();
    EXPECT_NE(log.find("shut-down: held buttons released"), std::string::npos) << log;
    EXPECT_NE(log.find("shut-down: server stopped"), std::string::npos) << log;
    xterm->signal(SIGTERM);
}

// Tests of other areas run the host on the display without a panel, and it shows nothing; a
// panel on screen is refused.
TEST(PanelShell, AHeadlessHostForTestsShowsNoWindow) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const auto name = testing::testDisplayName();
    auto display = X11Connection::open(name);
    ASSERT_TRUE(display);
    TempHome home;
    auto host = testing::HostProcess::start(home, name);
    ASSERT_TRUE(host);
    const auto shown = testing::quibctl(home, {"show", "panel"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_NE(shown.err.find("There is no display: the panel is not shown. `quibctl panel` prints it."),
              std::string::npos)
        << shown.err;
    EXPECT_TRUE(mappedWindows(*display, "quib-host").empty());
    EXPECT_NE(host->log().find("interface: none"), std::string::npos) << host->log();
}

// With the panel, a port that is taken leaves the host running, and the panel says it is not
// listening, with a red dot.
TEST(PanelShell, APortThatIsTakenLeavesThePanelRunning) {
    QUIB_REQUIRE_TEST_DISPLAY();
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::address_v6::any(), 0});
    TempHome home;
    (void)home.defaults()->setInteger("quib.port", taken.local_endpoint().port());
    auto host =
        testing::ChildProcess::start({QUIB_HOST_PATH},
                                     {{"XDG_CONFIG_HOME", home.configHome().string()},
                                      {"XDG_DATA_HOME", home.dataHome().string()},
                                      {"XDG_RUNTIME_DIR", home.runtimeDir().string()},
                                      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (home.root() / "no-bus").string()},
                                      {"DISPLAY", testing::testDisplayName()},
                                      {"QUIB_TEST_HEADLESS", "0"}},
                                     home.root() / "host.log", {"DBUS_SESSION_BUS_ADDRESS"});
    ASSERT_TRUE(host);
    EXPECT_TRUE(testing::eventuallyShows(home, {"panel"}, "header\ttext\tNot listening"))
        << testing::fileContents(home.root() / "host.log");
    EXPECT_NE(testing::quibctl(home, {"panel"}).out.find("header\tdot\t\ttone=red"), std::string::npos);
    EXPECT_FALSE(host->wait(0ms));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(10s), 0);
}

}  // namespace
}  // namespace quib
