// The real quib-host photographing the shared test display, and an app's window, for a phone's
// still channel; and bringing back an iconified window of that app.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Platform/WindowRoster.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/StillChannel.hpp"
#include "Shared/StillFrame.hpp"
#include "Tests/Integration/Display/GreenTerm.hpp"
#include "Tests/Support/PngPicture.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

// All a still channel sends before the host closes it.
std::string stillReply(const testing::HostProcess& host, std::optional<std::int64_t> maxLongEdge,
                       const std::string& targetID) {
    auto channel = testing::connectPhone(testing::phoneOptions(host, host.pairingCode()));
    if (!channel) return {};
    channel->expectBytes();
    Json hello{
        {"deviceName", testing::adasPhone.name}, {"deviceID", testing::adasPhone.deviceID}, {"targetID", targetID}};
    if (maxLongEdge) hello["maxLongEdge"] = *maxLongEdge;
    EXPECT_TRUE(channel->sendLine(Json{{"stillHello", {{"_0", hello}}}}.dump()));
    std::string reply;
    for (;;) {
        const auto bytes = channel->receiveBytes(10s);
        if (!bytes) break;
        reply += *bytes;
    }
    return reply;
}

// The frames a still channel sends before the host closes it.
std::vector<StillFrameReader::Frame> stillFrames(const testing::HostProcess& host,
                                                 std::optional<std::int64_t> maxLongEdge,
                                                 const std::string& targetID = "T1") {
    StillFrameReader reader(StillChannel::maxStillBytes);
    return reader.append(stillReply(host, maxLongEdge, targetID));
}

TEST(QuibHost, PhotographsTheScreenForATmuxTarget) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    int width = 0, height = 0;
    X11Connection::open(display)->use([&](Display* d) {
        width = DisplayWidth(d, DefaultScreen(d));
        height = DisplayHeight(d, DefaultScreen(d));
    });
    TempHome home;
    testing::saveTargetsBeforeStart(home, {testing::workPane("quib-test:0.0")});
    auto [host, ada] = testing::startWithApprovedPhone(home, display);
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["screenRecordingGranted"], true);

    auto frames = stillFrames(*host, std::nullopt);
    ASSERT_EQ(frames.size(), 1u) << host->log();
    EXPECT_EQ(frames[0].header.title, "Screen");
    const double shrink = std::min(2576.0 / std::max(width, height), 1.0);
    EXPECT_EQ(frames[0].header.width, static_cast<std::int64_t>(width * shrink));
    EXPECT_EQ(frames[0].header.height, static_cast<std::int64_t>(height * shrink));
    EXPECT_EQ(frames[0].header.byteCount, static_cast<std::int64_t>(frames[0].payload.size()));
    EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.begin() + 4), "\x89PNG");

    frames = stillFrames(*host, 1000);
    ASSERT_EQ(frames.size(), 1u) << host->log();
    EXPECT_EQ(frames[0].header.width, 1000);
    EXPECT_EQ(frames[0].header.height, static_cast<std::int64_t>(height * (1000.0 / width)));
}

// Whether `window` comes to be hidden (`hidden`) or shown within a few seconds.
bool becomes(const std::string& display, Window window, bool hidden) {
    auto connection = X11Connection::open(display);
    for (int attempt = 0; connection && attempt < 100; ++attempt) {
        bool now = !hidden;
        connection->use([&](Display* d) { now = X11ClientWindows::isHidden(d, window); });
        if (now == hidden) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The still is the window's own pixels at its size, titled with the app's name; an app whose
// only window is tiny has nothing to photograph.
TEST(QuibHost, PhotographsAnAppsWindowAndRefusesAnAppWithOnlyATinyOne) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    TempHome home;
    testing::installGreenTerm(home, "quibstill-green", "Green Term", "QuibStillGreen", "60x20");
    testing::installGreenTerm(home, "quibstill-tiny", "Tiny Term", "QuibStillTiny", "1x1");
    auto green = testing::startTerm(display, "QuibStillGreen", "60x20", "Green Term Window", home.root() / "green.log");
    auto tiny = testing::startTerm(display, "QuibStillTiny", "1x1", "Tiny Term Window", home.root() / "tiny.log");
    ASSERT_TRUE(green && tiny);
    const auto window = testing::windowOfClass(display, "QuibStillGreen");
    ASSERT_TRUE(window && testing::windowOfClass(display, "QuibStillTiny"));
    std::optional<Rect> frame;
    X11Connection::open(display)->use([&](Display* d) { frame = X11ClientWindows::frame(d, *window); });
    ASSERT_TRUE(frame);
    testing::saveTargetsBeforeStart(home, {testing::appTarget("G", "Green Term", "quibstill-green"),
                                           testing::appTarget("S", "Tiny Term", "quibstill-tiny")});
    auto [host, ada] = testing::startWithApprovedPhone(home, display);
    ASSERT_TRUE(ada.phone);

    auto frames = stillFrames(*host, std::nullopt, "G");
    ASSERT_EQ(frames.size(), 1u) << host->log();
    EXPECT_EQ(frames[0].header.title, "Green Term");
    EXPECT_EQ(frames[0].header.width, static_cast<std::int64_t>(frame->width));
    EXPECT_EQ(frames[0].header.height, static_cast<std::int64_t>(frame->height));
    const auto picture = testing::decodePng(frames[0].payload);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, frames[0].header.width);
    const auto [r, g, b] = picture->at(picture->width / 2, picture->height / 2);
    EXPECT_LE(r, 8);
    EXPECT_NEAR(g, 0xc0, 8);
    EXPECT_LE(b, 8);

    const auto refused = stillReply(*host, std::nullopt, "S");
    EXPECT_NE(refused.find("Couldn't find a window for Tiny Term"), std::string::npos) << host->log();
}

// Focusing an iconified window is refused with its title; opening it brings it back.
TEST(QuibHost, OpensAnIconifiedWindowThatItWouldNotFocus) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    TempHome home;
    testing::installGreenTerm(home, "quibstill-green", "Green Term", "QuibStillGreen", "60x20");
    auto green = testing::startTerm(display, "QuibStillGreen", "60x20", "Green Term Window", home.root() / "green.log");
    ASSERT_TRUE(green);
    const auto window = testing::windowOfClass(display, "QuibStillGreen");
    ASSERT_TRUE(window);
    X11Connection::open(display)->use([&](Display* d) {
        XIconifyWindow(d, *window, DefaultScreen(d));
        XSync(d, False);
    });
    ASSERT_TRUE(becomes(display, *window, true));
    testing::saveTargetsBeforeStart(home, {testing::appTarget("G", "Green Term", "quibstill-green")});
    auto [host, ada] = testing::startWithApprovedPhone(home, display);
    ASSERT_TRUE(ada.phone);
    auto& phone = *ada.phone;

    const std::string id = std::to_string(*window);
    ASSERT_TRUE(phone.sendLine(R"({"focusWindow":{"targetID":"G","windowID":)" + id + "}}"));
    EXPECT_EQ(testing::nextToastOrError(phone), "error: " + WindowRoster::minimisedText("Green Term Window"));
    ASSERT_TRUE(phone.sendLine(R"({"openWindow":{"targetID":"G","windowID":)" + id + "}}"));
    EXPECT_EQ(testing::nextToastOrError(phone), "toast: Opened Green Term Window") << host->log();
    EXPECT_TRUE(becomes(display, *window, false));
}

}  // namespace
}  // namespace quib
