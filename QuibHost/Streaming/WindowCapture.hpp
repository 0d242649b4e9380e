#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/PixelBuffer.hpp"
#include "Platform/WindowSource.hpp"
#include "QuibHost/Streaming/PanelCapture.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/WindowCorner.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/UnitSpot.hpp"

namespace quib {

// Turns one window into a stream of pictures for the view channel. The owner says which app (or
// the frontmost app) and which pinned window to follow, how large a picture the viewers want and
// which part of the window they want. WindowCapture chooses the window, opens a stream of that
// window alone, sizes and crops it, and keeps it matched to the window as the window moves,
// resizes, is minimised, closes or gives way to another app's window. Every useful picture goes
// to the owner with the crop it shows and a generation that changes whenever the captured window
// changes; what a viewer should see instead of pictures goes to the owner as a short text.
//
// A watchdog runs a resolving pass every 1.5 s while the capture follows a window; a pass
// chooses the window and opens, reconfigures or stops the stream. Passes run one at a time on a
// queue of their own, so one that waits for the desktop never holds up the pictures; a pass that
// would start while another runs is skipped, never queued.
//
// Threads: pictures reach `onFrame` on the capture queue, in order. `onState` comes from the
// caller of `start`, from a pass or from the capture queue, so it must be safe on any thread.
// `start`, `stop` and `requestFrame` are called from the owner's one queue; the readings are
// safe on any thread. No lock is held across a call into the desktop or a handler.
class WindowCapture : public PanelCapture, public std::enable_shared_from_this<WindowCapture> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.capture";
    static constexpr std::string_view passQueueLabel = "com.brenmoor.quib.host.capture.resolve";
    static constexpr Duration watchdogPeriod = std::chrono::milliseconds(1500);
    static constexpr auto maxEncodedSideKey = setting<"quib.maxEncodedSide">;
    static constexpr double defaultMaxEncodedSide = maxEncodedSideKey.rule().fallback;
    // The frontmost app while the screen is locked.
    static constexpr std::string_view loginWindowID = "com.apple.loginwindow";
    // The whole window in unit coordinates.
    static constexpr Rect wholeWindow{0, 0, 1, 1};

    // A picture, when it was taken, the part of the window it shows (unit coordinates) and the
    // generation of the captured window.
    using FrameHandler = std::function<void(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime,
                                            const Rect& crop, std::int64_t generation)>;
    // A sentence for the viewer, and whether the phone may offer to bring the window back.
    using StateHandler = std::function<void(const std::string& text, bool canOpen)>;

