// Window capture following windows of the shared test display, and of a server of the test's
// own that goes away.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include <X11/Xatom.h>

#include <thread>

#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Streaming/WindowCapture.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

// A capture of the display's windows for a phone of 1179 × 2556 pixels, with what it hands its
// owner kept for the test.
class WindowCaptureOnX11 {
public:
    struct Frame {
        std::shared_ptr<const PixelBuffer> picture;
        Rect crop;
        std::int64_t generation = 0;
    };
    struct State {
        std::string text;
        bool canOpen = false;
        bool operator==(const State&) const = default;
    };

    explicit WindowCaptureOnX11(const std::string& display, std::shared_ptr<DesktopEntries> apps) {
        desktop = X11Desktop::open(display, std::move(apps));
        if (!desktop) return;
        WindowCapture::Config config;
        config.desktop = desktop->services;
        config.screenAccess = std::make_shared<ScreenAccess>(desktop->permissions);
        config.maxEncodedSide = [] { return 2560.0; };
        config.onFrame = [this](std::shared_ptr<const PixelBuffer> picture, MonoTime, const Rect& crop,
                                std::int64_t generation) {
            std::lock_guard lock(mutex_);
            frames_.push_back({std::move(picture), crop, generation});
            changed_.notify_all();
        };
        config.onState = [this](const std::string& text, bool canOpen) {
            std::lock_guard lock(mutex_);
            states_.push_back({text, canOpen});
            changed_.notify_all();
        };
        capture = WindowCapture::create(std::move(config));
    }
    ~WindowCaptureOnX11() {
        if (capture) capture->stop();
    }

    void follow(std::optional<std::string> app, std::optional<std::uint32_t> pinned = std::nullopt) {
        capture->start(std::move(app), pinned, 1179, 2556, WindowCapture::wholeWindow);
    }

    // The first frame from `from` on that `accept` takes, waiting up to `timeout` for it.
    std::optional<Frame> frameAfter(std::size_t from, const std::function<bool(const Frame&)>& accept = {},
                                    std::chrono::milliseconds timeout = 5s) {
        std::optional<Frame> found;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] {
            for (std::size_t i = from; i < frames_.size(); ++i) {
                if (!accept || accept(frames_[i])) {
                    found = frames_[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    bool stateAfter(std::size_t from, const State& wanted, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::find(states_.begin() + static_cast<std::ptrdiff_t>(std::min(from, states_.size())),
                             states_.end(), wanted) != states_.end();
        });
    }
    std::size_t frameCount() {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }
    std::size_t stateCount() {
        std::lock_guard lock(mutex_);
        return states_.size();
    }
    std::vector<State> statesSince(std::size_t from) {
        std::lock_guard lock(mutex_);
        return {states_.begin() + static_cast<std::ptrdiff_t>(std::min(from, states_.size())), states_.end()};
    }

    std::optional<X11Desktop::Opened> desktop;
    std::shared_ptr<WindowCapture> capture;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::vector<State> states_;
};

bool sized(const WindowCaptureOnX11::Frame& frame, int width, int height) {
    return frame.picture->width() == width && frame.picture->height() == height;
}

class WindowCaptureTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        if (!control) return;
        watcher = std::make_unique<WindowCaptureOnX11>(testDisplayName(),
                                                       std::make_shared<DesktopEntries>(std::vector{apps.path}));
        ASSERT_TRUE(watcher->capture);
    }
    void TearDown() override { watcher.reset(); }

    std::unique_ptr<WindowCaptureOnX11> watcher;
};

