// The real quib-host showing an app's window on the shared test display as live video, to
// phones' view channels over TLS, decoded as a phone decodes it.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <thread>

#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "Tests/Integration/Display/GreenTerm.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ViewChannelReader.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

constexpr double allowance = 1.5;  // seconds

class QuibHostWindowView : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        testing::installGreenTerm(home, "quibview-green", "Green Term", "QuibViewGreen", "60x20");
        auto started =
            testing::startTerm(display, "QuibViewGreen", "60x20", "Green Term Window", home.root() / "term.log");
        ASSERT_TRUE(started);
        term.emplace(std::move(*started));
        window = testing::windowOfClass(display, "QuibViewGreen");
        ASSERT_TRUE(window);
        X11Connection::open(display)->use([&](Display* d) { frame = X11ClientWindows::frame(d, *window); });
        ASSERT_TRUE(frame);
        // Away from the window, so that no cursor is drawn into it.
        warpPointer(1919, 1079);
        testing::saveTargetsBeforeStart(home, {testing::appTarget("G", "Green Term", "quibview-green")});
        ASSERT_TRUE(home.defaults()->setString("quib.activeTarget.v1", "G"));
        ASSERT_TRUE(home.defaults()->setReal(PanelStreamer::viewerAllowanceKey, allowance));
        auto running = testing::startWithApprovedPhone(home, display);
        host = std::move(running.host);
        phone = std::move(running.phone.phone);
        ASSERT_TRUE(host && phone);
    }

    testing::ViewChannelReader viewer(std::int64_t width, std::int64_t height, const Rect& crop = {0, 0, 1, 1}) {
        return testing::ViewChannelReader(
            testing::phoneOptions(*host, host->pairingCode()),
            ViewHelloPayload::make(23, testing::adasPhone.name, testing::adasPhone.deviceID, width, height, crop));
    }

    void warpPointer(int x, int y) {
        X11Connection::open(display)->use([&](Display* d) {
            XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
            XSync(d, False);
        });
    }
    Point pointer() {
        Point at;
        X11Connection::open(display)->use([&](Display* d) {
            Window root = None, child = None;
            int x = 0, y = 0, windowX = 0, windowY = 0;
            unsigned int mask = 0;
            XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &windowX, &windowY, &mask);
            at = {static_cast<double>(x), static_cast<double>(y)};
        });
        return at;
    }

    const std::string display = testing::testDisplayName();
    TempHome home;
    std::optional<testing::ChildProcess> term;
    std::optional<Window> window;
    std::optional<Rect> frame;
    std::unique_ptr<testing::HostProcess> host;
    std::unique_ptr<PhoneClient> phone;
};

// The first frame is a key frame with its parameter sets, sized for the phone's screen, in the
// window's shape and colour; the window unchanged, no more frames follow.
TEST_F(QuibHostWindowView, TheWindowComesAsH264ThatDecodesToItsColourAndAnIdleWindowSendsNothing) {
    auto view = viewer(800, 600);
    const auto first = view.videoFrames(1, 10s);
    ASSERT_FALSE(first.empty()) << host->log();
    const ViewFrame& header = first.front().header;
    EXPECT_EQ(header.title, "Green Term");
    EXPECT_EQ(header.codec, ViewFrame::Codec::h264);
    EXPECT_EQ(header.isKeyframe, true);
    ASSERT_TRUE(header.parameterSets);
    EXPECT_EQ(header.parameterSets->size(), 2u) << "a sequence and a picture parameter set";
    ASSERT_TRUE(header.width && header.height);
    // Scaled to fit a box half as large again as the phone's screen, never enlarged past the
    // window's own pixels (on X a point is a pixel).
    const double longer = std::max(frame->width, frame->height), shorter = std::min(frame->width, frame->height);
    const double factor = std::min({1200 / longer, 900 / shorter, 1.0});
    EXPECT_NEAR(static_cast<double>(*header.width), factor * frame->width, 2.0);
    EXPECT_NEAR(static_cast<double>(*header.height), factor * frame->height, 2.0);
    EXPECT_FALSE(header.crop);
    EXPECT_FALSE(header.pointer) << "the pointer is off the window";
    EXPECT_GE(header.cornerRadius.value_or(0), 0.0);
    EXPECT_LT(header.cornerRadius.value_or(0), 0.5) << "a fraction of the picture's width";

    testing::H264Decoder decoder;
    const auto picture = decoder.decode(header, first.front().payload);
    ASSERT_TRUE(picture) << "the first frame does not decode";
    EXPECT_EQ(picture->width, *header.width);
    EXPECT_EQ(picture->height, *header.height);
    const auto [red, green, blue] = testing::H264Decoder::middleOf(*picture);
    EXPECT_LE(red, 12);
    EXPECT_NEAR(green, 0xc0, 12);
    EXPECT_LE(blue, 12);

    // Once the first pictures are through, a window nobody touches costs nothing.
    std::size_t seen = first.size();
    for (int settled = 0; settled < 10; ++settled) {
        const std::size_t now = view.videoFrames(seen + 1, 1s).size();
        if (now == seen) break;
        seen = now;
    }
    EXPECT_EQ(view.videoFrames(seen + 1, 2s).size(), seen) << "an idle window sent frames";
}

TEST_F(QuibHostWindowView, ACroppedViewerGetsItsCropAndAPointLandsOnlyAfterTheAllowance) {
    const Rect rightHalf{0.5, 0, 0.5, 1};
    auto view = viewer(800, 600, rightHalf);
    const auto first = view.videoFrames(1, 10s);
    ASSERT_FALSE(first.empty()) << host->log();
    const auto seenAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(first.front().header.crop);
    EXPECT_EQ(first.front().header.cropRect(), rightHalf);

    ASSERT_TRUE(phone->sendLine(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"));
    std::this_thread::sleep_for(300ms);
    ASSERT_LT(std::chrono::steady_clock::now() - seenAt, std::chrono::duration<double>(allowance))
        << "the machine was too slow to tell";
    EXPECT_EQ(pointer(), (Point{1919, 1079})) << "a point within the allowance moved the pointer";

    // A point is in the window's units, whatever part of it the phone shows.
    std::this_thread::sleep_until(
        seenAt + std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(allowance)));
    ASSERT_TRUE(phone->sendLine(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"));
    const Point target{frame->x + frame->width / 2, frame->y + frame->height / 2};
    EXPECT_TRUE(testing::eventually([&] {
        const Point at = pointer();
        return std::abs(at.x - target.x) <= 2 && std::abs(at.y - target.y) <= 2;
    })) << "the pointer is at "
        << pointer().x << "," << pointer().y << ", not " << target.x << "," << target.y << "\n"
        << host->log();
}

}  // namespace
}  // namespace quib
