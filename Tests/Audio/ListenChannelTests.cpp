// The audio streamer behind a real connection server, over loopback TLS, recording the test
// run's sound server while a tone plays into its default sink.

#include <gtest/gtest.h>

#include <thread>

#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"
#include "Platform/Linux/Media/PulseAudioCapture.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/AudioStreamer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Audio/PulseTools.hpp"
#include "Tests/Audio/TonePlayer.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ListenChannel.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestHost.hpp"
#include "Tests/Support/ToneFrequency.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCode = "KX7P2M";

class AudioStreamerOverTls : public ::testing::Test {
protected:
    AudioStreamerOverTls() {
        previousSink_ = Logger::setSink(log);
        streamer = AudioStreamer::make({.capture = std::make_shared<quib::PulseAudioCapture>(),
                                        .converters = std::make_shared<FfmpegAacConverterFactory>(),
                                        .settings = settings,
                                        .clock = clock});
        const auto host = TestHost::onFreePort(main, settings, clock, scratch.path);
        registry = host.registry;
        server = host.loopbackServer({.audioStreamer = streamer});
    }
    ~AudioStreamerOverTls() override {
        stopServer(server, *main);
        streamer.reset();
        main->runPending();
        Logger::setSink(previousSink_);
    }

    void onMain(const std::function<void()>& work) {
        main->post(work);
        main->runPending();
    }
    bool eventually(const std::function<bool()>& condition) {
        return testing::eventually(condition, 5s, [&] { main->runPending(); });
    }

    std::unique_ptr<ListenChannel> listen(bool paused) {
        PhoneClient::Options options;
        options.port = server->inspect().listenerPort.value_or(0);
        options.pairingCode = kCode;
        return ListenChannel::open(options, ListenHelloPayload::make(23, "Pad", "D-L", paused));
    }

    ScratchFolder scratch{"quib-listen"};
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<SystemClock> clock = SystemClock::shared();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<AudioStreamer> streamer;
    std::shared_ptr<HostServer> server;

private:
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(AudioStreamerOverTls, AnUnpausedListenerHearsTheToneBothHearStatesAndRevokingEndsThem) {
    if (!PulseTools::hasServer()) GTEST_SKIP() << "needs the test run's sound server in PULSE_SERVER";
    TonePlayer player;
    onMain([&] {
        (void)registry->approve("D-L", "Pad");
        server->start(kCode);
    });
    ASSERT_TRUE(eventually([&] { return server->isListening().value(); }));
    auto paused = listen(true);
    auto hearing = listen(false);
    ASSERT_TRUE(paused && hearing);

    // An idle sink's monitor may take two seconds to start; then a second of the tone.
    ASSERT_TRUE(hearing->readUntil([](const auto& frames) { return frames.size() >= 60; }, 8s)) << player.failure();
    const auto frames = hearing->audio();
    ASSERT_EQ(frames.size(), hearing->frames().size()) << "a state frame came while the tone played";
    const AudioFrame& first = frames.front().header;
    EXPECT_EQ(first.sequence, 1u);
    EXPECT_EQ(first.codec, AudioFrame::Codec::aac);
    EXPECT_EQ(first.sampleRate, 48000);
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.framesPerPacket, 1024);
    for (std::size_t n = 1; n < frames.size(); ++n) EXPECT_EQ(frames[n].header.sequence, n + 1);
    AdtsDecoder decoder;
    ListenChannel::decode(frames, decoder);
    EXPECT_EQ(decoder.sampleRate(), 48000);
    EXPECT_EQ(decoder.channels(), 2);
    ASSERT_GE(decoder.left().size(), 24000u);
    const auto frequency = toneFrequency(std::span(decoder.left()).last(24000), 48000);
    ASSERT_TRUE(frequency);
    EXPECT_NEAR(*frequency, TonePlayer::frequency, 5.0);

    // Both are told that listening was switched off.
    streamer->setAllowed(false);
    const auto toldOff = [](const std::vector<ListenChannel::Frame>& all) {
        return !all.empty() && all.back().header.reason == std::string(AudioStreamer::notAllowedText);
    };
    EXPECT_TRUE(hearing->readUntil(toldOff, 3s));
    EXPECT_TRUE(paused->readUntil(toldOff, 3s));
    EXPECT_TRUE(paused->audio().empty());
    EXPECT_EQ(paused->states(), std::vector<std::string>{std::string(AudioStreamer::notAllowedText)});

    onMain([&] { (void)server->revoke("D-L"); });
    EXPECT_TRUE(hearing->waitClosed(5s));
    EXPECT_TRUE(paused->waitClosed(5s));
    EXPECT_TRUE(eventually([&] { return log->contains("listen: Pad left, nobody listening"); }));
}

}  // namespace
}  // namespace quib::testing
