// Capturing windows of the shared test display as pictures, and of servers of the tests' own.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include <thread>

#include "Platform/Linux/X11/X11WindowStream.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/X11/OwnedWindow.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using FrameStatus = WindowStream::FrameStatus;

// Without the cursor: the pointer lies wherever the tests before left it, maybe over the colours
// a test reads.
WindowStream::Configuration sized(int width, int height, Rect source = {}) {
    WindowStream::Configuration configuration;
    configuration.width = width;
    configuration.height = height;
    configuration.sourceRect = source;
    configuration.showsCursor = false;
    return configuration;
}

bool hasPicture(const WindowStream::Sample& sample) { return sample.picture != nullptr; }

class X11WindowStreamTest : public CaptureTest {
protected:
    std::shared_ptr<X11WindowStream> open(Window window, const WindowStream::Configuration& configuration,
                                          bool sharedMemory = true, const std::string& display = testDisplayName(),
                                          std::shared_ptr<Clock> clock = nullptr) {
        X11WindowStream::Options options;
        options.frames.sharedMemory = sharedMemory;
        options.clock = std::move(clock);
        auto stream = X11WindowStream::open(display, static_cast<std::uint32_t>(window), configuration, queue,
                                            log.handlers(), options);
        EXPECT_TRUE(stream) << stream.error().message;
        return stream ? std::move(stream).value() : nullptr;
    }

    // The first picture with content newer than sample `from`.
    std::shared_ptr<const PixelBuffer> completeAfter(std::size_t from) {
        return log.pictureAfter(from, [](const auto& sample) { return sample.status == FrameStatus::complete; });
    }

    // Waits until the stream has handled everything the server told it so far: two ticks pass.
    void settle() {
        const std::size_t before = log.size();
        log.waitFor([&](const auto& samples) { return samples.size() >= before + 2; }, 300ms);
    }

    SampleLog log;
};

TEST_F(X11WindowStreamTest, EachQuadrantKeepsItsColourThroughSharedMemoryOrTheConnectionAndWhenCovered) {
    auto window = openWindow();
    auto cover = openWindow("Cover");
    ASSERT_TRUE(window && cover);
    const auto frame = frameOf(window->window());
    ASSERT_TRUE(frame);
    // The window manager places the cover's frame where the window is, give or take its title bar.
    withControl([&](Display* display) {
        XMoveWindow(display, cover->window(), static_cast<int>(frame->x), static_cast<int>(frame->y));
    });
    ASSERT_TRUE(eventually([&] {
        const auto covering = frameOf(cover->window());
        return covering && covering->contains({frame->x + 80, frame->y + 50}) &&
               covering->contains({frame->maxX() - 80, frame->maxY() - 50});
    })) << "the cover does not lie over the window";
    const std::array quadrants{red, green, blue, yellow};
    for (const bool sharedMemory : {true, false}) {
        SCOPED_TRACE(sharedMemory ? "shared memory" : "through the connection");
        auto stream = open(window->window(), sized(320, 200), sharedMemory);
        ASSERT_TRUE(stream);
        ASSERT_TRUE(log.pictureAfter(log.size()));
        // The window lies under the cover, which was mapped after it in the same place.
        paint(*cover, blue);
        const std::size_t before = log.size();
        paint(*window, quadrants);
        auto picture = completeAfter(before);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width(), 320);
        EXPECT_EQ(picture->height(), 200);
        const std::array<std::pair<double, double>, 4> centres{
            {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}};
        for (std::size_t i = 0; i < 4; ++i) {
            const Colour seen = colourAt(*picture, centres[i].first, centres[i].second);
            EXPECT_TRUE(seen.near(quadrants[i])) << "quadrant " << i << " shows " << seen;
        }

        // The bottom-right quarter, scaled up to the same picture size.
        const std::size_t beforeCrop = log.size();
        stream->update(sized(320, 200, {160, 100, 160, 100}), nullptr);
        auto cropped = log.pictureAfter(beforeCrop);
        ASSERT_TRUE(cropped);
        for (const auto& [x, y] : {std::pair{0.02, 0.02}, {0.98, 0.02}, {0.02, 0.98}, {0.98, 0.98}, {0.5, 0.5}}) {
            const Colour seen = colourAt(*cropped, x, y);
            EXPECT_TRUE(seen.near(yellow)) << "at " << x << ", " << y << ": " << seen;
        }
        stream->stop();
    }
}

