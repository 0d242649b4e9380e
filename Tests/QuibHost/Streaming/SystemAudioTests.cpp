#include "QuibHost/Streaming/SystemAudio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Platform/Simulated/SimulatedAudioCapture.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/UptimeClock.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using Outcome = SimulatedAudioCapture::Outcome;

const PcmFormat kStereo48k{48000, 2, PcmFormat::Sample::float32, true};
const PcmFormat kMono44k{44100, 1, PcmFormat::Sample::int16, true};

// What capture handed to its owner.
struct Received {
    std::mutex mutex;
    std::vector<std::pair<PcmFormat, std::uint64_t>> buffers;  // format, capture time
    std::vector<std::string> states;
};

class SystemAudio : public ::testing::Test {
protected:
    SystemAudio() {
        previousSink_ = Logger::setSink(log);
        permissions->setScreenRecordingGranted(false);
        audio = quib::SystemAudio::make(
            {capture, std::make_shared<ScreenAccess>(permissions), clock},
            [received = received](const PcmBuffer& buffer, std::uint64_t captureTime) {
                std::lock_guard lock(received->mutex);
                received->buffers.emplace_back(buffer.format, captureTime);
            },
            [received = received](const std::string& text) {
                std::lock_guard lock(received->mutex);
                received->states.push_back(text);
            });
    }
    ~SystemAudio() override {
        audio->stop();
        settle();
        audio.reset();
        Logger::setSink(previousSink_);
    }

    // Lets every opening, buffer and stop already under way finish.
    void settle() {
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(audio->openings().sync([] {}));
            ASSERT_TRUE(audio->queue().sync([] {}));
        }
    }
    void advance(Duration by) {
        clock->advance(by);
        settle();
    }
    void play(const PcmFormat& format = kStereo48k) {
        capture->play(format, 480);
        settle();
    }
    std::size_t linesWith(std::string_view text) const {
        const auto lines = log->lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }
    std::size_t buffers() {
        std::lock_guard lock(received->mutex);
        return received->buffers.size();
    }
    std::vector<std::string> states() {
        std::lock_guard lock(received->mutex);
        return received->states;
    }

    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SimulatedAudioCapture> capture = std::make_shared<SimulatedAudioCapture>();
    std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
    std::shared_ptr<Received> received = std::make_shared<Received>();
    std::shared_ptr<quib::SystemAudio> audio;

private:
    std::shared_ptr<LogSink> previousSink_;
};

const std::string kCapturing = "listen: capturing this computer's output at 48000Hz";

TEST_F(SystemAudio, StartingTwiceOpensOneStreamWithOneWatchdog) {
    audio->start();
    audio->start();
    settle();
    EXPECT_EQ(capture->openings(), 1);
    EXPECT_EQ(capture->liveStreams(), 1);
    EXPECT_EQ(clock->pendingTimers(), 1u);
    EXPECT_EQ(linesWith(kCapturing), 1u);

    // A running stream is left alone by the watchdog; stop() ends it and the watchdog, quietly.
    advance(10s);
    EXPECT_EQ(capture->openings(), 1);
    audio->stop();
    settle();
    EXPECT_EQ(capture->liveStreams(), 0);
    advance(10s);
    EXPECT_EQ(capture->openings(), 1);
    EXPECT_TRUE(states().empty());
}

// Without the capture's own permission, Screen Recording is asked for once per run; each start()
// says what to grant and leaves capture unwanted, so the next one checks again.
TEST_F(SystemAudio, WithoutPermissionAsksOnceAndChecksAgainAtEachStart) {
    capture->setPermitted(false);
    audio->start();
    audio->start();
    settle();
    EXPECT_EQ(states(), (std::vector<std::string>{std::string(quib::SystemAudio::grantText),
                                                  std::string(quib::SystemAudio::grantText)}));
    EXPECT_EQ(linesWith("view: asking for window capture"), 1u);
    EXPECT_EQ(capture->openings(), 0);
    EXPECT_EQ(clock->pendingTimers(), 0u);

    capture->setPermitted(true);
    audio->start();
    settle();
    EXPECT_EQ(capture->openings(), 1);
    EXPECT_EQ(linesWith(kCapturing), 1u);
}

