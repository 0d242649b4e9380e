// Window capture following windows of the shared test display, and of a server of the test's
// own that goes away.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include <thread>

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