// A 320 × 200 window for that phone is 320 × 200 pixels: on X a point is a pixel, and no picture
// is enlarged past its own pixels.
TEST_F(WindowCaptureTest, FollowsTheWindowThroughResizingMinimisingAndShowingAgain) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    watcher->follow(probeApp);
    const auto first = watcher->frameAfter(0);
    ASSERT_TRUE(first);
    EXPECT_TRUE(sized(*first, 320, 200));
    EXPECT_EQ(first->crop, WindowCapture::wholeWindow);
    EXPECT_EQ(watcher->capture->cornerFraction(), std::nullopt) << "a client window's picture has square corners";

    withControl([&](Display* display) { XResizeWindow(display, window->window(), 400, 300); });
    const auto resized = watcher->frameAfter(
        0, [](const auto& frame) { return sized(frame, 400, 300); }, 3s);
    ASSERT_TRUE(resized) << "no frame of the new size within two watchdog periods";
    EXPECT_EQ(resized->generation, first->generation);

    std::size_t states = watcher->stateCount();
    withControl([&](Display* display) { XIconifyWindow(display, window->window(), DefaultScreen(display)); });
    ASSERT_TRUE(watcher->stateAfter(states, {"Capture Probe is minimised", true}, 3s));
    // The stream stopped: the window is not captured while it stays minimised.
    std::this_thread::sleep_for(200ms);
    const std::size_t frames = watcher->frameCount();
    // Shown again as the roster opens a window: mapped, then activated.
    window->use([&](Display* display) {
        XMapWindow(display, window->window());
        XSync(display, False);
    });
    withControl([&](Display* display) { X11ClientWindows::requestActivation(display, window->window()); });
    const auto shown = watcher->frameAfter(frames, {}, 3s);
    ASSERT_TRUE(shown) << "no frame after the window showed again";
    EXPECT_NE(shown->generation, first->generation);
}

TEST_F(WindowCaptureTest, APinnedWindowThatClosesIsReportedClosed) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    watcher->follow(probeApp, static_cast<std::uint32_t>(window->window()));
    ASSERT_TRUE(watcher->frameAfter(0));
    const std::size_t states = watcher->stateCount();
    window.reset();
    EXPECT_TRUE(
        watcher->stateAfter(states, {"The window you picked has closed \u2014 pick another on your phone", false}, 3s));
}

// The pointer's place is relative to the whole window, to within a pixel.
TEST_F(WindowCaptureTest, ThePointerIsFoundOnTheCapturedWindowOnly) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    watcher->follow(probeApp);
    ASSERT_TRUE(watcher->frameAfter(0));
    const auto frame = frameOf(window->window());
    ASSERT_TRUE(frame);
    warpPointer(static_cast<int>(frame->x + frame->width / 2), static_cast<int>(frame->y + frame->height / 2));
    const auto spot = watcher->capture->pointerInWindow();
    ASSERT_TRUE(spot);
    EXPECT_NEAR(spot->x, 0.5, 1 / frame->width);
    EXPECT_NEAR(spot->y, 0.5, 1 / frame->height);
    warpPointer(static_cast<int>(frame->maxX()) + 20, static_cast<int>(frame->y) + 10);
    EXPECT_EQ(watcher->capture->pointerInWindow(), std::nullopt);
}

// X hands a window's number out again once the window is gone, often to the very next program.
// A number the target pins names its window only while the target's app owns it.
TEST_F(WindowCaptureTest, APinnedNumberThatAnotherProgramTakesIsNeverShown) {
    auto picked = startXterm("QuibTerm", "#2040a0");
    ASSERT_NE(picked.window, None);
    const auto number = static_cast<std::uint32_t>(picked.window);
    watcher->follow(termApp, number);
    ASSERT_TRUE(watcher->frameAfter(0));
    const std::size_t states = watcher->stateCount();
    closeXterm(picked);
    auto other = startXterm("OtherApp", "#a02020");
    ASSERT_NE(other.window, None);
    if (other.window != picked.window) GTEST_SKIP() << "the other program got another number this time";
    const std::size_t frames = watcher->frameCount();
    const WindowCaptureOnX11::State closed{"The window you picked has closed \u2014 pick another on your phone", false};
    EXPECT_TRUE(watcher->stateAfter(states, closed, 3s));
    std::this_thread::sleep_for(2 * WindowCapture::watchdogPeriod + 200ms);
    EXPECT_EQ(watcher->frameCount(), frames) << "the other program's window was shown";
    EXPECT_FALSE(watcher->capture->windowFrame()) << "a tap would land on the other program";
    EXPECT_EQ(watcher->statesSince(states).back(), closed);
}

