// The windows of the shared test display as capture lists them.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include <X11/Xatom.h>

#include <fstream>
#include <set>
#include <string>

#include "Platform/Linux/X11/X11WindowSource.hpp"

namespace quib::testing {
namespace {

class X11WindowSourceTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        if (!control) return;
        source = std::make_unique<X11WindowSource>(X11Connection::open(testDisplayName()), testDisplayName(),
                                                   std::make_shared<DesktopEntries>(std::vector{apps.path}), nullptr);
    }

    std::optional<WindowSource::Window> listed(Window window) {
        const auto windows = source->shareableWindows();
        if (!windows) return std::nullopt;
        const auto found =
            std::ranges::find(*windows, static_cast<std::uint32_t>(window), &WindowSource::Window::number);
        if (found == windows->end()) return std::nullopt;
        return *found;
    }
    // Where the window stands in the listing, front first; -1 when it is not listed.
    std::ptrdiff_t place(Window window) {
        const auto windows = source->shareableWindows().value_or(std::vector<WindowSource::Window>{});
        const auto found =
            std::ranges::find(windows, static_cast<std::uint32_t>(window), &WindowSource::Window::number);
        return found == windows.end() ? -1 : found - windows.begin();
    }
    void activate(Window window) {
        withControl([&](Display* display) { X11ClientWindows::requestActivation(display, window); });
        ASSERT_TRUE(eventually([&] { return listed(window) && listed(window)->active; }));
    }
    void setCardinal(ClientWindow& window, const char* property, unsigned long value) {
        window.use([&](Display* display) {
            const long unit = static_cast<long>(value);
            XChangeProperty(display, window.window(), XInternAtom(display, property, False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&unit), 1);
            XSync(display, False);
        });
    }
    void setWindowType(ClientWindow& window, const char* type) {
        window.use([&](Display* display) {
            const Atom atom = XInternAtom(display, type, False);
            XChangeProperty(display, window.window(), XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&atom), 1);
            XSync(display, False);
        });
    }

    std::unique_ptr<X11WindowSource> source;
};

TEST_F(X11WindowSourceTest, ListsAppWindowsFrontToBackWithTheirAppAndWhetherTheyShowOrLead) {
    auto back = openWindow("Back");
    auto front = openWindow("Front");
    auto stray = ClientWindow::open(testDisplayName(), {.instance = "quib-stray", .className = "QuibStray"});
    ASSERT_TRUE(back && front && stray);
    activate(front->window());
    ASSERT_TRUE(eventually([&] { return place(front->window()) < place(back->window()); }));

    const auto listing = listed(front->window());
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->title, "Front");
    EXPECT_EQ(listing->owner, (WindowSource::Owner{probeApp, "Capture Probe", 4321}));
    EXPECT_EQ(listing->layer, 0);
    EXPECT_EQ(listing->frame, frameOf(front->window()));
    EXPECT_TRUE(listing->onScreen);
    EXPECT_FALSE(listed(back->window())->active);
    EXPECT_EQ(listed(stray->window())->owner, std::nullopt);

    activate(back->window());
    EXPECT_TRUE(eventually([&] { return place(back->window()) < place(front->window()); }));
    EXPECT_FALSE(listed(front->window())->active);
    EXPECT_EQ(source->backingScaleFactor(), 1.0);
    EXPECT_FALSE(source->screenLocked());
}

TEST_F(X11WindowSourceTest, DocksAreOffTheNormalLayerAndMinimisedOrElsewhereWindowsOffScreen) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    setWindowType(*window, "_NET_WM_WINDOW_TYPE_DIALOG");
    EXPECT_EQ(listed(window->window())->layer, 0);
    setWindowType(*window, "_NET_WM_WINDOW_TYPE_DOCK");
    EXPECT_EQ(listed(window->window())->layer, X11WindowSource::otherLayer);

    std::optional<unsigned long> current;
    control->use([&](Display* display) { current = X11ClientWindows::currentDesktop(display); });
    if (current) {
        setCardinal(*window, "_NET_WM_DESKTOP", *current + 1);
        EXPECT_FALSE(listed(window->window())->onScreen);
        setCardinal(*window, "_NET_WM_DESKTOP", 0xFFFFFFFFu);
        EXPECT_TRUE(listed(window->window())->onScreen);
    }

    withControl([&](Display* display) { XIconifyWindow(display, window->window(), DefaultScreen(display)); });
    EXPECT_TRUE(eventually([&] { return listed(window->window()) && !listed(window->window())->onScreen; }));
}

// The starts of this process's System V shared-memory mappings.
std::set<std::string> sharedSegments() {
    std::set<std::string> starts;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("SYSV") != std::string::npos) starts.insert(line.substr(0, line.find('-')));
    }
    return starts;
}

// Stills and previews come one after another: each is read on the connection and through the
// shared memory the one before used, a window's picture showing what the window shows now.
TEST_F(X11WindowSourceTest, PicturesKeepTheirConnectionAndSharedMemoryFromOneToTheNext) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    const auto number = static_cast<std::uint32_t>(window->window());
    const auto before = sharedSegments();
    std::shared_ptr<X11Connection> connection;
    std::set<std::string> kept;
    for (const Colour colour : {Colour{200, 40, 40}, Colour{40, 200, 40}, Colour{40, 40, 200}}) {
        paint(*window, colour);
        const auto picture = source->windowPicture(number, 40, 30);
        ASSERT_TRUE(picture) << picture.error().message;
        const auto [red, green, blue] = picture.value().at(20, 15);
        EXPECT_TRUE((Colour{red, green, blue}.near(colour))) << Colour{red, green, blue};
        if (!connection) {
            connection = source->pictureConnection();
            kept = sharedSegments();
        }
        EXPECT_EQ(source->pictureConnection(), connection);
        EXPECT_EQ(sharedSegments(), kept);
    }
    EXPECT_EQ(kept.size(), before.size() + 1);

    for (int still = 0; still < 2; ++still) {
        ASSERT_TRUE(source->displayPicture({0, 0, 320, 200}, 160, 100));
        EXPECT_EQ(source->pictureConnection(), connection);
        EXPECT_EQ(sharedSegments().size(), kept.size() + 1);
    }
}

}  // namespace
}  // namespace quib::testing
