// The apps' windows as the window manager of the shared test display lists them.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

class X11ClientWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        control = X11Connection::open(testDisplayName());
        ASSERT_TRUE(control);
    }

    template <class Body>
    auto query(Body&& body) {
        decltype(body(static_cast<Display*>(nullptr))) result{};
        control->use([&](Display* display) { result = body(display); });
        return result;
    }

    std::unique_ptr<ClientWindow> openWindow(ClientWindow::Options options) {
        auto window = ClientWindow::open(testDisplayName(), options);
        EXPECT_TRUE(window);
        return window;
    }

    bool becomesActive(Window window) {
        return eventually(
            [&] { return query([](Display* d) { return X11ClientWindows::activeWindow(d); }) == window; });
    }

    std::shared_ptr<X11Connection> control;
};

DesktopEntry entry(std::string id, std::string startupWMClass = {}, std::string exec = {}) {
    DesktopEntry app;
    app.id = std::move(id);
    app.type = "Application";
    app.startupWMClass = std::move(startupWMClass);
    app.exec = std::move(exec);
    return app;
}

TEST_F(X11ClientWindowsTest, ReadsTitlesProcessAndOwnerOfAClient) {
    auto utf8 = openWindow({.instance = "bars",
                            .className = "QuibBars",
                            .netTitle = "caf\u00e9 \u2014 notes",
                            .legacyTitle = "ignored",
                            .processID = 4242});
    auto latin1 = openWindow({.instance = "legacy", .className = "Legacy", .legacyTitle = "caf\xe9"});
    auto untitled = openWindow({.instance = "plain-tool", .className = "Plain"});
    ASSERT_TRUE(utf8 && latin1 && untitled);

    EXPECT_TRUE(query([](Display* d) { return X11ClientWindows::hasWindowManager(d); }));
    const auto clients = query([](Display* d) { return X11ClientWindows::clients(d); });
    for (Window w : {utf8->window(), latin1->window(), untitled->window()})
        EXPECT_EQ(std::ranges::count(clients, w), 1);

    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::title(d, utf8->window()); }), "caf\u00e9 \u2014 notes");
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::title(d, latin1->window()); }), "caf\u00e9");
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::title(d, untitled->window()); }), "");
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::processID(d, utf8->window()); }), 4242);
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::processID(d, latin1->window()); }), std::nullopt);

    const std::vector<DesktopEntry> installed{entry("bars-term", "QuibBars"), entry("legacy"),
                                              entry("plain", "", "/usr/bin/plain-tool --x")};
    const auto ownerID = [&](Window w) {
        auto found = query([&](Display* d) { return X11ClientWindows::owner(d, w, installed); });
        return found ? found->id : "";
    };
    EXPECT_EQ(ownerID(utf8->window()), "bars-term");
    EXPECT_EQ(ownerID(latin1->window()), "legacy");
    EXPECT_EQ(ownerID(untitled->window()), "plain");
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::owner(d, utf8->window(), {}); }), std::nullopt);
}

