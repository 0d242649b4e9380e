#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/DesktopServices.hpp"
#include "Platform/Tmux/Tmux.hpp"
#include "Platform/Tmux/TmuxControl.hpp"
#include "Platform/VideoSessionFactory.hpp"
#include "QuibHost/Connection/ViewConnection.hpp"
#include "QuibHost/Streaming/PaneSource.hpp"
#include "QuibHost/Streaming/PanelCapture.hpp"
#include "QuibHost/Streaming/PanelEncoder.hpp"
#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/VideoPacer.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/InterfaceAddresses.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Runtime/SharedMutex.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/ViewFrame.hpp"
#include "Shared/ViewHelloPayload.hpp"

namespace quib {

// Serves every open view channel. All viewers watch the same thing, the active target: an app
// (or the frontmost app when no target is active) through the window capture, a tmux pane
// through the pane mirror, and, when there is nothing to show, a state frame with a sentence for
// the phone. The source runs only while someone watches; it starts again when the viewers'
// demand changes, and 120 ms after the last change of the active target or of its pinned window.
//
// Threads: attach, detach and pointableWindowFrame come on the network queue; the source is
// started and stopped on the queue "com.brenmoor.quib.host.panel" alone; the target store's
// changes arrive on the main executor and are only handed on; pane frames come on the mirror's
// queue, capture states and pictures from the capture, compressed pictures on the encoder's
// thread, send completions on the network queue. `lock_` guards
// the viewers, their counters and what frames carry; it is never held while a frame is sent or
// the capture, the mirror or the encoder is called. The streamer ends on its owner's thread: its
// end waits for every call of the capture, the mirror or a connection under way, and for the
// source's work under way; calls that come later do nothing.
class PanelStreamer final : public PanelStreamerService {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr std::string_view controlLabel = "com.brenmoor.quib.host.panel";
    // The largest bit rate, and the one for a viewer on a peer-to-peer wireless link.
    static constexpr std::int64_t ceiling = 12000000;
    static constexpr std::int64_t peerToPeerCeiling = 2500000;
    // A viewer's picture sides are held within these.
    static constexpr std::int64_t smallestSide = 160;
    static constexpr std::int64_t largestSide = 4096;
    // What the capture is asked for while nobody watches.
    static constexpr std::int64_t idleWidth = 1179;
    static constexpr std::int64_t idleHeight = 2556;
    static constexpr std::chrono::milliseconds targetDebounce{120};
    static constexpr auto viewerAllowanceKey = setting<"quib.viewerAllowance">;
    static constexpr double defaultViewerAllowance = viewerAllowanceKey.rule().fallback;
    // A viewer that has taken nothing for this long, with frames in flight, no longer holds the
    // others to its size nor to key frames until it takes something again.
    static constexpr std::chrono::seconds stallLimit{3};
    // Between a target's name and its window's title or its pane.
    static constexpr std::string_view titleSeparator = " \u00b7 ";

    // Which viewers a frame goes to: video to those with room for it, text to those with nothing
    // in flight, a state to every viewer.
    enum class SendPolicy { video, text, status };

    // One viewer: its connection, who it is, what it asked for and what it has in flight.
    struct ViewClient {
        std::shared_ptr<ViewConnection> connection;
        std::string name;
        std::int64_t maxWidth = 0;
        std::int64_t maxHeight = 0;
        Rect crop;  // unit coordinates of the window
        std::int64_t inFlightFrames = 0;
        std::int64_t inFlightBytes = 0;  // whole framed messages
        bool missedFrame = false;        // a video frame was withheld, so it needs a key frame
        std::string interfaceName;       // of the link the connection runs over; empty when unknown
        // Since when it has had frames in flight without taking one; only counts while it has.
        MonoTime waitingSince{};
        bool stalled = false;  // it has taken nothing for stallLimit

        // It has room for the next video frame: nothing in flight, or fewer than the most frames
        // and bytes below `budget`.
        bool canTakeNext(std::int64_t budget) const;
        bool hasStalled(MonoTime now) const;

        ViewClient(std::shared_ptr<ViewConnection> connection, const ViewHelloPayload& hello);
        // Takes a later hello of the same connection; true when the size or the crop changed.
        bool adopt(const ViewHelloPayload& hello);
        static std::int64_t clampedSide(std::int64_t side);
    };

    // What the capture is asked for: the smallest size any viewer wants, and the part of the
    // window that holds every viewer's crop.
    struct Demand {
        std::int64_t width = idleWidth;
        std::int64_t height = idleHeight;
        Rect crop{0, 0, 1, 1};
        bool operator==(const Demand&) const = default;
    };

