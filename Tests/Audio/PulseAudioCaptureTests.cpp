#include "Platform/Linux/Media/PulseAudioCapture.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "Platform/Headless/HeadlessPermissions.hpp"
#include "Platform/Linux/Media/PulseAudioStream.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/SystemAudio.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/Audio/PrivatePulseServer.hpp"
#include "Tests/Audio/PulseTools.hpp"
#include "Tests/Audio/Recording.hpp"
#include "Tests/Audio/TonePlayer.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

// Runs `undo` when the scope ends, however it ends.
class Undo {
public:
    explicit Undo(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~Undo() { undo_(); }
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;

private:
    std::function<void()> undo_;
};

// Sets an environment variable for the scope.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentVariable() {
        if (previous_) ::setenv(name_, previous_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

class PulseAudioCapture : public ::testing::Test {
protected:
    PulseAudioCapture() { previousSink_ = Logger::setSink(log); }
    ~PulseAudioCapture() override {
        if (audio) audio->stop();
        audio.reset();
        Logger::setSink(previousSink_);
    }

    // Capture over the backend, with a watchdog that fires when the test moves the clock.
    void startCapture() {
        audio = SystemAudio::make(
            {capture, std::make_shared<ScreenAccess>(std::make_shared<HeadlessPermissions>()), clock},
            [recorded = recording](const PcmBuffer& buffer, std::uint64_t) { recorded->add(buffer); },
            [recorded = recording](const std::string& text) { recorded->addState(text); });
        audio->start();
    }

    // One opening of the backend itself, its buffers going to the recording.
    AudioCapture::Opening openDirectly() {
        std::promise<AudioCapture::Opening> opened;
        AudioCapture::Handlers handlers{[recorded = recording](const PcmBuffer& buffer) { recorded->add(buffer); },
                                        [](const std::string&) {}};
        capture->open(queue, std::move(handlers),
                      [&](AudioCapture::Opening opening) { opened.set_value(std::move(opening)); });
        return opened.get_future().get();
    }

    bool logged(std::string_view text, std::chrono::milliseconds timeout = 3s) const {
        for (auto deadline = std::chrono::steady_clock::now() + timeout; !log->contains(text);) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    std::size_t statesSaying(std::string_view text) {
        std::size_t count = 0;
        recording->inspect([&](const Recording& r) { count = std::count(r.states().begin(), r.states().end(), text); });
        return count;
    }

    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<quib::PulseAudioCapture> capture = std::make_shared<quib::PulseAudioCapture>();
    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("test.audio");
    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    std::shared_ptr<SystemAudio> audio;

private:
    std::shared_ptr<LogSink> previousSink_;
};

#define SKIP_WITHOUT_SERVER() \
    if (!PulseTools::hasServer()) GTEST_SKIP() << "needs the test run's sound server in PULSE_SERVER"

// A tone played into the default sink comes back from the monitor the server names for it, as
// 48 kHz stereo float in buffers of at most 1024 frames.
TEST_F(PulseAudioCapture, RecordsTheDefaultSinksMonitor) {
    SKIP_WITHOUT_SERVER();
    TonePlayer player;
    auto opening = openDirectly();
    ASSERT_EQ(opening.status, AudioCapture::Opening::Status::running) << opening.reason;
    const auto stream = std::dynamic_pointer_cast<PulseAudioStream>(opening.stream);
    ASSERT_TRUE(stream);
    const std::string monitor = PulseTools::monitorOf(PulseTools::defaultSink());
    ASSERT_FALSE(monitor.empty());
    EXPECT_EQ(stream->source(), monitor);

    // An idle sink's monitor may take two seconds to start.
    EXPECT_TRUE(recording->waitFor(4s, [](const Recording& r) { return r.audibleSamples() >= 24000; }))
        << player.failure();
    stream->stop();
    ASSERT_TRUE(queue->sync([] {}));
    recording->inspect([](const Recording& r) {
        EXPECT_FALSE(r.sawOtherFormat());
        EXPECT_FALSE(r.sawLongBuffer());
        const auto frequency = r.frequencyOfLast(24000);
        ASSERT_TRUE(frequency);
        EXPECT_NEAR(*frequency, TonePlayer::frequency, 5.0);
    });
}

// When the default sink changes, the stream stops, and the watchdog's next opening records the
// new default's monitor.
TEST_F(PulseAudioCapture, FollowsTheDefaultSinkWhenItChanges) {
    SKIP_WITHOUT_SERVER();
    const std::string previous = PulseTools::defaultSink();
    ASSERT_FALSE(previous.empty());
    const auto module =
        PulseTools::pactl({"load-module", "module-null-sink", "sink_name=quibsecond", "rate=48000", "channels=2"});
    ASSERT_TRUE(module);
    const Undo restore([&] {
        (void)PulseTools::pactl({"set-default-sink", previous});
        (void)PulseTools::pactl({"unload-module", *module});
    });

    startCapture();
    ASSERT_TRUE(logged("listen: capturing this computer's output at 48000Hz"));
    TonePlayer player("quibsecond");
    ASSERT_TRUE(PulseTools::pactl({"set-default-sink", "quibsecond"}));
    ASSERT_TRUE(logged("listen: stream stopped the default output changed"));

    clock->advance(SystemAudio::watchdogInterval);
    EXPECT_TRUE(recording->waitFor(3s, [](const Recording& r) { return r.audibleSamples() >= 4800; }))
        << player.failure();
    EXPECT_TRUE(recording->waitFor(2s, [](const Recording& r) { return r.audibleSamples() >= 24000; }));
    recording->inspect([](const Recording& r) {
        const auto frequency = r.frequencyOfLast(19200);
        ASSERT_TRUE(frequency);
        EXPECT_NEAR(*frequency, TonePlayer::frequency, 5.0);
    });
}

// Where nothing listens the connection fails at once, nothing starts a server in its place, and
// each opening says there is nothing to capture.
TEST_F(PulseAudioCapture, FindsNothingToCaptureWhereNoServerListens) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quib-nopulse-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    const Undo remove([&] { std::filesystem::remove_all(folder); });
    const EnvironmentVariable server("PULSE_SERVER", "unix:" + (folder / "native").string());
    const EnvironmentVariable runtime("XDG_RUNTIME_DIR", folder.string());
    const EnvironmentVariable home("HOME", folder.string());

    const auto opening = openDirectly();
    EXPECT_EQ(opening.status, AudioCapture::Opening::Status::nothingToCapture);
    EXPECT_EQ(opening.reason, "Connection refused");

    startCapture();
    const std::string nothing(SystemAudio::nothingToCaptureText);
    EXPECT_TRUE(recording->waitFor(3s, [&](const Recording& r) { return r.states().size() == 1; }));
    clock->advance(SystemAudio::watchdogInterval);
    EXPECT_TRUE(recording->waitFor(3s, [&](const Recording& r) { return r.states().size() == 2; }));
    EXPECT_EQ(statesSaying(nothing), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "something made a server or its files";
}

// A server that dies stops the stream; the retries then find nothing to capture.
TEST_F(PulseAudioCapture, ReportsAServerThatDies) {
    const auto server = PrivatePulseServer::start();
    ASSERT_TRUE(server);
    const EnvironmentVariable address("PULSE_SERVER", server->address());
    startCapture();
    ASSERT_TRUE(logged("listen: capturing this computer's output at 48000Hz"));
    ASSERT_TRUE(recording->waitFor(3s, [](const Recording& r) { return r.buffers() > 0; }));

    server->kill();
    EXPECT_TRUE(logged("listen: stream stopped Connection terminated"));
    for (std::size_t retry = 1; retry <= 2; ++retry) {
        clock->advance(SystemAudio::watchdogInterval);
        EXPECT_TRUE(recording->waitFor(3s, [&](const Recording& r) { return r.states().size() == retry; }));
    }
    EXPECT_EQ(statesSaying(SystemAudio::nothingToCaptureText), 2u);
}

}  // namespace
}  // namespace quib::testing
