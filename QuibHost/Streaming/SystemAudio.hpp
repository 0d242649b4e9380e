#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/AudioCapture.hpp"
#include "Platform/PcmFormat.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

// Records what the computer plays and hands it, buffer by buffer with its capture time, to its
// owner; what a listener should hear about instead goes to the owner as a short text. While
// capture is wanted and no stream runs, a watchdog opens one every 2 s, so a stream the system
// stopped, or one that failed to open, comes back on its own.
//
// start() and stop() may be called from any thread. Buffers and watchdog firings run on the
// audio queue; openings run one at a time on a worker of their own.
class SystemAudio : public std::enable_shared_from_this<SystemAudio> {
public:
    // `buffer` is valid only during the call; `captureTime` is the host uptime in nanoseconds
    // when it was handled.
    using BufferHandler = std::function<void(const PcmBuffer& buffer, std::uint64_t captureTime)>;
    using StateHandler = std::function<void(const std::string& text)>;

    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.audio";
    static constexpr Duration watchdogInterval = std::chrono::seconds(2);
    static constexpr std::string_view grantText = ScreenAccess::grantText;
    static constexpr std::string_view nothingToCaptureText = "No display to capture audio from";
    static constexpr std::string_view captureFailedText =
        said<"Couldn't capture ", HostWords::thisComputer, "'s audio: ">;

    struct Environment {
        std::shared_ptr<AudioCapture> capture;
        std::shared_ptr<ScreenAccess> screenAccess;
        std::shared_ptr<Clock> clock;
    };

    static std::shared_ptr<SystemAudio> make(Environment environment, BufferHandler onBuffer, StateHandler onState);
    ~SystemAudio();
    SystemAudio(const SystemAudio&) = delete;
    SystemAudio& operator=(const SystemAudio&) = delete;

    // Makes capture wanted and opens a stream; nothing more while capture is already wanted.
    // Without the capture's permission, asks for Screen Recording once per run, reports
    // grantText and leaves capture unwanted, so that a later start() checks again.
    void start();
    // Makes capture unwanted, stops the watchdog and stops the running stream in the background.
    void stop();

    // Where buffers and the watchdog run, and where openings run (for tests that wait on them).
    SerialQueue& queue() { return *queue_; }
    SerialQueue& openings() { return *openings_; }

private:
    struct Passkey {};

public:
    SystemAudio(Passkey, Environment environment, BufferHandler onBuffer, StateHandler onState);

private:
    void openStream();
    void finishOpening(std::uint64_t attempt, AudioCapture::Opening opening);
    void keepStream(std::uint64_t attempt, std::shared_ptr<AudioCapture::Stream> stream);
    void handleBuffer(std::uint64_t attempt, const PcmBuffer& buffer);
    void handleStop(std::uint64_t attempt, const std::string& reason);
    void startWatchdog();
    void scheduleWatchdog(MonoTime deadline, std::uint64_t generation) REQUIRES(lock_);
    void watchdogFired(MonoTime deadline, std::uint64_t generation);
    void report(std::string_view text) const;

    const Environment environment_;
    const BufferHandler onBuffer_;
    const StateHandler onState_;
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<SerialQueue> openings_;

    Mutex lock_;
    // Under lock_:
    std::shared_ptr<AudioCapture::Stream> stream_ GUARDED_BY(lock_);  // set only once its capture has started
    std::uint64_t streamAttempt_ GUARDED_BY(lock_) = 0;               // the opening that made stream_
    bool wantsStream_ GUARDED_BY(lock_) = false;
    bool isOpening_ GUARDED_BY(lock_) = false;
    std::uint64_t attempts_ GUARDED_BY(lock_) = 0;
    std::uint64_t stoppedEarly_ GUARDED_BY(lock_) = 0;  // an opening whose stream ended before it was kept
    Cancellable watchdog_ GUARDED_BY(lock_);
    std::uint64_t watchdogGeneration_ GUARDED_BY(lock_) = 0;

    std::optional<PcmFormat> format_;  // on the audio queue only
};

}  // namespace quib