    struct Config {
        std::shared_ptr<Executor> main = nullptr;               // where the target store publishes
        std::shared_ptr<TargetStoreService> targets = nullptr;  // required
        std::shared_ptr<PanelEncoder> encoder = nullptr;        // required
        std::shared_ptr<Clock> clock = nullptr;                 // none: the system clock
        std::shared_ptr<Settings> settings = nullptr;           // read once, for "quib.viewerAllowance"
        Tmux tmux = Tmux();                                     // whether tmux is there
        // The kept tmux client the pane mirror polls through; none: each poll runs tmux.
        std::shared_ptr<TmuxControl> tmuxControl = nullptr;
        // Make the window capture (required) and the pane mirror, once, with the streamer's handlers.
        std::function<std::shared_ptr<PanelCapture>(PanelCapture::FrameHandler, PanelCapture::StateHandler)>
            makeCapture = nullptr;
        // None: a PaneMirror running `tmux`.
        std::function<std::shared_ptr<PaneSource>(PaneSource::FrameHandler)> makeMirror = nullptr;
        // The computer's interfaces; none: InterfaceAddresses::list.
        std::function<std::vector<InterfaceAddresses::Entry>()> interfaces = nullptr;
        Instrumentation* instrumentation = nullptr;  // whose switch turns the rate report on; none: the shared one
    };

    // Stops the process without a target store, an encoder or a capture.
    static std::shared_ptr<PanelStreamer> create(Config config);
    // The streamer of this desktop's windows: `config` with a window capture of `desktop`, which
    // may capture when `screenAccess` says so, and a video encoder of `sessions` (required).
    static std::shared_ptr<PanelStreamer> onDesktop(Config config, const DesktopServices& desktop,
                                                    std::shared_ptr<ScreenAccess> screenAccess,
                                                    std::shared_ptr<VideoSessionFactory> sessions);
    PanelStreamer(Passkey, Config config);
    ~PanelStreamer() override;
    PanelStreamer(const PanelStreamer&) = delete;
    PanelStreamer& operator=(const PanelStreamer&) = delete;

    void attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) override;
    void detachViewer(const TlsConnection& connection) override;
    std::optional<Rect> pointableWindowFrame() override;

    // Adds a viewer, or takes a new hello of one: asks for a key frame and a fresh picture, and
    // starts the source again when the viewer is new or wants another size or crop.
    void attach(std::shared_ptr<ViewConnection> connection, const ViewHelloPayload& hello);
    // Removes the viewer of this connection, if any; the source stops with the last one.
    void detach(const void* identity);
    // Tells every viewer `reason` instead of a picture, unless that was the last thing said.
    void sendState(const std::string& reason, bool canOpen);

    // "quib.viewerAllowance" in seconds when above 0 and below 2, else 0.12.
    static double readViewerAllowance(const Settings* settings);
    // Every viewer's wishes together, a stalled viewer's left out while another is not stalled;
    // the idle demand without viewers.
    static Demand demandOf(const std::map<const void*, ViewClient>& clients);
    // The name of the interface in `entries` that holds `address`; empty when none does.
    static std::string interfaceHolding(const std::string& address,
                                        const std::vector<InterfaceAddresses::Entry>& entries);
    // Whether an interface of this name is a peer-to-peer wireless link, which takes less.
    static bool isPeerToPeer(std::string_view interfaceName);
    // What a view channel's kernel may hold unsent at a bit rate: the pacer's byte budget.
    static std::int64_t notSentLowWater(std::int64_t bitRate);

    // A captured picture: encoded when the encoder is free and some viewer can take it.
    void encodeAndSend(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, const Rect& crop,
                       std::int64_t generation);

private:
    struct SentWindow {
        std::int64_t generation = -1;
        MonoTime at = MonoTime::max();
    };

    // `body` as a handler that other threads may call at any time: it runs while the streamer is
    // there, and the streamer's end waits for it.
    template <class Body>
    auto whilePresent(Body body) const {
        return [presence = presence_, body = std::move(body)](auto&&... arguments) {
            SharedLock lock(presence->mutex);
            if (presence->alive) body(std::forward<decltype(arguments)>(arguments)...);
        };
    }

    void begin();
    void watchTargets();
    void restartSource();
    void stopSource();
    void applySource();
    void stopSourceNow();
    void startMirror(const QuibTarget& target);
    std::optional<std::uint32_t> activePinnedWindow();

