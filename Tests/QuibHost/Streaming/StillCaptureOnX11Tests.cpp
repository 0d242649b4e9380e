// Still screenshots of the shared test display: a window's own pixels through its composite
// pixmap, the screen's through the root window, both as PNG.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include <thread>

#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Streaming/StillCapture.hpp"
#include "Tests/Support/PngPicture.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

Colour colourAt(const RgbPicture& picture, double x, double y) {
    const auto [r, g, b] = picture.at(static_cast<int>(x * picture.width), static_cast<int>(y * picture.height));
    return {r, g, b};
}

class StillCaptureOnX11 : public CaptureTest {
protected:
    // Makes the quadrants the window's background, which the server paints wherever the window
    // has no contents, as when it is first redirected while covered; the test's windows draw
    // nothing when asked to.
    static void paintBackground(ClientWindow& window, std::array<Colour, 4> quadrants) {
        window.use([&](Display* display) {
            constexpr unsigned int width = 320, height = 200;
            const Pixmap pixmap =
                XCreatePixmap(display, window.window(), width, height,
                              static_cast<unsigned int>(DefaultDepth(display, DefaultScreen(display))));
            const GC gc = XCreateGC(display, pixmap, 0, nullptr);
            for (int quadrant = 0; quadrant < 4; ++quadrant) {
                XSetForeground(display, gc, quadrants[quadrant].pixel());
                XFillRectangle(display, pixmap, gc, quadrant % 2 ? width / 2 : 0, quadrant / 2 ? height / 2 : 0,
                               width / 2, height / 2);
            }
            XFreeGC(display, gc);
            XSetWindowBackgroundPixmap(display, window.window(), pixmap);
            XFreePixmap(display, pixmap);
            XClearWindow(display, window.window());
            XSync(display, False);
        });
    }

    void SetUp() override {
        CaptureTest::SetUp();
        if (!control) return;
        auto opened = X11Desktop::open(testDisplayName(), std::make_shared<DesktopEntries>(std::vector{apps.path}));
        ASSERT_TRUE(opened);
        desktop = std::move(*opened);
        capture = std::make_shared<StillCapture>(
            StillCapture::Config{.desktop = desktop->services,
                                 .screenAccess = std::make_shared<ScreenAccess>(desktop->permissions),
                                 .png = std::make_shared<FfmpegPngEncoder>()});
    }

    StillCaptureService::Outcome still(QuibTarget::Kind kind, std::int64_t maxLongEdge = 4000,
                                       const char* app = probeApp) {
        QuibTarget target;
        target.id = "T1";
        target.name = "Probe";
        target.kind = kind;
        if (kind == QuibTarget::Kind::app) target.bundleID = app;
        return capture->captureNow(target, maxLongEdge);
    }
    static std::string refusal(const StillCaptureService::Outcome& outcome) {
        const auto* refused = std::get_if<StillCaptureService::Refusal>(&outcome);
        return refused ? refused->message() : "a still";
    }

    std::optional<X11Desktop::Opened> desktop;
    std::shared_ptr<StillCapture> capture;
};

TEST_F(StillCaptureOnX11, AWindowIsPhotographedWithItsOwnPixelsEvenWhenCovered) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    const std::array quadrants{red, green, blue, yellow};
    paintBackground(*window, quadrants);
    for (const bool covered : {false, true}) {
        SCOPED_TRACE(covered ? "covered" : "in view");
        std::unique_ptr<ClientWindow> cover;
        if (covered) {
            cover = ClientWindow::open(testDisplayName(), {.netTitle = "Cover"});
            ASSERT_TRUE(cover);
            const auto frame = frameOf(window->window());
            ASSERT_TRUE(frame);
            withControl([&](Display* display) {
                XMoveWindow(display, cover->window(), static_cast<int>(frame->x), static_cast<int>(frame->y));
            });
            paint(*cover, Colour{30, 30, 30});
            ASSERT_TRUE(eventually([&] {
                const auto covering = frameOf(cover->window());
                return covering && covering->contains({frame->x + 80, frame->y + 50});
            }));
        }
        const auto outcome = still(QuibTarget::Kind::app, 4000);
        ASSERT_TRUE(std::holds_alternative<StillCaptureService::Still>(outcome)) << refusal(outcome);
        const auto& shot = std::get<StillCaptureService::Still>(outcome);
        EXPECT_EQ(shot.title, "Capture Probe");
        const auto picture = decodePng(shot.png);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, 320);
        EXPECT_EQ(picture->height, 200);
        EXPECT_EQ(shot.width, 320);
        const std::array<std::pair<double, double>, 4> centres{
            {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}};
        for (std::size_t i = 0; i < 4; ++i) {
            const Colour seen = colourAt(*picture, centres[i].first, centres[i].second);
            EXPECT_TRUE(seen.near(quadrants[i])) << "quadrant " << i << " shows " << seen;
        }
    }
    // Scaled down by the area filter, the quadrants keep their colours.
    const auto small = still(QuibTarget::Kind::app, 100);
    ASSERT_TRUE(std::holds_alternative<StillCaptureService::Still>(small)) << refusal(small);
    const auto picture = decodePng(std::get<StillCaptureService::Still>(small).png);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 320);
    EXPECT_TRUE(colourAt(*picture, 0.75, 0.75).near(yellow));

    withControl([&](Display* display) { XIconifyWindow(display, window->window(), DefaultScreen(display)); });
    EXPECT_TRUE(eventually([&] { return refusal(still(QuibTarget::Kind::app)) != "a still"; }));
    EXPECT_EQ(refusal(still(QuibTarget::Kind::app)), "Screenshot failed: the window isn't visible");
}