// Closed and started again 0.15 s later, the app's window comes back under the same number: the
// stream of the old one ends without a word, and the new one is shown within one watchdog pass.
TEST_F(WindowCaptureTest, AWindowReplacedUnderItsNumberIsShownAgainWithinOnePass) {
    auto first = startXterm("QuibTerm", "#2040a0");
    ASSERT_NE(first.window, None);
    watcher->follow(termApp);
    const auto shown = watcher->frameAfter(0);
    ASSERT_TRUE(shown);
    const std::size_t states = watcher->stateCount();
    const std::size_t frames = watcher->frameCount();
    first.process.reset();
    std::this_thread::sleep_for(150ms);
    auto second = startXterm("QuibTerm", "#a02020");
    ASSERT_NE(second.window, None);
    if (second.window != first.window) GTEST_SKIP() << "the new window got another number this time";
    const auto again = watcher->frameAfter(
        frames, [&](const auto& frame) { return frame.generation != shown->generation; },
        std::chrono::duration_cast<std::chrono::milliseconds>(WindowCapture::watchdogPeriod + 1s));
    ASSERT_TRUE(again) << "no picture of the new window within one watchdog pass";
    const Colour middle = colourAt(*again->picture, 0.5, 0.5);
    EXPECT_TRUE(middle.near({0xa0, 0x20, 0x20}, 12)) << middle;
    if (const auto png = FfmpegPngEncoder().encode(rgbOf(*again->picture))) keepArtifact("replaced-window.png", *png);
    for (const auto& state : watcher->statesSince(states))
        EXPECT_FALSE(state.text.starts_with("Capture")) << state.text;
}

// A window manager may leave _NET_WM_STATE_HIDDEN on a window it shows again: the window is
// mapped, viewable and Normal by WM_STATE, and is shown.
TEST_F(WindowCaptureTest, AShownWindowWithAStaleHiddenMarkIsCaptured) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, green);
    window->use([&](Display* display) {
        const long hidden = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_HIDDEN", False));
        XChangeProperty(display, window->window(), XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&hidden), 1);
        XSync(display, False);
    });
    bool stale = false;
    control->use([&](Display* display) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, window->window(), XInternAtom(display, "_NET_WM_STATE", False), 0, 8, False,
                           XA_ATOM, &type, &format, &count, &after, &data);
        stale = count == 1;
        if (data) XFree(data);
    });
    ASSERT_TRUE(stale) << "the mark did not stay";
    withControl([&](Display* display) { EXPECT_FALSE(X11ClientWindows::isHidden(display, window->window())); });
    watcher->follow(probeApp);
    const auto frame = watcher->frameAfter(0);
    ASSERT_TRUE(frame) << "a shown window is not captured";
    EXPECT_TRUE(colourAt(*frame->picture, 0.5, 0.5).near(green));
    for (const auto& state : watcher->statesSince(0)) EXPECT_EQ(state.text.find("minimised"), std::string::npos);

    withControl([&](Display* display) { XIconifyWindow(display, window->window(), DefaultScreen(display)); });
    EXPECT_TRUE(eventually([&] {
        bool hidden = false;
        control->use([&](Display* display) { hidden = X11ClientWindows::isHidden(display, window->window()); });
        return hidden;
    })) << "a minimised window counts as shown";
}

TEST_F(WindowCaptureTest, ReportsTheLossOfTheServerAndTheProcessGoesOn) {
    auto server = PrivateXServer::start("800x600x24");
    ASSERT_TRUE(server);
    auto window = ClientWindow::open(server->name(), {.instance = probeApp, .className = "QuibCaptureProbe"});
    ASSERT_TRUE(window);
    WindowCaptureOnX11 lost(server->name(), std::make_shared<DesktopEntries>(std::vector{apps.path}));
    ASSERT_TRUE(lost.capture);
    lost.follow(probeApp);
    ASSERT_TRUE(lost.frameAfter(0));
    server->kill();
    EXPECT_TRUE(lost.stateAfter(0, {"Capture stopped: the X server closed the connection", false}, 5s));
}

}  // namespace
}  // namespace quib::testing