// A stream whose start completes after stop() is stopped and never kept.
TEST_F(SystemAudio, StopDuringAnOpeningStopsTheNewStream) {
    capture->setOutcome(Outcome::hold);
    audio->start();
    settle();
    audio->stop();
    ASSERT_TRUE(capture->releaseHeld());
    settle();
    EXPECT_EQ(capture->stopsAsked(), 1);
    EXPECT_EQ(capture->liveStreams(), 0);
    EXPECT_EQ(linesWith("listen: capturing"), 0u);
    play();
    EXPECT_EQ(buffers(), 0u);
}

// The watchdog fires every 2 s from start(); a stream the system stopped is opened again at the
// next firing, not before.
TEST_F(SystemAudio, ReopensAStreamTheSystemStoppedAtTheNextFiring) {
    audio->start();
    advance(2500ms);
    capture->stopBySystem("The device was unplugged");
    settle();
    EXPECT_EQ(linesWith("listen: stream stopped The device was unplugged"), 1u);
    play();
    EXPECT_EQ(buffers(), 0u);

    advance(1400ms);
    EXPECT_EQ(capture->openings(), 1);
    advance(100ms);
    EXPECT_EQ(capture->openings(), 2);
    EXPECT_EQ(linesWith(kCapturing), 2u);
    play();
    EXPECT_EQ(buffers(), 1u);
    EXPECT_TRUE(states().empty());
}

// A stream that ends before its opening could keep it is not kept: the watchdog opens another.
TEST_F(SystemAudio, AStreamEndingBeforeItIsKeptIsReplaced) {
    capture->setOutcome(Outcome::hold);
    audio->start();
    settle();
    capture->stopBySystem("Connection terminated");
    settle();
    capture->setOutcome(Outcome::start);
    ASSERT_TRUE(capture->releaseHeld());
    settle();
    EXPECT_EQ(linesWith("listen: capturing"), 0u);
    advance(2s);
    EXPECT_EQ(capture->openings(), 2);
    EXPECT_EQ(capture->liveStreams(), 1);
    EXPECT_EQ(linesWith(kCapturing), 1u);
}

// Failed openings report their text again at every retry.
TEST_F(SystemAudio, ReportsFailedOpeningsAtEachRetry) {
    capture->setOutcome(Outcome::nothingToCapture);
    audio->start();
    advance(2s);
    const std::string nothing(quib::SystemAudio::nothingToCaptureText);
    EXPECT_EQ(states(), (std::vector<std::string>{nothing, nothing}));

    capture->setOutcome(Outcome::fail, "Device or resource busy");
    advance(2s);
    EXPECT_EQ(linesWith("listen: capture failed Device or resource busy"), 1u);
    EXPECT_EQ(states().back(), "Couldn't capture this computer's audio: Device or resource busy");

    capture->setOutcome(Outcome::start);
    advance(2s);
    EXPECT_EQ(capture->openings(), 4);
    EXPECT_EQ(linesWith(kCapturing), 1u);
    EXPECT_EQ(states().size(), 3u);
}

// Buffers reach the owner with the clock's time when they are handled, from the moment the
// stream is kept; each new format is logged once.
TEST_F(SystemAudio, HandsOnBuffersOfTheKeptStreamAndLogsEachFormat) {
    capture->setOutcome(Outcome::hold);
    audio->start();
    settle();
    play();
    EXPECT_EQ(buffers(), 0u) << "a buffer before the stream is kept is dropped";
    ASSERT_TRUE(capture->releaseHeld());
    settle();

    play();
    clock->advance(10ms);
    play();
    play(kMono44k);
    play(kMono44k);
    play();
    EXPECT_EQ(linesWith("listen: 48000Hz 2ch from the simulated output"), 2u);
    EXPECT_EQ(linesWith("listen: 44100Hz 1ch from the simulated output"), 1u);
    std::lock_guard lock(received->mutex);
    ASSERT_EQ(received->buffers.size(), 5u);
    EXPECT_EQ(received->buffers[0].second + 10'000'000, received->buffers[1].second);
    EXPECT_EQ(received->buffers[1].second, UptimeClock::nanos(*clock));
    EXPECT_EQ(received->buffers[2].first, kMono44k);
}

}  // namespace
}  // namespace quib::testing
