#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/AacConverterFactory.hpp"
#include "Platform/AudioCapture.hpp"
#include "QuibHost/Connection/ListenConnection.hpp"
#include "QuibHost/Streaming/AudioEncoder.hpp"
#include "QuibHost/Streaming/AudioStreamerService.hpp"
#include "QuibHost/Streaming/SystemAudio.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/AudioFrame.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/ListenHelloPayload.hpp"

namespace quib {

class ScreenAccess;

// Serves the computer's sound to every listen channel. It keeps one listener per channel, runs
// capture while a listener is attached and listening is allowed, encodes what capture hands it
// to AAC only while some listener is not paused, packs every two packets into an audio frame
// and hands that frame to each unpaused listener through a queue of its own with one send in
// flight, dropping the oldest waiting frames of a listener that falls behind. State frames tell
// listeners why no sound comes; they go straight to the connection, ahead of waiting frames.
//
// Threads: capture calls in on its audio queue; the control queue starts and stops capture;
// attach, detach and send completions come from the network queue; the allowance is set from
// the main loop. `encodeLock_` may be held while `lock_` is taken, never the reverse, and
// neither is held across a send or a call into capture.
class AudioStreamer final : public AudioStreamerService, public std::enable_shared_from_this<AudioStreamer> {
public:
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.listen";
    // Whether phones may listen; absent, or not a Boolean, reads as allowed.
    static constexpr auto allowedKey = setting<"quib.listen.allowed">;
    static constexpr std::string_view notAllowedText =
        said<capitalised<HostWords::thisComputer>, " is set not to send its audio">;
    // The audio a listener may have waiting behind the frame in flight; the newest frame is
    // always kept.
    static constexpr double maxQueuedSeconds = 0.17;
    // Plain frames between two describe frames.
    static constexpr std::int64_t describeInterval = 50;
    // Unsent bytes a listen channel leaves in the kernel: about this much sound at the encoder's
    // bit rate, and never less than minimumLowWater.
    static constexpr double lowWaterSeconds = 0.05;
    static constexpr std::size_t minimumLowWater = 1024;

    struct Environment {
        std::shared_ptr<AudioCapture> capture = nullptr;
        std::shared_ptr<AacConverterFactory> converters = nullptr;
        std::shared_ptr<Settings> settings = nullptr;
        std::shared_ptr<ScreenAccess> screenAccess = nullptr;  // none: a missing permission is only reported
        std::shared_ptr<Clock> clock = nullptr;                // none: the system clock
        Instrumentation* instrumentation = nullptr;            // none: the shared one
    };

    // Makes capture and the encoder; the bit rate setting is read once, for the low-water mark.
    static std::shared_ptr<AudioStreamer> make(Environment environment);
    ~AudioStreamer() override;
    AudioStreamer(const AudioStreamer&) = delete;
    AudioStreamer& operator=(const AudioStreamer&) = delete;

    // The connection server's calls, on the network queue.
    void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) override;
    void detachListener(const TlsConnection& connection) override;

    // Adds the connection's listener, or updates it for a repeated hello. A new listener's
    // connection gets the low-water mark.
    void attach(const std::shared_ptr<ListenConnection>& connection, const ListenHelloPayload& hello);
    // Removes the connection's listener (the connection stays open); nothing when it has none.
    void detach(const void* connection);

    // The allowance, read afresh at every use.
    bool isAllowed() const;
    // Stores the allowance. Allowed: capture starts again while listeners remain. Not allowed:
    // every listener is told so, and capture stops.
    void setAllowed(bool allowed);

    // max(bit rate / 8 × lowWaterSeconds, minimumLowWater) bytes.
    static std::size_t notSentLowWater(std::int64_t bitrate);
    std::size_t notSentLowWater() const { return lowWater_; }

    // Where capture is started and stopped, and capture itself (for tests that wait on them).
    SerialQueue& control() { return *control_; }
    SystemAudio& capture() { return *capture_; }

private:
    struct Passkey {};

public:
    AudioStreamer(Passkey, Environment environment);

private:
    // One listen channel.
    struct Waiting {
        std::shared_ptr<const Bytes> data;
        double seconds = 0;
    };
    struct Listener {
        std::shared_ptr<ListenConnection> connection;
        std::string name;
        bool isPaused = false;
        std::deque<Waiting> queue;  // oldest first
        double queuedSeconds = 0;   // of the waiting frames, never below 0
        bool isWriting = false;     // a send is in flight
    };
    using ListenerPtr = std::shared_ptr<Listener>;

    struct Frame {
        AudioFrame header;
        Bytes payload;
    };

    void start();
    void encodeAndSend(const PcmBuffer& buffer, std::uint64_t captureTime);
    std::optional<Frame> encodeBuffer(const PcmBuffer& buffer, std::uint64_t captureTime);
    Frame build() REQUIRES(encodeLock_);
    void enqueue(const Frame& frame, const std::vector<ListenerPtr>& to);
    void pump(const ListenerPtr& listener);
    void detachFailed(const ListenerPtr& listener);
    void sendDirectly(const AudioFrame& frame, const std::vector<ListenerPtr>& to);
    void sendState(const std::string& text);
    void restart();
    void stopNow();
    bool isAttached(const ListenerPtr& listener) const REQUIRES(lock_);
    std::vector<ListenerPtr> allListeners();
    AudioFrame stateFrame(std::string_view text) const;

    const Environment environment_;
    Instrumentation& instrumentation_;
    const std::size_t lowWater_;
    std::shared_ptr<SerialQueue> control_;
    std::shared_ptr<SystemAudio> capture_;

    // Held while a frame is handed to a connection, before lock_, so that frames and the state
    // of the switch being turned off reach each connection in the order they were decided.
    Mutex sendOrder_ ACQUIRED_BEFORE(lock_);
    mutable Mutex lock_;
    // Under lock_ (and every listener's fields):
    std::map<const void*, ListenerPtr> listeners_ GUARDED_BY(lock_);
    bool wantsDescribe_ GUARDED_BY(lock_) = false;  // a listener attached since the last frame was built
    std::optional<std::string> lastState_ GUARDED_BY(lock_);

    Mutex encodeLock_ ACQUIRED_BEFORE(lock_);
    // Under encodeLock_:
    AudioEncoder encoder_ GUARDED_BY(encodeLock_);
    std::vector<Bytes> pending_ GUARDED_BY(encodeLock_);   // packets not yet in a frame
    std::uint64_t pendingAt_ GUARDED_BY(encodeLock_) = 0;  // capture time of the buffer that began `pending_`
    std::uint32_t sequence_ GUARDED_BY(encodeLock_) = 0;   // of the last frame built
    std::int64_t untilDescribe_ GUARDED_BY(encodeLock_) = 0;
};

}  // namespace quib
