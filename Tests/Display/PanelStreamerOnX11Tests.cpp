// The panel streamer behind a real connection server, over loopback TLS, showing a window of
// the test's own on the shared test display as H.264 that libavcodec decodes.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/ServerSettings.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestHost.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"
// Last: Xlib's macros clash with the names above.
#include "Tests/Display/CaptureFixture.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCode = "KX7P2M";

// libavcodec's H.264 decoder, fed the Annex-B stream a phone rebuilds from each frame.
class Decoder {
public:
    Decoder() : context_(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264))) {
        context_->thread_count = 1;
        opened_ = avcodec_open2(context_.get(), context_->codec, nullptr) == 0;
    }
    // The picture of one frame; none when it did not decode.
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> decode(const ViewFrame& header, const Bytes& payload) {
        Bytes stream;
        const auto append = [&](const std::uint8_t* unit, std::size_t size) {
            stream.insert(stream.end(), {0, 0, 0, 1});
            stream.insert(stream.end(), unit, unit + size);
        };
        for (const auto& set : header.parameterSets.value_or(std::vector<Bytes>{})) append(set.data(), set.size());
        for (std::size_t at = 0; at + 4 <= payload.size();) {
            const std::size_t size = std::size_t(payload[at]) << 24 | std::size_t(payload[at + 1]) << 16 |
                                     std::size_t(payload[at + 2]) << 8 | payload[at + 3];
            if (size > payload.size() - at - 4) break;
            append(payload.data() + at + 4, size);
            at += 4 + size;
        }
        AVPacket* packet = av_packet_alloc();
        packet->data = stream.data();
        packet->size = static_cast<int>(stream.size());
        const bool sent = opened_ && avcodec_send_packet(context_.get(), packet) == 0;
        av_packet_free(&packet);
        std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
        if (!sent || avcodec_receive_frame(context_.get(), frame.get()) != 0) frame.reset();
        return frame;
    }

private:
    struct ContextDelete {
        void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    };
    std::unique_ptr<AVCodecContext, ContextDelete> context_;
    bool opened_ = false;
};

// The colour at the middle of a decoded picture, from full-range BT.709 Y'CbCr.
Colour middleOf(const AVFrame& picture) {
    const int x = picture.width / 2, y = picture.height / 2;
    const double luma = picture.data[0][y * picture.linesize[0] + x];
    const double cb = picture.data[1][(y / 2) * picture.linesize[1] + x / 2] - 128.0;
    const double cr = picture.data[2][(y / 2) * picture.linesize[2] + x / 2] - 128.0;
    const auto channel = [](double value) { return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0))); };
    return {channel(luma + 1.5748 * cr), channel(luma - 0.1873 * cb - 0.4681 * cr), channel(luma + 1.8556 * cb)};
}

// A phone's view channel: its hello, then every frame as a phone reads it.
class ViewChannelReader {
public:
    ViewChannelReader(std::uint16_t port, const std::string& name, std::int64_t width, std::int64_t height) {
        PhoneClient::Options options;
        options.port = port;
        options.pairingCode = kCode;
        auto phone = PhoneClient::connect(options);
        if (!phone) {
            ADD_FAILURE() << phone.error().message;
            return;
        }
        phone_ = std::move(*phone);
        phone_->expectBytes();
        EXPECT_TRUE(phone_->sendLine(R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":")" + name +
                                     R"(","deviceID":"D-V","maxWidth":)" + std::to_string(width) +
                                     R"(,"maxHeight":)" + std::to_string(height) + "}}}"));
    }
    // Reads until `count` video frames came, or `timeout` passed.
    std::vector<ViewFrameReader::Frame> videoFrames(std::size_t count, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (phone_ && video_.size() < count && std::chrono::steady_clock::now() < deadline) {
            auto bytes = phone_->receiveBytes(100ms);
            if (!bytes) continue;
            for (auto& frame : reader_.append(*bytes))
                if (frame.header.kind == ViewFrame::Kind::video) video_.push_back(std::move(frame));
        }
        return video_;
    }

private:
    std::unique_ptr<PhoneClient> phone_;
    ViewFrameReader reader_{ViewChannel::maxFrameBytes};
    std::vector<ViewFrameReader::Frame> video_;
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
        settings->setReal(PanelStreamer::viewerAllowanceKey, allowance.count());
        streamer = PanelStreamer::onDesktop({.main = main, .targets = targets, .clock = clock, .settings = settings},
                                            desktop->services, std::make_shared<ScreenAccess>(desktop->permissions),
                                            std::make_shared<FfmpegVideoSessionFactory>());
        settings->setInteger(ServerSettings::portKey, freePort());
        registry = DeviceRegistry::create(main, settings, clock);
        auto config = TestHost{.main = main,
                               .settings = settings,
                               .clock = clock,
                               .registry = registry,
                               .permissions = std::make_shared<SettablePermissions>(),
                               .dataHome = scratch.path}
                          .serverConfig({.injector = EventInjector::create({.desktop = desktop->services,
                                                                            .permissions = desktop->permissions,
                                                                            .clock = clock,
                                                                            .settings = settings}),
                                         .panelStreamer = streamer});
        config.listenAddress = "127.0.0.1";
        config.machineInfo = "/nonexistent/machine-info";
        server = HostServer::create(std::move(config));
        main->post([&] {
            registry->approve("D-V", "Pad");
            server->start(kCode);
        });
        ASSERT_TRUE(eventually([&] { return server->isListening().value(); }, 5s, [&] { main->runPending(); }));
    }
    void TearDown() override {
        if (server) {
            server->stop();
            main->runPending();
        }
        server.reset();
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
    ViewChannelReader tall(port(), "Tall", 1179, 2556);
    ViewChannelReader small(port(), "Small", 800, 600);

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

    ViewChannelReader view(port(), "Pad", 800, 600);
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
    })) << "the pointer is at " << pointer().x << "," << pointer().y;
}

}  // namespace quib::testing
