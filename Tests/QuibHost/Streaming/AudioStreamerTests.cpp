#include "QuibHost/Streaming/AudioStreamer.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Simulated/SimulatedAudioCapture.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/UptimeClock.hpp"
#include "Tests/Support/FakeAacConverterFactory.hpp"
#include "Tests/Support/FakeListenConnection.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using Outcome = SimulatedAudioCapture::Outcome;

const PcmFormat kStereo48k{48000, 2, PcmFormat::Sample::float32, true};
const std::string kNotAllowed = "This computer is set not to send its audio";
const std::string kNoDisplay = "No display to capture audio from";

bool describes(const AudioFrameReader::Frame& frame) { return frame.header.codec.has_value(); }

// The numbers of the frames that describe the format.
std::vector<std::uint32_t> describing(const FakeListenConnection& connection) {
    std::vector<std::uint32_t> numbers;
    for (const auto& frame : connection.frames())
        if (describes(frame)) numbers.push_back(*frame.header.sequence);
    return numbers;
}

std::vector<std::uint32_t> numbers(std::uint32_t from, std::uint32_t to) {
    std::vector<std::uint32_t> all;
    for (std::uint32_t n = from; n <= to; ++n) all.push_back(n);
    return all;
}

// The streamer over a simulated sound output and converters whose n-th packet is n bytes of n,
// on a clock that moves only when the test says.
class AudioStreamer : public ::testing::Test {
protected:
    AudioStreamer() {
        previousSink_ = Logger::setSink(log);
        streamer = make();
    }
    ~AudioStreamer() override {
        settle();
        streamer.reset();
        Logger::setSink(previousSink_);
    }

    std::shared_ptr<quib::AudioStreamer> make() {
        return quib::AudioStreamer::make({capture, converters, settings, nullptr, clock, &samples});
    }