    // A frame handed to the viewers: its size, when, and for video the time since the one before.
    struct Handed {
        std::int64_t bytes = 0;
        MonoTime at{};
        double interval = 0;  // since the previous video frame was handed over
        bool video = false;
    };
    bool send(const ViewFrame& frame, const Bytes& payload, SendPolicy policy, const std::function<void()>& dropped);
    std::vector<std::shared_ptr<ViewConnection>> chooseReceivers(const ViewFrame& frame, SendPolicy policy,
                                                                 Handed& handed);
    void sendCompleted(const std::weak_ptr<ViewConnection>& to, const Handed& handed, const Result<MonoTime>& written);
    void viewerLeft(bool othersRemain);
    void paneFrame(const ViewFrame& frame, const Bytes& payload);
    void refreshCeiling();

    // What a picture in the encoder needs to become a frame.
    struct Encoding {
        std::uint64_t captureTime = 0;
        std::int64_t width = 0;
        std::int64_t height = 0;
        Rect crop;
        std::int64_t generation = 0;
        std::int64_t epoch = 0;
    };
    struct Rates {
        std::int64_t bitRate = 0;
        double frameRate = 0;
    };
    std::optional<Rates> passGate(std::int64_t& epoch);
    bool encodeFinished(const Encoding& encoding);
    bool needsKeyframe();
    void videoEncoded(const Encoding& encoding, std::optional<PanelEncoder::Output> output);
    void noteSent(std::int64_t generation, bool isKeyframe);
    void askAgainIfTurnedAway();
    void noteVideoDelivered(std::int64_t bytes, double seconds, double interval);
    void noteVideoDropped();
    // Gives the encoder the pacer's rate when it has moved an eighth or more from the one last
    // given, whatever the pacer said; every viewer's unsent limit follows it.
    void applyRateIfDue(bool logged);
    void reportRate();

    const std::shared_ptr<Executor> main_;
    const std::shared_ptr<TargetStoreService> targets_;
    const std::shared_ptr<PanelEncoder> encoder_;
    const std::shared_ptr<Clock> clock_;
    const Tmux tmux_;
    std::shared_ptr<TmuxControl> tmuxControl_;  // the mirror's, once it is made
    const double viewerAllowance_;
    const std::function<std::vector<InterfaceAddresses::Entry>()> interfaces_;
    Instrumentation& instrumentation_;
    std::function<std::shared_ptr<PanelCapture>(PanelCapture::FrameHandler, PanelCapture::StateHandler)> makeCapture_;
    std::function<std::shared_ptr<PaneSource>(PaneSource::FrameHandler)> makeMirror_;
    // Made by begin(), before anything can reach them.
    std::shared_ptr<PanelCapture> capture_;
    std::shared_ptr<PaneSource> mirror_;

    struct Presence {
        SharedMutex mutex;
        bool alive GUARDED_BY(mutex) = true;  // changed under the exclusive hold
    };
    const std::shared_ptr<Presence> presence_ = std::make_shared<Presence>();

    // The main executor's alone: the subscriptions, and the pinned window last seen.
    std::vector<Subscription> cancellables_;
    std::optional<std::optional<std::uint32_t>> lastPinned_;

    mutable Mutex lock_;  // guards everything below
    std::map<const void*, ViewClient> clients_ GUARDED_BY(lock_);
    std::int64_t encodesInFlight_ GUARDED_BY(lock_) = 0;
    VideoPacer pacer_ GUARDED_BY(lock_){ceiling};
    MonoTime lastHandOver_ GUARDED_BY(lock_){};  // zero: no video frame handed over yet
    SentWindow sentWindow_ GUARDED_BY(lock_);
    // Each stop of the source begins a new epoch; a picture of an earlier one is not counted
    // back or shown.
    std::int64_t sourceEpoch_ GUARDED_BY(lock_) = 0;
    std::int64_t appliedRate_ GUARDED_BY(lock_) = ceiling;  // what the encoder was last given
    // A picture was turned away at the gate: the window may have changed since the last one
    // shown, and an idle window sends no other, so a fresh one is asked for once there is room.
    bool pictureTurnedAway_ GUARDED_BY(lock_) = false;
    MonoTime lastReportAt_ GUARDED_BY(lock_){};
    // The capture queue's alone.
    std::int64_t lastEncodedGeneration_ = -1;
    std::string currentTitle_;
    std::optional<std::string> lastState_;

    // Last, so that it goes first: its tasks use the streamer, which is therefore always let go
    // by its owner and never by a task of its own; once it is going, what is queued does nothing.
    std::atomic<bool> closing_{false};
    SerialQueue control_;
};

}  // namespace quib
