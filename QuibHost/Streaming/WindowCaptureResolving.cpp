// The capture's resolving passes: choosing the window, sizing and cropping it, and opening,
// reconfiguring or stopping the stream to match.

#include <algorithm>
#include <cmath>

#include "QuibHost/Streaming/WindowCapture.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

constexpr double candidateSide = 120;  // a window must be wider and higher than this to be chosen
constexpr double smallestCropSide = 32;
// How far a picture may be enlarged: up to 2.5 times where the screen's points hold more than
// one pixel each, which an app may draw finer; never past its own pixels where a point is one
// pixel, since enlarging then adds nothing but work for the encoder, which the phone's scaling
// does for free.
constexpr double largestEnlargement = 2.5;
double largestEnlargementAt(double scale) { return scale > 1 ? largestEnlargement : 1; }

bool hasSize(const Rect& frame) { return frame.width > 0 && frame.height > 0; }

// One more than the best so far: active first, then on screen, then strictly larger.
bool isBetter(const WindowSource::Window& window, const WindowSource::Window& best) {
    if (window.active != best.active) return window.active;
    if (window.onScreen != best.onScreen) return window.onScreen;
    return window.frame.width * window.frame.height > best.frame.width * best.frame.height;
}

std::string minimisedText(const WindowSource::Window& window) {
    const bool named = window.owner && !window.owner->name.empty();
    return (named ? window.owner->name : std::string("That window")) + " is minimised";
}

// " crop WxH@X,Y" for a source rectangle, nothing for the whole window.
std::string cropSuffix(const Rect& source) {
    if (source == Rect{}) return {};
    auto whole = [](double value) { return std::to_string(std::llround(value)); };
    return " crop " + whole(source.width) + "x" + whole(source.height) + "@" + whole(source.x) + "," + whole(source.y);
}

}  // namespace

// Clears the resolving flag on every way out of a pass.
class WindowCapture::PassGuard {
public:
    explicit PassGuard(WindowCapture& capture) : capture_(capture) {}
    ~PassGuard() { capture_.endPass(); }
    PassGuard(const PassGuard&) = delete;
    PassGuard& operator=(const PassGuard&) = delete;

private:
    WindowCapture& capture_;
};

std::optional<WindowSource::Window> WindowCapture::bestWindow(std::string_view bundleID,
                                                              const std::vector<WindowSource::Window>& windows) {
    const WindowSource::Window* best = nullptr;
    for (const auto& window : windows) {
        if (!window.owner || window.owner->bundleID != bundleID || window.layer != 0) continue;
        if (!(window.frame.width > candidateSide) || !(window.frame.height > candidateSide)) continue;
        if (!best || isBetter(window, *best)) best = &window;
    }
    if (!best) return std::nullopt;
    return *best;
}

Rect WindowCapture::sourceRect(const Rect& crop, const Rect& frame) {
    if (crop == wholeWindow) return {};
    const double width = std::max(crop.width * frame.width, smallestCropSide);
    const double height = std::max(crop.height * frame.height, smallestCropSide);
    const double x = std::min(std::max(crop.x * frame.width, 0.0), frame.width - width);
    const double y = std::min(std::max(crop.y * frame.height, 0.0), frame.height - height);
    return {std::round(x), std::round(y), std::round(width), std::round(height)};
}

WindowCapture::OutputSize WindowCapture::outputSize(const Rect& frame, const Rect& region, std::optional<double> scale,
                                                    std::int64_t maxWidth, std::int64_t maxHeight,
                                                    double maxEncodedSide) {
    const double s = scale && *scale > 0 ? *scale : 2;
    const Rect& shown = region == Rect{} ? frame : region;
    const double pw = s * shown.width;
    const double ph = s * shown.height;
    const double viewerLong = double(std::max(maxWidth, maxHeight));
    const double viewerShort = double(std::min(maxWidth, maxHeight));
    const double longSide = std::min(1.5 * viewerLong, maxEncodedSide);
    const double shortSide = std::min(1.5 * viewerShort, maxEncodedSide);
    const double factor =
        std::min({longSide / std::max(pw, ph), shortSide / std::min(pw, ph), largestEnlargementAt(s)});
    return {2 * std::llround(pw * factor / 2), 2 * std::llround(ph * factor / 2)};
}

Rect WindowCapture::normalise(const Rect& region, const Rect& frame) {
    if (region == Rect{} || !hasSize(frame)) return wholeWindow;
    return {region.x / frame.width, region.y / frame.height, region.width / frame.width, region.height / frame.height};
}

WindowStream::Configuration WindowCapture::configuration(OutputSize size, const Rect& sourceRect) {
    WindowStream::Configuration configuration;
    configuration.width = size.width;
    configuration.height = size.height;
    configuration.sourceRect = sourceRect;
    configuration.scalesToFit = true;
    configuration.preservesAspectRatio = true;
    configuration.showsCursor = true;
    configuration.opaque = true;
    configuration.ignoresShadow = true;
    configuration.queueDepth = 5;
    configuration.minimumFrameInterval = std::chrono::duration<double>(1.0 / 60);
    return configuration;
}