    // Lets every start, stop, opening and buffer under way finish.
    void settle() {
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(streamer->control().sync([] {}));
            ASSERT_TRUE(streamer->capture().openings().sync([] {}));
            ASSERT_TRUE(streamer->capture().queue().sync([] {}));
        }
    }

    std::shared_ptr<FakeListenConnection> attach(const std::string& name, bool paused = false,
                                                 std::shared_ptr<FakeListenConnection> connection = nullptr) {
        if (!connection) connection = std::make_shared<FakeListenConnection>();
        streamer->attach(connection, ListenHelloPayload::make(23, name, "ID-" + name, paused));
        settle();
        return connection;
    }

    // One buffer of `frames` frames: every 1024 of them make one packet.
    void play(std::int64_t frames = 2048) {
        capture->play(kStereo48k, frames);
        settle();
    }
    // `count` two-packet frames, each sent and completed before the next.
    void playFrames(int count, const std::vector<std::shared_ptr<FakeListenConnection>>& to) {
        for (int n = 0; n < count; ++n) {
            play();
            for (const auto& connection : to) connection->completeAll();
        }
    }
    void advance(Duration by) {
        clock->advance(by);
        settle();
    }

    std::size_t linesWith(std::string_view text) const {
        const auto lines = log->lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<SimulatedAudioCapture> capture = std::make_shared<SimulatedAudioCapture>();
    std::shared_ptr<FakeAacConverterFactory> converters = std::make_shared<FakeAacConverterFactory>();
    Instrumentation samples{clock, settings};
    std::shared_ptr<quib::AudioStreamer> streamer;

private:
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(AudioStreamer, FramesAreNumberedFromOneDescribeEveryFiftyFirstAndRunOnAcrossAStop) {
    auto pad = attach("Pad");
    EXPECT_EQ(capture->liveStreams(), 1);
    EXPECT_EQ(linesWith("listen: Pad attached"), 1u);

    play();
    auto frames = pad->frames();
    ASSERT_EQ(frames.size(), 1u);
    const AudioFrame& first = frames[0].header;
    EXPECT_EQ(first.kind, AudioFrame::Kind::audio);
    EXPECT_EQ(first.sequence, 1u);
    EXPECT_EQ(first.captureTime, UptimeClock::nanos(*clock));
    EXPECT_EQ(first.codec, AudioFrame::Codec::aac);
    EXPECT_EQ(first.sampleRate, 48000);
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.framesPerPacket, 1024);
    EXPECT_EQ(first.packets, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(frames[0].payload, (Bytes{1, 2, 2}));
    EXPECT_FALSE(first.reason);

    pad->completeAll();
    playFrames(51, {pad});
    EXPECT_EQ(pad->sequences(), numbers(1, 52));
    EXPECT_EQ(describing(*pad), (std::vector<std::uint32_t>{1, 52}));
    const AudioFrame plain = pad->frames()[1].header;
    EXPECT_FALSE(plain.sampleRate || plain.channels || plain.framesPerPacket);
    EXPECT_TRUE(plain.packets);

    // Nobody left: capture stops. The next listener's first frame describes, numbered on.
    streamer->detach(pad->identity());
    settle();
    EXPECT_EQ(linesWith("listen: Pad left, nobody listening"), 1u);
    EXPECT_EQ(capture->liveStreams(), 0);
    auto pod = attach("Pod");
    play();
    ASSERT_EQ(pod->frames().size(), 1u);
    EXPECT_EQ(pod->frames()[0].header.sequence, 53u);
    EXPECT_TRUE(describes(pod->frames()[0]));
    EXPECT_EQ(pad->sequences().size(), 52u);
}

TEST_F(AudioStreamer, ASecondListenerMakesTheNextFrameDescribeAndStartsTheCountdownAgain) {
    auto pad = attach("Pad");
    playFrames(10, {pad});
    auto pod = attach("Pod");
    playFrames(52, {pad, pod});
    EXPECT_EQ(describing(*pad), (std::vector<std::uint32_t>{1, 11, 62}));
    EXPECT_EQ(describing(*pod), (std::vector<std::uint32_t>{11, 62}));
    EXPECT_EQ(pod->sequences(), numbers(11, 62));
}

TEST_F(AudioStreamer, PausedListenersKeepCaptureRunningButHearNothingAndRepeatedHellosSwitchThem) {
    auto pad = attach("Pad", true);
    EXPECT_EQ(capture->liveStreams(), 1);
    play();
    play();
    EXPECT_TRUE(pad->frames().empty());
    EXPECT_TRUE(converters->made.empty()) << "sound was encoded that nobody would hear";

    // Unpaused: from the next frame on, which describes.
    attach("Pad", false, pad);
    play();
    ASSERT_EQ(pad->sequences(), std::vector<std::uint32_t>{1});
    EXPECT_TRUE(describes(pad->frames()[0]));

    // Paused again while one frame is in flight and two wait: the waiting ones go.
    play();
    play();
    attach("Pad", true, pad);
    pad->completeAll();
    EXPECT_EQ(pad->sequences(), std::vector<std::uint32_t>{1});
    const int packets = converters->packetsMade;
    play();
    EXPECT_EQ(converters->packetsMade, packets);
    EXPECT_EQ(linesWith("attached"), 1u) << "a repeated hello counts as a new listener";
    EXPECT_EQ(pad->marks().size(), 1u);
}

TEST_F(AudioStreamer, ListeningOffTellsEveryListenerOnceStopsCaptureAndKeepsThemForWhenItComesBack) {
    (void)settings->setBool("quib.listen.allowed", false);
    auto pad = attach("Pad");
    EXPECT_EQ(pad->states(), std::vector<std::string>{kNotAllowed});
    EXPECT_EQ(pad->frames()[0].header.captureTime, UptimeClock::nanos(*clock));
    EXPECT_EQ(capture->openings(), 0);
    EXPECT_EQ(linesWith("attached"), 0u);

    streamer->setAllowed(true);
    settle();
    EXPECT_EQ(capture->liveStreams(), 1);
    auto pod = attach("Pod");
    play();
    EXPECT_EQ(pad->sequences().size(), 1u);
    EXPECT_EQ(pod->sequences().size(), 1u);

    // A frame still waits behind the one in flight: the state overtakes it, and it is dropped.
    play();
    streamer->setAllowed(false);
    settle();
    EXPECT_EQ(settings->boolean("quib.listen.allowed"), false);
    EXPECT_EQ(capture->liveStreams(), 0);
    for (const auto& listener : {pad, pod}) {
        listener->completeAll();
        EXPECT_EQ(listener->states().size(), listener == pad ? 2u : 1u);
        EXPECT_EQ(listener->states().back(), kNotAllowed);
        EXPECT_EQ(listener->frames().back().header.kind, AudioFrame::Kind::state);
        EXPECT_EQ(listener->sequences().size(), 1u);
    }
    capture->play(kStereo48k, 2048);
    settle();
    EXPECT_EQ(pod->frames().size(), 2u);

    streamer->setAllowed(true);
    settle();
    EXPECT_EQ(capture->openings(), 2);
    EXPECT_EQ(capture->liveStreams(), 1);
    play();
    EXPECT_EQ(pod->sequences().size(), 2u);
}

TEST_F(AudioStreamer, ACaptureTextReachesEveryListenerOnceUntilSoundHasFlowedInBetween) {
    auto pad = attach("Pad");
    auto pod = attach("Pod", true);
    const auto outputGoes = [&] {
        capture->stopBySystem("gone");
        capture->setOutcome(Outcome::nothingToCapture);
        settle();
        advance(SystemAudio::watchdogInterval);
    };
    outputGoes();
    EXPECT_EQ(pad->states(), std::vector<std::string>{kNoDisplay});
    EXPECT_EQ(pod->states(), std::vector<std::string>{kNoDisplay}) << "paused listeners are told too";
    advance(SystemAudio::watchdogInterval);
    EXPECT_EQ(capture->openings(), 3);
    EXPECT_EQ(pad->states().size(), 1u);

    capture->setOutcome(Outcome::start);
    advance(SystemAudio::watchdogInterval);
    play();
    EXPECT_EQ(pad->sequences().size(), 1u);
    outputGoes();
    EXPECT_EQ(pad->states(), (std::vector<std::string>{kNoDisplay, kNoDisplay}));
    EXPECT_EQ(pod->states(), (std::vector<std::string>{kNoDisplay, kNoDisplay}));
}

TEST_F(AudioStreamer, AFailedSendDetachesOnlyItsListenerAndDetachingAStrangerDoesNothing) {
    auto pad = attach("Pad");
    auto pod = attach("Pod");
    play();
    pad->failNext();
    pod->completeAll();
    play();
    EXPECT_EQ(pad->sequences(), std::vector<std::uint32_t>{1});
    EXPECT_EQ(pod->sequences(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(capture->liveStreams(), 1);
    EXPECT_EQ(linesWith("left"), 0u);

    const auto lines = log->lines().size();
    FakeListenConnection stranger;
    streamer->detach(pad->identity());
    streamer->detach(stranger.identity());
    settle();
    EXPECT_EQ(log->lines().size(), lines);
    EXPECT_EQ(capture->liveStreams(), 1);
    pod->completeAll();
    play();
    EXPECT_EQ(pod->sequences().size(), 3u);
}

// Frames 2 and 3 are dropped to make room for 5 and 6 while frame 1 is in flight.
TEST_F(AudioStreamer, AListenerThatFallsBehindLosesItsOldestFramesSaidOnlyWhileSampling) {
    auto pad = attach("Pad");
    auto pod = attach("Pod");
    for (int n = 0; n < 6; ++n) play();
    pad->completeAll();
    pod->completeAll();
    EXPECT_EQ(pad->sequences(), (std::vector<std::uint32_t>{1, 4, 5, 6}));
    EXPECT_EQ(pod->sequences(), (std::vector<std::uint32_t>{1, 4, 5, 6}));
    EXPECT_EQ(linesWith("too old"), 0u);

    samples.setEnabled(true);
    for (int n = 0; n < 6; ++n) play();
    pad->completeAll();
    pod->completeAll();
    EXPECT_EQ(pad->sequences(), (std::vector<std::uint32_t>{1, 4, 5, 6, 7, 10, 11, 12}));
    EXPECT_EQ(linesWith("listen: 2 frame(s) too old to send"), 2u);
}

// Three-packet frames last 64 ms: two of them wait at most.
TEST_F(AudioStreamer, AFrameTakesEveryPendingPacketFromTheFirstBuffersTimeAndLastsAsLong) {
    auto pad = attach("Pad");
    const auto began = UptimeClock::nanos(*clock);
    play(1024);
    EXPECT_TRUE(pad->frames().empty());
    clock->advance(21ms);
    play(2048);
    ASSERT_EQ(pad->frames().size(), 1u);
    EXPECT_EQ(pad->frames()[0].header.packets, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(pad->frames()[0].payload, (Bytes{1, 2, 2, 3, 3, 3}));
    EXPECT_EQ(pad->frames()[0].header.captureTime, began);

    for (int n = 0; n < 4; ++n) play(3072);
    pad->completeAll();
    EXPECT_EQ(pad->sequences(), (std::vector<std::uint32_t>{1, 4, 5}));
}

TEST_F(AudioStreamer, EachNewListenChannelLeavesAboutFiftyMillisecondsOfSoundUnsent) {
    EXPECT_EQ(quib::AudioStreamer::notSentLowWater(32000), 1024u);
    EXPECT_EQ(quib::AudioStreamer::notSentLowWater(96000), 1024u);
    EXPECT_EQ(quib::AudioStreamer::notSentLowWater(320000), 2000u);
    auto pad = attach("Pad");
    attach("Pad", true, pad);
    EXPECT_EQ(pad->marks(), std::vector<std::size_t>{1024});

    (void)settings->setInteger("quib.listenBitrate", 320000);
    streamer = make();
    EXPECT_EQ(attach("Pod")->marks(), std::vector<std::size_t>{2000});
}

}  // namespace
}  // namespace quib::testing