    // The pixel size of the captured pictures.
    struct OutputSize {
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const OutputSize&) const = default;
    };

    struct Config {
        DesktopServices desktop = {};                          // its window source, workspace and pointer, all required
        std::shared_ptr<ScreenAccess> screenAccess = nullptr;  // none: capture is never granted
        std::shared_ptr<Clock> clock = nullptr;                // none: the system clock
        std::shared_ptr<Settings> settings = nullptr;          // the corner radius is read from it at every use
        Instrumentation* instrumentation = nullptr;            // none: the shared one
        // The largest side of an encoded picture, asked once at creation; none: the process's,
        // read from `settings` once per run (maxEncodedSide).
        std::function<double()> maxEncodedSide = nullptr;
        // The capture queue and the passes' queue; none: made with their labels.
        std::shared_ptr<SerialQueue> queue = nullptr;
        std::shared_ptr<SerialQueue> passes = nullptr;
        FrameHandler onFrame = nullptr;
        StateHandler onState = nullptr;
    };

    static std::shared_ptr<WindowCapture> create(Config config);
    WindowCapture(Passkey, Config config);
    ~WindowCapture();
    WindowCapture(const WindowCapture&) = delete;
    WindowCapture& operator=(const WindowCapture&) = delete;

    // Follows the best window of `bundleID`'s app (none: the frontmost app's), or the pinned
    // `windowID`, for viewers that want pictures up to `maxWidth` × `maxHeight` pixels of `crop`
    // (unit coordinates). Called again whenever the request changes: a running stream of the
    // same window is reconfigured, never restarted. Without the right to capture, asks for it
    // once per run and reports that instead.
    void start(std::optional<std::string> bundleID, std::optional<std::uint32_t> windowID, std::int64_t maxWidth,
               std::int64_t maxHeight, const Rect& crop) override;
    // Stops following: the watchdog and the stream stop, and nothing more is delivered.
    void stop() override;
    // The next picture the stream takes is delivered whatever its status.
    void requestFrame() override;

    // The pointer on the captured window (the whole window, not the crop); none when it is off
    // the window or no window is captured.
    std::optional<UnitSpot> pointerInWindow() const override;
    // The captured window's frame in global points (origin at the top left of the main display).
    std::optional<Rect> windowFrame() const override;
    // Changes whenever the captured window changes and whenever the stream stops.
    std::int64_t currentGeneration() const override;
    // The captured window's corner radius over its width; none when it has no usable radius.
    std::optional<double> cornerFraction() const override;

    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }

    // The window to show of an app: of its windows on the ordinary layer that are more than 120
    // points wide and high, an active one before an inactive one, then one on screen before one
    // that is not, then the larger; the earlier listed of equals. None when none qualifies.
    static std::optional<WindowSource::Window> bestWindow(std::string_view bundleID,
                                                          const std::vector<WindowSource::Window>& windows);
    // The part of a window of `frame` that `crop` asks for, in the window's points from its top
    // left: the zero rectangle for the whole window, else at least 32 × 32 points held inside the
    // window, rounded to whole points.
    static Rect sourceRect(const Rect& crop, const Rect& frame);
    // The picture size for `region` of a window of `frame` (the zero region: the whole window):
    // its pixels scaled to fit the viewers' box turned to match, at most `maxEncodedSide` a side
    // and never enlarged more than 2.5 times, both sides even. A `scale` that is missing or not
    // positive counts as 2.
    static OutputSize outputSize(const Rect& frame, const Rect& region, std::optional<double> scale,
                                 std::int64_t maxWidth, std::int64_t maxHeight, double maxEncodedSide);
    // `region` in unit coordinates of the window; the whole window for the zero region or a
    // window with a side that is not positive.
    static Rect normalise(const Rect& region, const Rect& frame);
    // How a stream is configured for pictures of `size` showing `sourceRect`.
    static WindowStream::Configuration configuration(OutputSize size, const Rect& sourceRect);

    // "quib.maxEncodedSide" read now: 640 or more is taken as it is; otherwise 2560.
    static double readMaxEncodedSide(const Settings* settings);
    // The same, read once per process by the first caller.
    static double maxEncodedSide(const Settings* settings);