bool WindowCapture::beginPass() {
    MutexLock lock(resolveLock_);
    if (isResolving_) return false;
    isResolving_ = true;
    return true;
}

void WindowCapture::endPass() {
    MutexLock lock(resolveLock_);
    isResolving_ = false;
}

// The resolving flag is set already; the pass clears it when it ends.
void WindowCapture::postPass(bool restartIfNeeded, std::uint64_t session) {
    passes_->post([weak = weak_from_this(), restartIfNeeded, session] {
        if (auto capture = weak.lock()) capture->resolveAndApply(restartIfNeeded, session);
    });
}

bool WindowCapture::isCurrent(std::uint64_t session) const {
    MutexLock lock(stateLock_);
    return session == session_;
}

// A pass that began before the owner stopped the capture tells the owner nothing more.
void WindowCapture::report(std::uint64_t session, const std::string& text, bool canOpen) {
    if (onState_ && isCurrent(session)) onState_(text, canOpen);
}

void WindowCapture::resolveAndApply(bool restartIfNeeded, std::uint64_t session) {
    PassGuard guard(*this);
    Request request;
    {
        MutexLock lock(stateLock_);
        if (session != session_) return;
        request = request_;
    }
    const auto window = resolveWindow(request, session);
    if (!window) return applyNoWindow(restartIfNeeded, request, session);
    if (!window->onScreen) {
        stopStreamOnly();
        return report(session, minimisedText(*window), true);
    }
    const Rect source = sourceRect(request.crop, window->frame);
    const OutputSize size = outputSize(window->frame, source, windows_->backingScaleFactor(), request.maxWidth,
                                       request.maxHeight, maxEncodedSide_);
    const Rect applied = normalise(source, window->frame);
    if (!reconfigure(*window, size, source, applied)) openStream(*window, size, source, applied, session);
}

// The pinned window whatever it is, else the best window of the app: the target's, or the
// frontmost one's (the login window's while the screen is locked).
std::optional<WindowSource::Window> WindowCapture::resolveWindow(const Request& request, std::uint64_t session) {
    const auto windows = windows_->shareableWindows();
    if (!windows) return std::nullopt;
    std::optional<std::string> app = request.bundleID;
    if (!app && windows_->screenLocked()) app = std::string(loginWindowID);
    if (!app)
        if (auto front = workspace_->frontmostApp()) app = front->bundleID;
    if (!app) return std::nullopt;
    const bool locked = *app == loginWindowID;
    {
        MutexLock lock(stateLock_);
        isLocked_ = locked;
    }
    if (locked) {
        report(session, std::string(said<capitalised<HostWords::yourComputer>, " is locked">), false);
        return std::nullopt;
    }
    if (!request.pinnedWindowID) return bestWindow(*app, *windows);
    const auto pinned = std::find_if(windows->begin(), windows->end(), [&](const WindowSource::Window& w) {
        return w.number == *request.pinnedWindowID;
    });
    if (pinned == windows->end() || !isPinnedWindow(*pinned, request)) {
        report(session, "The window you picked has closed \u2014 pick another on your phone", false);
        return std::nullopt;
    }
    // A window without an area cannot be sized; it is tried again on the next pass.
    if (!hasSize(pinned->frame)) {
        report(session, "Capture failed: the window has no size", false);
        return std::nullopt;
    }
    return *pinned;
}

// X hands window numbers out again: the number picked names the picked window only while the
// window belongs to the target's app and to the process that had it when the owner asked.
bool WindowCapture::isPinnedWindow(const WindowSource::Window& window, const Request& request) {
    if (request.bundleID && (!window.owner || window.owner->bundleID != *request.bundleID)) return false;
    const std::optional<std::int64_t> process =
        window.owner ? std::optional<std::int64_t>(window.owner->processID) : std::nullopt;
    MutexLock lock(stateLock_);
    if (!pinnedSeen_) {
        pinnedSeen_ = true;
        pinnedProcess_ = process;
    }
    return pinnedProcess_ == process;
}

// A watchdog pass that finds nothing where nothing ran says nothing: the loss of a window is
// told once, by the pass that stops its stream.
void WindowCapture::applyNoWindow(bool restartIfNeeded, const Request& request, std::uint64_t session) {
    bool running = false;
    bool locked = false;
    {
        MutexLock lock(stateLock_);
        running = stream_ != nullptr;
        locked = isLocked_;
    }
    if (!restartIfNeeded && !running) return;
    stopStreamOnly();
    if (locked || request.pinnedWindowID) return;  // told while choosing
    report(session, request.bundleID ? "No window found for " + *request.bundleID : "Nothing focused to mirror", false);
}

