#include "QuibHost/Streaming/StillCapture.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Streaming/WindowCapture.hpp"
#include "Runtime/Required.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

StillCapture::StillCapture(Config config)
    : desktop_(std::move(config.desktop)),
      screenAccess_(required(std::move(config.screenAccess), "StillCapture", "screen access")),
      png_(std::move(config.png)),
      queue_(config.queue ? std::move(config.queue) : std::make_shared<SerialQueue>(std::string(queueLabel))),
      hostProcessID_(config.hostProcessID ? config.hostProcessID : static_cast<std::int64_t>(::getpid())) {
    required(desktop_.windowSource, "StillCapture", "window source");
    required(desktop_.workspace, "StillCapture", "workspace");
    required(desktop_.pointer, "StillCapture", "pointer location");
    required(desktop_.displays, "StillCapture", "display list");
}

void StillCapture::capture(const QuibTarget& target, std::int64_t maxLongEdge, std::function<void(Outcome)> done) {
    queue_->post([self = shared_from_this(), target, maxLongEdge, done = std::move(done)] {
        done(self->captureNow(target, maxLongEdge));
    });
}

StillCapture::Outcome StillCapture::captureNow(const QuibTarget& target, std::int64_t maxLongEdge) {
    screenAccess_->requestOnceIfNeeded();
    if (!screenAccess_->isGranted()) return Refusal::notGranted();
    const auto windows = desktop_.windowSource->shareableWindows();
    if (!windows) return Refusal::failed("ScreenCaptureKit returned nothing");
    std::optional<std::string> app;
    switch (target.kind) {
        case QuibTarget::Kind::tmux: return shootDisplay(maxLongEdge);
        case QuibTarget::Kind::app:
            if (!target.bundleID) return Refusal::noWindow(target.name);
            app = target.bundleID;
            break;
        case QuibTarget::Kind::frontmost:
            app = frontmostOtherApp();
            if (!app) return shootDisplay(maxLongEdge);
            break;
    }
    const auto window = WindowCapture::bestWindow(*app, *windows);
    if (window) return shootWindow(*window, target, maxLongEdge);
    if (target.kind == QuibTarget::Kind::frontmost) return shootDisplay(maxLongEdge);
    return Refusal::noWindow(target.name);
}

std::optional<std::string> StillCapture::frontmostOtherApp() {
    const auto front = desktop_.workspace->frontmostApp();
    if (!front || front->bundleID.empty()) return std::nullopt;
    if (front->bundleID == AppIdentity::hostDesktopID || front->processID == hostProcessID_) return std::nullopt;
    return front->bundleID;
}

StillCapture::Outcome StillCapture::shootWindow(const WindowSource::Window& window, const QuibTarget& target,
                                                std::int64_t maxLongEdge) {
    const std::string title = window.owner && !window.owner->name.empty() ? window.owner->name : target.name;
    const auto size = outputSize(window.frame.absWidth(), window.frame.absHeight(),
                                 desktop_.windowSource->backingScaleFactor(), maxLongEdge);
    return encode(desktop_.windowSource->windowPicture(window.number, static_cast<int>(size.width),
                                                       static_cast<int>(size.height)),
                  title);
}

// The display under the pointer, else the first; its number is its place in the list, from 1.
StillCapture::Outcome StillCapture::shootDisplay(std::int64_t maxLongEdge) {
    const auto displays = desktop_.displays->activeDisplayBounds();
    if (!displays || displays->empty()) return Refusal::noDisplay();
    const Point pointer = desktop_.pointer->pointerLocation();
    const auto under =
        std::find_if(displays->begin(), displays->end(), [&](const Rect& d) { return d.contains(pointer); });
    const auto index = under == displays->end() ? 0 : static_cast<std::size_t>(under - displays->begin());
    const Rect& display = (*displays)[index];
    const std::string title = displays->size() < 2 ? "Screen" : "Display " + std::to_string(index + 1);
    const auto size =
        outputSize(display.absWidth(), display.absHeight(), desktop_.windowSource->backingScaleFactor(), maxLongEdge);
    return encode(
        desktop_.windowSource->displayPicture(display, static_cast<int>(size.width), static_cast<int>(size.height)),
        title);
}

StillCapture::Outcome StillCapture::encode(const Result<RgbPicture>& picture, std::string title) {
    if (!picture) return Refusal::failed(picture.error().message);
    auto png = png_ ? png_->encode(picture.value()) : std::nullopt;
    if (!png || png->empty()) return Refusal::failed("couldn't encode the screenshot");
    return Still{std::move(*png), picture.value().width, picture.value().height, std::move(title)};
}

// Worked in doubles and clamped before any conversion, so that no request, however large or
// negative, can overflow; a side is never 0, which no picture could have.
StillCapture::PixelSize StillCapture::outputSize(double width, double height, std::optional<double> scale,
                                                 std::int64_t maxLongEdge) {
    const double s = scale.value_or(2);
    const double pw = std::max(s * width, 1.0), ph = std::max(s * height, 1.0);
    const double edge = std::max(static_cast<double>(maxLongEdge), smallestLongEdge);
    const double factor = std::min(edge / std::max(pw, ph), 1.0);
    constexpr double largest = 1 << 30;
    auto side = [&](double points) {
        return static_cast<std::int64_t>(std::clamp(std::floor(points * factor), 1.0, largest));
    };
    return {side(pw), side(ph)};
}

}  // namespace quib