// Pixels of text: dark ones, on the xterm's white.
std::size_t darkPixels(const RgbPicture& picture) {
    std::size_t dark = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const auto [r, g, b] = picture.at(x, y);
            if (r + g + b < 3 * 100) ++dark;
        }
    return dark;
}

// A covered window holds nothing where it is covered until its app paints there again, which
// the app does once the window is redirected: its picture waits for that.
TEST_F(StillCaptureOnX11, ACoveredXtermIsPhotographedWithItsText) {
    auto xterm = startXterm("QuibTerm", "white",
                            {"sh", "-c", "for i in 1 2 3 4 5 6 7 8; do echo COVERED TEXT LINE $i; done; exec cat"},
                            "40x10+40+40");
    ASSERT_NE(xterm.window, None);
    const auto frame = frameOf(xterm.window);
    ASSERT_TRUE(frame);
    std::this_thread::sleep_for(300ms);  // the lines are printed
    auto cover = ClientWindow::open(testDisplayName(), {.netTitle = "Cover"});
    ASSERT_TRUE(cover);
    withControl([&](Display* display) {
        // Room for the window manager's frame, which it may put where the client asked to be.
        XMoveResizeWindow(display, cover->window(), static_cast<int>(frame->x) - 30, static_cast<int>(frame->y) - 50,
                          static_cast<unsigned int>(frame->width) + 60, static_cast<unsigned int>(frame->height) + 100);
        XRaiseWindow(display, cover->window());
    });
    paint(*cover, Colour{200, 200, 200});
    ASSERT_TRUE(eventually([&] {
        const auto covering = frameOf(cover->window());
        return covering && covering->contains({frame->x + 5, frame->y + 5}) &&
               covering->contains({frame->maxX() - 5, frame->maxY() - 5});
    })) << "the cover is at "
        << frameOf(cover->window()).value_or(Rect{}).x << "," << frameOf(cover->window()).value_or(Rect{}).y << " "
        << frameOf(cover->window()).value_or(Rect{}).width << "x" << frameOf(cover->window()).value_or(Rect{}).height
        << ", the xterm at " << frame->x << "," << frame->y << " " << frame->width << "x" << frame->height;
    std::this_thread::sleep_for(200ms);

    const auto outcome = still(QuibTarget::Kind::app, 4000, termApp);
    ASSERT_TRUE(std::holds_alternative<StillCaptureService::Still>(outcome)) << refusal(outcome);
    const auto& shot = std::get<StillCaptureService::Still>(outcome);
    keepArtifact("covered-xterm-still.png", shot.png);
    const auto picture = decodePng(shot.png);
    ASSERT_TRUE(picture);
    EXPECT_GT(darkPixels(*picture), 400u) << "the still shows no text";

    const auto preview = desktop->services.windowSource->windowPicture(
        static_cast<std::uint32_t>(xterm.window), 320, static_cast<int>(320 * frame->height / frame->width));
    ASSERT_TRUE(preview) << preview.error().message;
    if (const auto png = FfmpegPngEncoder().encode(preview.value())) keepArtifact("covered-xterm-preview.png", *png);
    EXPECT_GT(darkPixels(preview.value()), 200u) << "the preview shows no text";
}

TEST_F(StillCaptureOnX11, TheScreenIsPhotographedWholeWithoutTheCursor) {
    const auto displays = desktop->services.displays->activeDisplayBounds();
    ASSERT_TRUE(displays && displays->size() == 1) << "the test display has one monitor";
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, green);
    const auto frame = frameOf(window->window());
    ASSERT_TRUE(frame);
    const int x = static_cast<int>(frame->midX()), y = static_cast<int>(frame->midY());
    warpPointer(x, y);
    const auto outcome = still(QuibTarget::Kind::tmux, 100000);
    ASSERT_TRUE(std::holds_alternative<StillCaptureService::Still>(outcome)) << refusal(outcome);
    const auto& shot = std::get<StillCaptureService::Still>(outcome);
    EXPECT_EQ(shot.title, "Screen");
    const auto picture = decodePng(shot.png);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, static_cast<int>((*displays)[0].width));
    EXPECT_EQ(picture->height, static_cast<int>((*displays)[0].height));
    // Every pixel around the pointer is the window's: the cursor is not in the picture.
    for (int dy = -12; dy <= 24; dy += 2) {
        for (int dx = -12; dx <= 24; dx += 2) {
            const auto [r, g, b] = picture->at(x + dx, y + dy);
            ASSERT_TRUE((Colour{r, g, b}.near(green))) << "at " << dx << ", " << dy;
        }
    }
}

}  // namespace
}  // namespace quib::testing
