// The panel streamer behind a real connection server, over loopback TLS, showing a window of
// the test's own on the shared test display as H.264 that libavcodec decodes.

#include <gtest/gtest.h>

#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/TestHost.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"
// Last: Xlib's macros clash with the names above.
#include "Tests/Support/ViewChannelReader.hpp"
#include "Tests/Support/X11/CaptureFixture.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCode = "KX7P2M";

using Decoder = H264Decoder;

Colour middleOf(const AVFrame& picture) {
    const auto [red, green, blue] = H264Decoder::middleOf(picture);
    return {red, green, blue};
}

// A phone's view channel, named `name`, that shows at most `width` × `height`.
PhoneClient::Options phoneOptions(std::uint16_t port) {
    PhoneClient::Options options;
    options.port = port;
    options.pairingCode = kCode;
    return options;
}

struct Viewer : ViewChannelReader {
    Viewer(std::uint16_t port, const std::string& name, std::int64_t width, std::int64_t height)
        : ViewChannelReader(phoneOptions(port), ViewHelloPayload::make(23, name, "D-V", width, height, {0, 0, 1, 1})) {}
};

class PanelStreamerOnX11 : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        if (!control) return;
        previousSink_ = Logger::setSink(log);
        desktop = X11Desktop::open(testDisplayName(), std::make_shared<DesktopEntries>(std::vector{apps.path}));
        ASSERT_TRUE(desktop);
        QuibTarget probe;
        probe.id = "P";
        probe.name = "Probe";
        probe.kind = QuibTarget::Kind::app;
        probe.bundleID = probeApp;
        targets->setSnapshot({{probe}, {}}, "P");
        (void)settings->setReal(PanelStreamer::viewerAllowanceKey, allowance.count());
        streamer = PanelStreamer::onDesktop({.main = main, .targets = targets, .clock = clock, .settings = settings},
                                            desktop->services, std::make_shared<ScreenAccess>(desktop->permissions),
                                            std::make_shared<FfmpegVideoSessionFactory>());
        const auto host = TestHost::onFreePort(main, settings, clock, scratch.path);
        registry = host.registry;
        server = host.loopbackServer({.injector = EventInjector::create({.desktop = desktop->services,
                                                                         .permissions = desktop->permissions,
                                                                         .clock = clock,
                                                                         .settings = settings}),
                                      .panelStreamer = streamer});
        main->post([&] {
            (void)registry->approve("D-V", "Pad");
            server->start(kCode);
        });
        ASSERT_TRUE(eventually([&] { return server->isListening().value(); }, 5s, [&] { main->runPending(); }));
    }
    void TearDown() override {
        stopServer(server, *main);
        streamer.reset();
        main->runPending();
        if (previousSink_) Logger::setSink(previousSink_);
    }
    std::uint16_t port() { return server->inspect().listenerPort.value_or(0); }
    // Where the pointer is on the screen.
    Point pointer() {
        Point at;
        withControl([&](Display* display) {
            Window root = None, child = None;
            int x = 0, y = 0, windowX = 0, windowY = 0;
            unsigned int mask = 0;
            XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
            at = {static_cast<double>(x), static_cast<double>(y)};
        });
        return at;
    }

    const std::chrono::duration<double> allowance{1.5};

    ScratchFolder scratch{"quib-view"};
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<SystemClock> clock = SystemClock::shared();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<FakeTargetStore> targets = std::make_shared<FakeTargetStore>(main);
    std::optional<X11Desktop::Opened> desktop;
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<PanelStreamer> streamer;
    std::shared_ptr<HostServer> server;

private:
    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace

TEST_F(PanelStreamerOnX11, ViewersOfTwoSizesGetTheSameDecodableFramesOfTheWindow) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, green);
    Viewer tall(port(), "Tall", 1179, 2556);
    Viewer small(port(), "Small", 800, 600);

    const auto first = small.videoFrames(1, 8s);
    ASSERT_FALSE(first.empty()) << "no video came";
    const ViewFrame& header = first.front().header;
    EXPECT_EQ(header.codec, ViewFrame::Codec::h264);
    EXPECT_EQ(header.isKeyframe, true);
    EXPECT_TRUE(header.parameterSets);
    EXPECT_EQ(header.title, "Probe");
    ASSERT_TRUE(header.width && header.height);
    EXPECT_LE(*header.width, 800);
    EXPECT_LE(*header.height, 600);

    Decoder decoder;
    const auto picture = decoder.decode(header, first.front().payload);
    ASSERT_TRUE(picture) << "the first frame does not decode";
    EXPECT_EQ(picture->width, *header.width);
    EXPECT_EQ(picture->height, *header.height);
    EXPECT_TRUE(middleOf(*picture).near(green, 12)) << middleOf(*picture);

    // The taller phone watches the same stream, made for the smaller one.
    const auto seen = tall.videoFrames(1, 5s);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().header.width, header.width);
    EXPECT_EQ(seen.back().header.height, header.height);

    // Repainted, the window reaches the phone in its new colour.
    paint(*window, blue);
    bool blueCame = false;
    for (std::size_t wanted = first.size() + 1; wanted < first.size() + 60 && !blueCame; ++wanted) {
        const auto frames = small.videoFrames(wanted, 2s);
        if (frames.size() < wanted) break;
        const auto next = decoder.decode(frames.back().header, frames.back().payload);
        blueCame = next && middleOf(*next).near(blue, 12);
    }
    EXPECT_TRUE(blueCame);
}

}  // namespace quib::testing

namespace quib::testing {

TEST_F(PanelStreamerOnX11, APointAtThePictureLandsOnTheWindowOnlyOnceThePhoneHasSeenIt) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, yellow);
    const auto frame = frameOf(window->window());
    ASSERT_TRUE(frame);
    PhoneClient::Options options;
    options.port = port();
    options.pairingCode = kCode;
    auto phone = PhoneClient::connect(options);
    ASSERT_TRUE(phone);
    ASSERT_TRUE((*phone)->sendHello("D-V", "Pad"));
    warpPointer(1, 1);

    Viewer view(port(), "Pad", 800, 600);
    ASSERT_FALSE(view.videoFrames(1, 8s).empty());
    const auto seenAt = std::chrono::steady_clock::now();
    ASSERT_TRUE((*phone)->sendLine(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"));
    std::this_thread::sleep_for(300ms);
    ASSERT_LT(std::chrono::steady_clock::now() - seenAt, allowance) << "the machine was too slow to tell";
    EXPECT_EQ(pointer(), (Point{1, 1})) << "a point within the allowance is not mapped";

    std::this_thread::sleep_until(seenAt + allowance);
    ASSERT_TRUE((*phone)->sendLine(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"));
    const Point centre{frame->x + frame->width / 2, frame->y + frame->height / 2};
    EXPECT_TRUE(testing::eventually([&] {
        const Point at = pointer();
        return std::abs(at.x - centre.x) <= 1 && std::abs(at.y - centre.y) <= 1;
    })) << "the pointer is at "
        << pointer().x << "," << pointer().y;
}

}  // namespace quib::testing