// Pictures come when the window changes or one is asked for; ticks between say idle, a change
// waits while the pool's pictures are all held, and an unmapped window gives nothing.
TEST_F(X11WindowStreamTest, OnlyChangesAndRequestsGivePictures) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    auto stream = open(window->window(), sized(160, 100));
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.waitFor([](const auto& samples) { return !samples.empty(); }));
    EXPECT_EQ(log.since(0).front().status, FrameStatus::started);
    EXPECT_TRUE(log.since(0).front().picture);

    std::size_t mark = log.size();
    paint(*window, green);
    ASSERT_TRUE(completeAfter(mark));
    settle();
    mark = log.size();
    std::this_thread::sleep_for(500ms);
    const auto quiet = log.since(mark);
    EXPECT_GE(quiet.size(), 10u);
    EXPECT_LE(quiet.size(), 33u) << "ticks came faster than 60 a second";
    for (const auto& sample : quiet) {
        EXPECT_EQ(sample.status, FrameStatus::idle);
        EXPECT_FALSE(sample.picture);
    }

    mark = log.size();
    stream->requestFrame();
    auto asked = log.pictureAfter(mark);
    ASSERT_TRUE(asked);
    auto pictures = log.since(mark);
    EXPECT_EQ(std::ranges::count_if(pictures, hasPicture), 1);
    EXPECT_EQ(std::ranges::find_if(pictures, hasPicture)->status, FrameStatus::idle);
    EXPECT_TRUE(colourAt(*asked, 0.5, 0.5).near(green));
    asked.reset();

    // With all five pictures of the pool held, a change waits for one to come back. A paint can
    // reach the stream over two ticks, and so be two pictures: the log says how many it holds.
    while (std::ranges::count_if(log.since(0), hasPicture) < 5) {
        mark = log.size();
        stream->requestFrame();
        ASSERT_TRUE(log.pictureAfter(mark));
    }
    mark = log.size();
    paint(*window, blue);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(std::ranges::count_if(log.since(mark), hasPicture), 0);
    log.dropPictures();
    auto kept = completeAfter(mark);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(colourAt(*kept, 0.5, 0.5).near(blue));

    window->use([&](Display* display) {
        XUnmapWindow(display, window->window());
        XSync(display, False);
    });
    // Once the stream has seen the unmapping, it says nothing at all.
    ASSERT_TRUE(eventually([&] {
        const std::size_t before = log.size();
        std::this_thread::sleep_for(100ms);
        return log.size() == before;
    }));
    mark = log.size();
    stream->requestFrame();
    paint(*window, red);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(log.since(mark).empty());
}

// Once a picture was taken, the next reads again only the rows that changed: changes far apart
// show as they are, what lies between them as it was.
TEST_F(X11WindowStreamTest, ChangesInRowsFarApartShowBesideTheRowsThatStayed) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, green);
    auto stream = open(window->window(), sized(320, 200));
    ASSERT_TRUE(stream && log.pictureAfter(log.size()));
    settle();
    const std::size_t mark = log.size();
    paintRows(*window, 20, 40, red);
    paintRows(*window, 150, 170, blue);
    auto picture =
        log.pictureAfter(mark, [](const auto& sample) { return colourAt(*sample.picture, 160, 160).near(blue); });
    ASSERT_TRUE(picture) << "no picture shows the second change";
    for (const auto& [y, expected] :
         std::vector<std::pair<int, Colour>>{{10, green}, {30, red}, {90, green}, {160, blue}, {190, green}})
        EXPECT_TRUE(colourAt(*picture, 160, y).near(expected))
            << "row " << y << " shows " << colourAt(*picture, 160, y);
}

// On a clock the test holds still: a change after a quiet spell is taken as soon as its drawing
// has settled, well within 1/60 s, not at a tick; changes that follow within 1/60 s wait until
// the clock allows the next picture, which shows the last of them. Samples keep their statuses:
// complete with a picture, idle without one.
TEST_F(X11WindowStreamTest, AChangeAfterAQuietSpellIsTakenAtOnceAndABurstWaitsForTheRateEndingWithItsLast) {
    auto clock = std::make_shared<FakeClock>();
    auto window = openWindow();
    ASSERT_TRUE(window);
    auto stream = open(window->window(), sized(160, 100), true, testDisplayName(), clock);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.pictureAfter(0));
    clock->advance(1s);
    const MonoTime quiet = clock->now();
    const std::size_t mark = log.size();
    const auto isComplete = [](const WindowStream::Sample& sample) { return sample.status == FrameStatus::complete; };
    paint(*window, green);
    bool taken = false;
    for (int step = 0; step < 4 && !taken; ++step) {
        clock->advance(X11WindowStream::settle);
        taken = log.pictureAfter(mark, isComplete, 300ms) != nullptr;
    }
    ASSERT_TRUE(taken);
    const auto samples = log.since(mark);
    EXPECT_LE(std::ranges::find_if(samples, isComplete)->presentationTime - quiet, X11WindowStream::settleCap)
        << "the change waited for a tick";

    for (const Colour colour : {blue, yellow, red}) paint(*window, colour);
    std::shared_ptr<const PixelBuffer> last;
    for (int step = 0; step < 5 && !(last && colourAt(*last, 0.5, 0.5).near(red)); ++step) {
        const std::size_t before = log.size();
        clock->advance(X11WindowStream::tickPeriod);
        if (auto picture = log.pictureAfter(before, isComplete, 1s)) last = std::move(picture);
    }
    ASSERT_TRUE(last && colourAt(*last, 0.5, 0.5).near(red)) << "the last change was never taken";
    last.reset();

    std::optional<MonoTime> previous;
    for (const auto& sample : log.since(mark)) {
        EXPECT_TRUE(sample.status == FrameStatus::complete || sample.status == FrameStatus::idle) << sample.status;
        EXPECT_EQ(sample.picture != nullptr, sample.status == FrameStatus::complete);
        if (!sample.picture) continue;
        if (previous) {
            EXPECT_GE(sample.presentationTime - *previous, X11WindowStream::tickPeriod);
        }
        previous = sample.presentationTime;
    }
}

