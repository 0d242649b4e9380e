#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Streaming/WindowCapture.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"

namespace quib::streamingtests {

using namespace std::chrono_literals;
using Status = WindowStream::FrameStatus;

// A window capture on a simulated desktop with screen recording granted, the editor frontmost
// with one 1000 × 700-point window at a scale of 2, time on a fake clock, and both of the
// capture's queues in the test's hands so that it can wait for them.
class WindowCaptureFixture : public ::testing::Test {
public:
    struct State {
        std::string text;
        bool canOpen = false;
        bool operator==(const State&) const = default;
    };

protected:
    static constexpr const char* editorID = "org.example.editor";
    static constexpr const char* mailID = "org.example.mail";

    struct Frame {
        const PixelBuffer* picture = nullptr;
        MonoTime time{};
        Rect crop;
        std::int64_t generation = 0;
    };
    WindowCaptureFixture() {
        previousSink_ = Logger::setSink(log);
        desktop->setScreenRecordingGranted(true);
        desktop->start(editorID);
        desktop->nameApp(editorID, "Editor");
        desktop->start(mailID);
        desktop->nameApp(mailID, "Mail");
        desktop->focus(editorID);
        openWindow(editorID, 1, "notes", {100, 200, 1000, 700});
    }
    ~WindowCaptureFixture() override {
        desktop->releaseWindowReads();
        if (capture) capture->stop();
        settle();
        capture.reset();
        Logger::setSink(previousSink_);
    }

    void openWindow(const std::string& app, std::uint32_t id, const std::string& title, Rect frame, bool active = false,
                    bool onScreen = true) {
        SimulatedDesktop::Window window{id, title, frame};
        window.active = active;
        window.onScreen = onScreen;
        desktop->openWindow(app, window);
    }

    std::shared_ptr<WindowCapture> make(std::function<double()> maxEncodedSide = [] { return 2560.0; }) {
        WindowCapture::Config config;
        config.desktop = desktop->services();
        config.screenAccess = access;
        config.clock = clock;
        config.settings = settings;
        config.instrumentation = &instrumentation;
        config.maxEncodedSide = std::move(maxEncodedSide);
        config.queue = queue;
        config.passes = passes;
        config.onFrame = [this](std::shared_ptr<const PixelBuffer> picture, MonoTime time, const Rect& crop,
                                std::int64_t generation) {
            std::lock_guard lock(mutex_);
            frames_.push_back({picture.get(), time, crop, generation});
        };
        config.onState = [this](const std::string& text, bool canOpen) {
            std::lock_guard lock(mutex_);
            states_.push_back({text, canOpen});
        };
        capture = WindowCapture::create(std::move(config));
        return capture;
    }

    // Starts following with the viewers' initial size.
    void start(std::optional<std::string> app, std::optional<std::uint32_t> pinned = std::nullopt,
               Rect crop = WindowCapture::wholeWindow, std::int64_t width = 1179, std::int64_t height = 2556) {
        if (!capture) make();
        capture->start(std::move(app), pinned, width, height, crop);
        settle();
    }

    // Waits until a pass posted so far, and what it handed to the capture queue, are done.
    void settle() {
        ASSERT_TRUE(queue->sync([] {}));
        ASSERT_TRUE(passes->sync([] {}));
        ASSERT_TRUE(queue->sync([] {}));
    }
    // One watchdog period, and the pass it runs.
    void tick() {
        clock->advance(WindowCapture::watchdogPeriod);
        settle();
    }
    // Hands one sample of the stream to the capture and waits for it to be handled.
    std::shared_ptr<const PixelBuffer> deliver(const std::shared_ptr<SimulatedWindowStream>& stream,
                                               std::int64_t status = Status::complete, bool withPicture = true) {
        auto picture = stream->deliver(status, withPicture);
        EXPECT_TRUE(queue->sync([] {}));
        return picture;
    }

    std::shared_ptr<SimulatedWindowStream> lastStream() const {
        const auto streams = desktop->windowStreams();
        return streams.empty() ? nullptr : streams.back();
    }
    std::vector<Frame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<State> states() const {
        std::lock_guard lock(mutex_);
        return states_;
    }
    void forgetStates() {
        std::lock_guard lock(mutex_);
        states_.clear();
    }
    std::size_t logCount(std::string_view text) const {
        const auto lines = log->lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    Instrumentation instrumentation{clock, settings};
    std::shared_ptr<ScreenAccess> access = std::make_shared<ScreenAccess>(desktop);
    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("test.capture", clock);
    std::shared_ptr<SerialQueue> passes = std::make_shared<SerialQueue>("test.capture.resolve", clock);
    std::shared_ptr<WindowCapture> capture;

private:
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    std::vector<State> states_;
    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace quib::streamingtests
