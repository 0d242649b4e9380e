// The real quib-host photographing the shared test display for a phone's still channel.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Shared/StillChannel.hpp"
#include "Shared/StillFrame.hpp"
#include "Tests/Display/TestDisplay.hpp"
#include "Tests/Integration/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

// The frames a still channel sends before the host closes it.
std::vector<StillFrameReader::Frame> stillFrames(const testing::HostProcess& host, std::optional<std::int64_t> maxLongEdge) {
    auto channel = testing::connectPhone(testing::phoneOptions(host, host.pairingCode()));
    if (!channel) return {};
    channel->expectBytes();
    Json hello{{"deviceName", testing::adasPhone.name}, {"deviceID", testing::adasPhone.deviceID}, {"targetID", "T1"}};
    if (maxLongEdge) hello["maxLongEdge"] = *maxLongEdge;
    EXPECT_TRUE(channel->sendLine(Json{{"stillHello", {{"_0", hello}}}}.dump()));
    StillFrameReader reader(StillChannel::maxStillBytes);
    std::vector<StillFrameReader::Frame> frames;
    for (;;) {
        const auto bytes = channel->receiveBytes(10s);
        if (!bytes) break;
        for (auto& frame : reader.append(*bytes)) frames.push_back(std::move(frame));
    }
    return frames;
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

}  // namespace
}  // namespace quib