// X hands a destroyed window's number out again: the stream says the window has gone, as no
// failure, and ends.
TEST_F(X11WindowStreamTest, SaysWhenItsWindowHasGoneAndEnds) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    auto stream = open(window->window(), sized(320, 200));
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.pictureAfter(0));
    window.reset();
    EXPECT_TRUE(log.waitForGone(2s)) << "the stream never said its window went";
    const std::size_t mark = log.size();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(log.since(mark).empty()) << "the stream goes on";
    EXPECT_TRUE(log.stops().empty());
}

TEST_F(X11WindowStreamTest, TheCursorIsDrawnWhereThePointerIsOverTheWindowOnly) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    auto withCursor = sized(320, 200);
    withCursor.showsCursor = true;
    auto stream = open(window->window(), withCursor);
    ASSERT_TRUE(stream);
    paint(*window, green);
    const auto frame = frameOf(window->window());
    ASSERT_TRUE(frame);
    // Whether the picture shows anything but green around its centre.
    const auto marked = [](const PixelBuffer& picture) {
        for (int y = 90; y < 130; ++y) {
            for (int x = 150; x < 190; ++x) {
                if (!colourAt(picture, x, y).near(green, 40)) return true;
            }
        }
        return false;
    };

    std::size_t mark = log.size();
    warpPointer(static_cast<int>(frame->midX()), static_cast<int>(frame->midY()));
    auto over = log.pictureAfter(mark, [&](const auto& sample) { return marked(*sample.picture); });
    EXPECT_TRUE(over) << "no picture shows the cursor";
    over.reset();
    log.dropPictures();

    mark = log.size();
    warpPointer(1900, 1060);
    auto away = log.pictureAfter(mark);
    ASSERT_TRUE(away);
    EXPECT_FALSE(marked(*away));
}

// Windows with alpha are read as their colour, whatever their alpha.
TEST_F(X11WindowStreamTest, ReadsArgbWindowsAndRefusesOtherVisuals) {
    std::uint32_t translucentRed = 0x80000000u | red.pixel();
    auto argb = OwnedWindow::open(testDisplayName(), [&](Display* display) {
        XVisualInfo info{};
        if (!XMatchVisualInfo(display, DefaultScreen(display), 32, TrueColor, &info)) return Window{None};
        XSetWindowAttributes attributes{};
        attributes.colormap = XCreateColormap(display, DefaultRootWindow(display), info.visual, AllocNone);
        attributes.border_pixel = 0;
        attributes.background_pixel = translucentRed;
        const Window made = XCreateWindow(display, DefaultRootWindow(display), 400, 300, 200, 150, 0, 32, InputOutput,
                                          info.visual, CWColormap | CWBorderPixel | CWBackPixel, &attributes);
        XMapWindow(display, made);
        return made;
    });
    ASSERT_TRUE(argb && argb->window() != None) << "the test display has no 32-bit visual";
    ASSERT_TRUE(eventually([&] {
        XWindowAttributes attributes{};
        argb->use([&](Display* display) { XGetWindowAttributes(display, argb->window(), &attributes); });
        return attributes.map_state == IsViewable;
    }));
    auto stream = open(argb->window(), sized(200, 150));
    ASSERT_TRUE(stream);
    auto picture = log.pictureAfter(0);
    ASSERT_TRUE(picture);
    EXPECT_TRUE(colourAt(*picture, 0.5, 0.5).near(red)) << colourAt(*picture, 0.5, 0.5);

    auto server = PrivateXServer::start("640x480x16");
    ASSERT_TRUE(server);
    auto shallow = OwnedWindow::open(server->name(), [](Display* display) {
        const Window made = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
        XMapWindow(display, made);
        return made;
    });
    ASSERT_TRUE(shallow);
    auto refused = X11WindowStream::open(server->name(), static_cast<std::uint32_t>(shallow->window()), sized(100, 100),
                                         queue, log.handlers(), {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, "unsupported window visual (depth 16)");
}

// The stream says the server went away and the process goes on.
TEST_F(X11WindowStreamTest, StopsOnItsOwnWhenTheServerGoes) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    auto window = OwnedWindow::open(server->name(), [](Display* display) {
        const Window made = XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 100, 80, 0, 0, 0xFFFFFF);
        XMapWindow(display, made);
        return made;
    });
    ASSERT_TRUE(window);
    auto stream = open(window->window(), sized(100, 80), true, server->name());
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.pictureAfter(0));
    server->kill();
    ASSERT_TRUE(log.waitForStop(5s));
    EXPECT_EQ(log.stops(), std::vector<std::string>{"the X server closed the connection"});
    stream->stop();
}

}  // namespace
}  // namespace quib::testing
