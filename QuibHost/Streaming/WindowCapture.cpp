// The capture's life, its readings, the watchdog and the pictures on the capture queue. The
// resolving passes are in WindowCaptureResolving.cpp.

#include "QuibHost/Streaming/WindowCapture.hpp"

#include <cstdio>

#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Required.hpp"

namespace quib {
namespace {

std::shared_ptr<SerialQueue> queueOr(std::shared_ptr<SerialQueue> given, std::string_view label,
                                     const std::shared_ptr<Clock>& clock) {
    return given ? std::move(given) : std::make_shared<SerialQueue>(std::string(label), clock);
}

std::string statusName(std::int64_t status) {
    switch (status) {
        case WindowStream::FrameStatus::complete: return "complete";
        case WindowStream::FrameStatus::idle: return "idle";
        case WindowStream::FrameStatus::blank: return "blank";
        case WindowStream::FrameStatus::suspended: return "suspended";
        case WindowStream::FrameStatus::started: return "started";
        case WindowStream::FrameStatus::stopped: return "stopped";
        default: return "status" + std::to_string(status);
    }
}

std::string perSecond(double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", rate);
    return text;
}

}  // namespace

std::shared_ptr<WindowCapture> WindowCapture::create(Config config) {
    return std::make_shared<WindowCapture>(Passkey{}, std::move(config));
}

WindowCapture::WindowCapture(Passkey, Config config)
    : windows_(required(std::move(config.desktop.windowSource), "WindowCapture", "window source")),
      workspace_(required(std::move(config.desktop.workspace), "WindowCapture", "workspace")),
      pointer_(required(std::move(config.desktop.pointer), "WindowCapture", "pointer location")),
      screenAccess_(config.screenAccess ? std::move(config.screenAccess) : std::make_shared<ScreenAccess>(nullptr)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      corner_(config.settings ? config.settings : Settings::inMemory()),
      instrumentation_(config.instrumentation ? *config.instrumentation : Instrumentation::shared()),
      maxEncodedSide_(config.maxEncodedSide ? config.maxEncodedSide() : maxEncodedSide(config.settings.get())),
      queue_(queueOr(std::move(config.queue), queueLabel, clock_)),
      passes_(queueOr(std::move(config.passes), passQueueLabel, clock_)),
      onFrame_(std::move(config.onFrame)),
      onState_(std::move(config.onState)),
      windowStart_(clock_->now()) {}

WindowCapture::~WindowCapture() {
    watchdog_.cancel();
    if (stream_) stream_->stop();
}

double WindowCapture::readMaxEncodedSide(const Settings* settings) {
    if (!settings) return defaultMaxEncodedSide;
    return settings->get(maxEncodedSideKey);
}

double WindowCapture::maxEncodedSide(const Settings* settings) {
    static const double side = readMaxEncodedSide(settings);
    return side;
}

void WindowCapture::start(std::optional<std::string> bundleID, std::optional<std::uint32_t> windowID,
                          std::int64_t maxWidth, std::int64_t maxHeight, const Rect& crop) {
    std::uint64_t session = 0;
    {
        MutexLock lock(stateLock_);
        request_ = Request{std::move(bundleID), windowID, maxWidth, maxHeight, crop};
        pinnedSeen_ = false;
        session = session_;
    }
    if (!screenAccess_->isGranted()) {
        screenAccess_->requestOnceIfNeeded();
        if (onState_) onState_(std::string(ScreenAccess::grantText), false);
        return;
    }
    if (beginPass()) postPass(true, session);
    startWatchdog();
}

void WindowCapture::stop() {
    {
        MutexLock lock(stateLock_);
        ++session_;
        ++watchdogEpoch_;
        watching_ = false;
        watchdog_.cancel();
    }
    stopStreamOnly();
}

void WindowCapture::requestFrame() {
    {
        MutexLock lock(frameLock_);
        wantsFrame_ = true;
    }
    std::shared_ptr<WindowStream> stream;
    {
        MutexLock lock(stateLock_);
        stream = stream_;
    }
    // A window that does not change gives no pictures of its own accord.
    if (stream) stream->requestFrame();
}

std::optional<UnitSpot> WindowCapture::pointerInWindow() const {
    const auto frame = windowFrame();
    if (!frame || !(frame->width > 0) || !(frame->height > 0)) return std::nullopt;
    const Point pointer = pointer_->pointerLocation();
    return UnitSpot::inside({(pointer.x - frame->minX()) / frame->width, (pointer.y - frame->minY()) / frame->height});
}

std::optional<Rect> WindowCapture::windowFrame() const {
    MutexLock lock(frameLock_);
    return resolvedFrame_;
}

std::int64_t WindowCapture::currentGeneration() const {
    MutexLock lock(frameLock_);
    return generation_;
}

std::optional<double> WindowCapture::cornerFraction() const {
    MutexLock lock(frameLock_);
    return resolvedCorner_;
}

// The watchdog keeps its rhythm on the clock: each tick arms the next before it hands its pass
// to the capture queue, and a tick that comes too late for the next one is not made up.
void WindowCapture::startWatchdog() {
    MutexLock lock(stateLock_);
    ++watchdogEpoch_;
    watching_ = true;
    watchdog_.cancel();
    nextTick_ = clock_->now() + watchdogPeriod;
    armWatchdog();
}

void WindowCapture::armWatchdog() {
    watchdog_ = clock_->schedule(nextTick_, [weak = weak_from_this(), epoch = watchdogEpoch_] {
        if (auto capture = weak.lock()) capture->watchdogFired(epoch);
    });
}

void WindowCapture::watchdogFired(std::uint64_t epoch) {
    std::uint64_t session = 0;
    {
        MutexLock lock(stateLock_);
        if (!watching_ || epoch != watchdogEpoch_) return;
        nextTick_ += watchdogPeriod;
        if (nextTick_ <= clock_->now()) nextTick_ = clock_->now() + watchdogPeriod;
        armWatchdog();
        session = session_;
    }
    queue_->post([weak = weak_from_this(), epoch, session] {
        if (auto capture = weak.lock()) capture->tick(epoch, session);
    });
}

void WindowCapture::tick(std::uint64_t epoch, std::uint64_t session) {
    {
        MutexLock lock(stateLock_);
        if (!watching_ || epoch != watchdogEpoch_) return;
    }
    if (beginPass()) postPass(false, session);
}

void WindowCapture::didOutput(std::uint64_t token, const WindowStream::Sample& sample) {
    assertOn(*queue_);
    Rect crop;
    std::int64_t generation = 0;
    {
        MutexLock lock(stateLock_);
        if (token == 0 || token != streamToken_) return;  // a replaced stream's, or none runs
        crop = appliedCrop_;
        generation = streamGeneration_;
    }
    ++statusCounts_[sample.status];
    reportRate();
    // A sample without a picture cannot answer a request for one: the request waits.
    if (!sample.picture) return;
    {
        MutexLock lock(frameLock_);
        if (wantsFrame_) wantsFrame_ = false;
        else if (sample.status != WindowStream::FrameStatus::complete) return;
    }
    if (onFrame_) onFrame_(sample.picture, sample.presentationTime, crop, generation);
}

void WindowCapture::didStop(std::uint64_t token, const std::string& description) {
    assertOn(*queue_);
    {
        MutexLock lock(stateLock_);
        if (token == 0 || token != streamToken_) return;  // one the host stopped or replaced
        stream_.reset();
        streamToken_ = 0;
        windowID_.reset();
        windowOwner_.reset();
    }
    quibLog().error("view: stream stopped ", pub(description));
    if (onState_) onState_("Capture stopped: " + description, false);
}

// Nothing failed: the window closed. Its number may already name another window, which the
// pass posted here finds, or the watchdog's next one.
void WindowCapture::didGo(std::uint64_t token) {
    assertOn(*queue_);
    std::uint64_t session = 0;
    {
        MutexLock lock(stateLock_);
        if (token == 0 || token != streamToken_) return;
        session = session_;
    }
    quibLog().info("view: the captured window has gone");
    stopStreamOnly(token);
    if (beginPass()) postPass(false, session);
}

void WindowCapture::reportRate() {
    if (!instrumentation_.isEnabled()) return;
    const MonoTime now = clock_->now();
    const double elapsed = std::chrono::duration<double>(now - windowStart_).count();
    if (elapsed < 1.0) return;
    std::int64_t total = 0;
    std::string statuses;
    for (const auto& [status, count] : statusCounts_) {
        total += count;
        if (!statuses.empty()) statuses += ' ';
        statuses += statusName(status) + "=" + std::to_string(count);
    }
    const auto complete = statusCounts_.find(WindowStream::FrameStatus::complete);
    const std::int64_t changed = complete == statusCounts_.end() ? 0 : complete->second;
    quibLog().info("capture: ", pub(perSecond(double(total) / elapsed)), "/s delivered, ",
                   pub(perSecond(double(changed) / elapsed)), "/s changed, status ", pub(statuses));
    statusCounts_.clear();
    windowStart_ = now;
}

}  // namespace quib