// Keeps the running stream of the same window, reconfigured when the size or the crop changed;
// false when there is no such stream.
bool WindowCapture::reconfigure(const WindowSource::Window& window, OutputSize size, const Rect& source,
                                const Rect& applied) {
    std::shared_ptr<WindowStream> stream;
    std::uint64_t token = 0;
    {
        MutexLock lock(stateLock_);
        if (!stream_ || windowID_ != window.number || windowOwner_ != window.owner) return false;
        stream = stream_;
        token = streamToken_;
    }
    noteWindow(window, source, false);
    {
        MutexLock lock(stateLock_);
        if (size == configuredSize_ && source == configuredRect_) return true;
        configuredSize_ = size;
        configuredRect_ = source;
    }
    stream->update(configuration(size, source),
                   [weak = weak_from_this(), token, size, source, applied](Result<void> done) {
                       if (auto capture = weak.lock()) capture->didUpdate(token, size, source, applied, done);
                   });
    return true;
}

// On the capture queue, in order with the samples: those after a taken update show the new crop.
// A refused update leaves the stream as it was, and forgets what was asked, so that the next pass
// asks again.
void WindowCapture::didUpdate(std::uint64_t token, OutputSize size, const Rect& source, const Rect& applied,
                              const Result<void>& done) {
    {
        MutexLock lock(stateLock_);
        if (token != streamToken_) return;
        if (done) {
            appliedCrop_ = applied;
            return;
        }
        if (configuredSize_ == size && configuredRect_ == source) {
            configuredSize_ = {};
            configuredRect_ = {};
        }
    }
    quibLog().info("capture: the stream kept its configuration: ", pub(done.error().message));
}

// Replaces whatever ran by a stream of `window`. Its samples count from the moment it opens, so
// that its first picture is never lost to the time it takes to store it.
void WindowCapture::openStream(const WindowSource::Window& window, OutputSize size, const Rect& source,
                               const Rect& applied, std::uint64_t session) {
    stopStreamOnly();
    std::int64_t generation = 0;
    noteWindow(window, source, true, &generation);
    std::uint64_t token = 0;
    {
        MutexLock lock(stateLock_);
        if (session != session_) return;
        token = ++lastToken_;
        streamToken_ = token;
        streamGeneration_ = generation;
        appliedCrop_ = applied;
    }
    {
        MutexLock lock(frameLock_);
        wantsFrame_ = true;  // the first picture of a new stream goes out whatever its status
    }
    std::weak_ptr<WindowCapture> weak = weak_from_this();
    WindowStream::Handlers handlers{[weak, token](WindowStream::Sample sample) {
                                        if (auto capture = weak.lock()) capture->didOutput(token, sample);
                                    },
                                    [weak, token](std::string description) {
                                        if (auto capture = weak.lock()) capture->didStop(token, description);
                                    },
                                    [weak, token] {
                                        if (auto capture = weak.lock()) capture->didGo(token);
                                    }};
    auto opened = windows_->openStream(window.number, configuration(size, source), queue_, std::move(handlers));
    bool kept = false;
    {
        MutexLock lock(stateLock_);
        if (opened && session == session_ && token == streamToken_) {
            stream_ = *opened;
            windowID_ = window.number;
            windowOwner_ = window.owner;
            configuredSize_ = size;
            configuredRect_ = source;
            kept = true;
        } else if (token == streamToken_) {
            streamToken_ = 0;
        }
    }
    if (!opened) return report(session, "Capture failed: " + opened.error().message, false);
    if (!kept) return (*opened)->stop();  // stopped or replaced meanwhile
    quibLog().info("view: capturing ", pub(window.title.empty() ? std::string("window") : window.title), " at ",
                   size.width, "x", size.height, pub(cropSuffix(source)));
}

// The corner is a fraction of the picture's width, which shows the source rectangle's.
void WindowCapture::noteWindow(const WindowSource::Window& window, const Rect& source, bool newGeneration,
                               std::int64_t* generation) {
    const double shownWidth = source == Rect{} ? window.frame.width : source.width;
    const auto corner =
        corner_.radiusFraction(window.frame.width, window.frame.height, shownWidth, windows_->windowCornerRadius());
    MutexLock lock(frameLock_);
    if (newGeneration) ++generation_;
    if (generation) *generation = generation_;
    resolvedFrame_ = window.frame;
    resolvedCorner_ = corner;
}

// The old stream is told to stop and not waited for.
void WindowCapture::stopStreamOnly(std::uint64_t onlyToken) {
    std::shared_ptr<WindowStream> old;
    {
        MutexLock lock(stateLock_);
        if (onlyToken != 0 && onlyToken != streamToken_) return;
        old = std::move(stream_);
        stream_.reset();
        streamToken_ = 0;
        windowID_.reset();
        windowOwner_.reset();
        configuredSize_ = {};
        configuredRect_ = {};
    }
    {
        MutexLock lock(frameLock_);
        resolvedFrame_.reset();
        resolvedCorner_.reset();
        ++generation_;
    }
    if (old) old->stop();
}

}  // namespace quib