private:
    // What the owner asked for last.
    struct Request {
        std::optional<std::string> bundleID;
        std::optional<std::uint32_t> pinnedWindowID;
        std::int64_t maxWidth = 1179;
        std::int64_t maxHeight = 2556;
        Rect crop = wholeWindow;
    };
    class PassGuard;

    // Resolving passes (WindowCaptureResolving.cpp).
    bool beginPass();
    void endPass();
    void postPass(bool restartIfNeeded, std::uint64_t session);
    void resolveAndApply(bool restartIfNeeded, std::uint64_t session);
    std::optional<WindowSource::Window> resolveWindow(const Request& request, std::uint64_t session);
    void applyNoWindow(bool restartIfNeeded, const Request& request, std::uint64_t session);
    bool reconfigure(const WindowSource::Window& window, OutputSize size, const Rect& source, const Rect& applied);
    void didUpdate(std::uint64_t token, OutputSize size, const Rect& source, const Rect& applied,
                   const Result<void>& done);
    void openStream(const WindowSource::Window& window, OutputSize size, const Rect& source, const Rect& applied,
                    std::uint64_t session);
    bool isPinnedWindow(const WindowSource::Window& window, const Request& request);
    void noteWindow(const WindowSource::Window& window, const Rect& source, bool newGeneration,
                    std::int64_t* generation = nullptr);
    // Stops the running stream; with a token, only when it is still that stream.
    void stopStreamOnly(std::uint64_t onlyToken = 0);
    bool isCurrent(std::uint64_t session) const;
    void report(std::uint64_t session, const std::string& text, bool canOpen);

    // The watchdog (WindowCapture.cpp).
    void startWatchdog();
    void armWatchdog() REQUIRES(stateLock_);
    void watchdogFired(std::uint64_t epoch);
    void tick(std::uint64_t epoch, std::uint64_t session);

    // On the capture queue.
    void didOutput(std::uint64_t token, const WindowStream::Sample& sample);
    void didStop(std::uint64_t token, const std::string& description);
    void didGo(std::uint64_t token);
    void reportRate();

    const std::shared_ptr<WindowSource> windows_;
    const std::shared_ptr<Workspace> workspace_;
    const std::shared_ptr<PointerLocation> pointer_;
    const std::shared_ptr<ScreenAccess> screenAccess_;
    const std::shared_ptr<Clock> clock_;
    const WindowCorner corner_;
    Instrumentation& instrumentation_;
    const double maxEncodedSide_;
    const std::shared_ptr<SerialQueue> queue_;
    const std::shared_ptr<SerialQueue> passes_;
    const FrameHandler onFrame_;
    const StateHandler onState_;

    Mutex resolveLock_;  // guards isResolving_
    bool isResolving_ GUARDED_BY(resolveLock_) = false;

    mutable Mutex stateLock_;  // guards everything down to frameLock_
    Request request_ GUARDED_BY(stateLock_);
    std::uint64_t session_ GUARDED_BY(stateLock_) = 0;  // counts stop()s: a pass of an earlier session changes nothing
    std::shared_ptr<WindowStream> stream_ GUARDED_BY(stateLock_);
    // The stream whose samples count: set while it opens, cleared when it stops; 0 for none.
    std::uint64_t streamToken_ GUARDED_BY(stateLock_) = 0;
    std::uint64_t lastToken_ GUARDED_BY(stateLock_) = 0;
    std::int64_t streamGeneration_ GUARDED_BY(stateLock_) = 0;  // the generation of that stream's pictures
    std::optional<std::uint32_t> windowID_ GUARDED_BY(stateLock_);
    // Who owns that window: a window of another app or process that takes its number is another
    // window.
    std::optional<WindowSource::Owner> windowOwner_ GUARDED_BY(stateLock_);
    // The process behind the pinned number when it was first seen since the last start; a window
    // of another process under that number is not the one picked.
    bool pinnedSeen_ GUARDED_BY(stateLock_) = false;
    std::optional<std::int64_t> pinnedProcess_ GUARDED_BY(stateLock_);
    OutputSize configuredSize_ GUARDED_BY(stateLock_);
    Rect configuredRect_ GUARDED_BY(stateLock_);
    Rect appliedCrop_ GUARDED_BY(stateLock_) = wholeWindow;
    bool isLocked_ GUARDED_BY(stateLock_) = false;
    std::uint64_t watchdogEpoch_ GUARDED_BY(stateLock_) = 0;  // changes when the watchdog starts or stops
    bool watching_ GUARDED_BY(stateLock_) = false;
    MonoTime nextTick_ GUARDED_BY(stateLock_){};
    Cancellable watchdog_ GUARDED_BY(stateLock_);

    // Only on the capture queue.
    std::map<std::int64_t, std::int64_t> statusCounts_;
    MonoTime windowStart_;

    mutable Mutex frameLock_;  // guards the four below; nothing else is taken or called under it
    std::optional<Rect> resolvedFrame_ GUARDED_BY(frameLock_);
    std::int64_t generation_ GUARDED_BY(frameLock_) = 0;
    std::optional<double> resolvedCorner_ GUARDED_BY(frameLock_);
    bool wantsFrame_ GUARDED_BY(frameLock_) = false;
};

}  // namespace quib