// A client may store a title of megabytes; no more of it is read than 64 KiB, in either
// property and any encoding, and a UTF-8 title ends before the character the limit split.
TEST_F(X11ClientWindowsTest, ReadsNoMoreOfATitleThanATitleCanBe) {
    auto window = openWindow({.className = "QuibLongTitle"});
    ASSERT_TRUE(window);
    const auto setTitle = [&](const char* property, const char* type, const std::string& text) {
        window->use([&](Display* d) {
            XChangeProperty(d, window->window(), XInternAtom(d, property, False), XInternAtom(d, type, False), 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
            XSync(d, False);
        });
    };
    const auto title = [&] { return query([&](Display* d) { return X11ClientWindows::title(d, window->window()); }); };
    constexpr std::size_t limit = 65536;

    setTitle("WM_NAME", "COMPOUND_TEXT", "short and plain");
    EXPECT_EQ(title(), "short and plain");
    setTitle("WM_NAME", "COMPOUND_TEXT", std::string(200'000, 'a'));
    EXPECT_EQ(title(), std::string(limit, 'a'));

    std::string accented = "x";
    for (int i = 0; i < 40'000; ++i) accented += "\u00e9";
    setTitle("WM_NAME", "UTF8_STRING", accented);
    EXPECT_EQ(title(), accented.substr(0, limit - 1));
    setTitle("_NET_WM_NAME", "UTF8_STRING", accented);
    EXPECT_EQ(title(), accented.substr(0, limit - 1));
}

TEST_F(X11ClientWindowsTest, ListsAnAppsWindowsHighestFirstAndActivatesThem) {
    auto lower = openWindow({.className = "QuibStack"});
    auto upper = openWindow({.className = "QuibStack"});
    auto other = openWindow({.className = "QuibOther"});
    ASSERT_TRUE(lower && upper && other);
    const std::vector<DesktopEntry> installed{entry("stack", "QuibStack"), entry("other", "QuibOther")};

    query([&](Display* d) {
        X11ClientWindows::requestActivation(d, lower->window());
        return 0;
    });
    ASSERT_TRUE(becomesActive(lower->window()));
    EXPECT_TRUE(eventually([&] {
        return query([&](Display* d) { return X11ClientWindows::windowsOf(d, installed[0], installed); }) ==
               std::vector<Window>{lower->window(), upper->window()};
    }));
    const auto stack = query([](Display* d) { return X11ClientWindows::stacking(d); });
    EXPECT_EQ(stack.back(), lower->window());

    query([&](Display* d) {
        X11ClientWindows::requestActivation(d, upper->window());
        return 0;
    });
    EXPECT_TRUE(becomesActive(upper->window()));
    EXPECT_TRUE(eventually([&] {
        return query([&](Display* d) { return X11ClientWindows::windowsOf(d, installed[0], installed); }) ==
               std::vector<Window>{upper->window(), lower->window()};
    }));
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::windowsOf(d, installed[1], installed); }),
              std::vector<Window>{other->window()});
}

TEST_F(X11ClientWindowsTest, TellsAMinimisedWindow) {
    auto window = openWindow({.className = "QuibHidden"});
    ASSERT_TRUE(window);
    EXPECT_FALSE(query([&](Display* d) { return X11ClientWindows::isHidden(d, window->window()); }));
    window->use([&](Display* d) {
        XIconifyWindow(d, window->window(), DefaultScreen(d));
        XSync(d, False);
    });
    EXPECT_TRUE(
        eventually([&] { return query([&](Display* d) { return X11ClientWindows::isHidden(d, window->window()); }); }));
}

// What the command-line window inspector reports as the window's absolute corner and size.
std::optional<Rect> inspectorGeometry(const std::string& display, Window window) {
    const std::string command = "xwininfo -display " + display + " -id " + std::to_string(window);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
    const auto field = [&](const char* name) {
        std::smatch match;
        const std::regex pattern(std::string(name) + R"(:\s+(-?\d+))");
        return std::regex_search(output, match, pattern) ? std::stod(match[1]) : -1.0;
    };
    return Rect{field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")};
}

TEST_F(X11ClientWindowsTest, FrameIsTheClientsGeometryInRootCoordinates) {
    auto window = openWindow({.className = "QuibFrame"});
    ASSERT_TRUE(window);
    const auto frame = query([&](Display* d) { return X11ClientWindows::frame(d, window->window()); });
    ASSERT_TRUE(frame);
    const auto expected = inspectorGeometry(testDisplayName(), window->window());
    ASSERT_TRUE(expected);
    EXPECT_EQ(frame->x, expected->x);
    EXPECT_EQ(frame->y, expected->y);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 200);
    EXPECT_EQ(frame->width, expected->width);

    const Window gone = window->window();
    window.reset();
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::frame(d, gone); }), std::nullopt);
    EXPECT_EQ(query([&](Display* d) { return X11ClientWindows::title(d, gone); }), "");
}

TEST(X11ClientWindows, WithoutAWindowManagerListsTheRootsMappedChildren) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    auto control = X11Connection::open(server->name());
    ASSERT_TRUE(control);
    auto window = ClientWindow::open(server->name(), {.className = "QuibBare"});
    ASSERT_TRUE(window);
    control->use([&](Display* d) {
        EXPECT_FALSE(X11ClientWindows::hasWindowManager(d));
        EXPECT_EQ(X11ClientWindows::clients(d), std::vector<Window>{window->window()});
        EXPECT_EQ(X11ClientWindows::activeWindow(d), std::nullopt);
        EXPECT_NE(X11ClientWindows::serverTime(d), static_cast<Time>(CurrentTime));
    });
}

}  // namespace
}  // namespace quib::testing
