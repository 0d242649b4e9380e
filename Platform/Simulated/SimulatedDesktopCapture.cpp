// Window capture on the simulated desktop: the windows as capture lists them, front to back,
// what tests change about them, the lock and the display's scale, and the streams tests drive.

#include <algorithm>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

void SimulatedDesktop::stackInFront(std::uint32_t window) {
    std::erase(stacking_, window);
    stacking_.insert(stacking_.begin(), window);
}

std::pair<SimulatedDesktop::Window*, SimulatedDesktop::App*> SimulatedDesktop::findWindow(std::uint32_t window) {
    auto matches = [window](const Window& w) { return w.id == window; };
    for (auto& [id, app] : apps_) {
        const auto found = std::find_if(app.windows.begin(), app.windows.end(), matches);
        if (found != app.windows.end()) return {&*found, &app};
    }
    const auto found = std::find_if(unownedWindows_.begin(), unownedWindows_.end(), matches);
    if (found != unownedWindows_.end()) return {&*found, nullptr};
    return {nullptr, nullptr};
}

void SimulatedDesktop::nameApp(const std::string& bundleID, std::string name) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    if (found != apps_.end()) found->second.name = std::move(name);
}

void SimulatedDesktop::openUnownedWindow(Window window) {
    MutexLock lock(mutex_);
    stackInFront(window.id);
    unownedWindows_.push_back(std::move(window));
}

void SimulatedDesktop::setWindowFrame(std::uint32_t window, Rect frame) {
    MutexLock lock(mutex_);
    if (Window* found = findWindow(window).first) found->frame = frame;
}

void SimulatedDesktop::closeWindow(std::uint32_t window) {
    MutexLock lock(mutex_);
    auto [found, app] = findWindow(window);
    if (!found) return;
    std::erase(stacking_, window);
    if (!app) {
        std::erase_if(unownedWindows_, [window](const Window& w) { return w.id == window; });
        return;
    }
    if (app->mainWindow == window) app->mainWindow.reset();
    std::erase_if(app->windows, [window](const Window& w) { return w.id == window; });
}

void SimulatedDesktop::setMinimised(std::uint32_t window, bool minimised) {
    MutexLock lock(mutex_);
    if (Window* found = findWindow(window).first) found->minimised = minimised;
}

void SimulatedDesktop::moveWindowToApp(std::uint32_t window, const std::optional<std::string>& bundleID) {
    MutexLock lock(mutex_);
    auto [found, from] = findWindow(window);
    const auto to = bundleID ? apps_.find(*bundleID) : apps_.end();
    if (!found || (bundleID && to == apps_.end())) return;
    Window moved = *found;
    if (from) {
        if (from->mainWindow == window) from->mainWindow.reset();
        std::erase_if(from->windows, [window](const Window& w) { return w.id == window; });
    } else {
        std::erase_if(unownedWindows_, [window](const Window& w) { return w.id == window; });
    }
    if (bundleID) to->second.windows.push_back(std::move(moved));
    else unownedWindows_.push_back(std::move(moved));
}

void SimulatedDesktop::setLocked(bool locked) {
    MutexLock lock(mutex_);
    locked_ = locked;
}

void SimulatedDesktop::setBackingScale(std::optional<double> scale) {
    MutexLock lock(mutex_);
    backingScale_ = scale;
}

void SimulatedDesktop::setOpenFailure(std::optional<std::string> description) {
    MutexLock lock(mutex_);
    openFailure_ = std::move(description);
}

void SimulatedDesktop::setUpdateFailure(std::optional<std::string> description) {
    MutexLock lock(mutex_);
    updateFailure_ = std::move(description);
}

std::optional<std::string> SimulatedDesktop::updateRefusal() const {
    MutexLock lock(mutex_);
    return updateFailure_;
}

std::vector<std::shared_ptr<SimulatedWindowStream>> SimulatedDesktop::windowStreams() const {
    MutexLock lock(mutex_);
    return streams_;
}

std::size_t SimulatedDesktop::windowReads() const {
    MutexLock lock(mutex_);
    return windowReads_;
}

void SimulatedDesktop::holdWindowReads() {
    MutexLock lock(mutex_);
    holdingReads_ = true;
}

bool SimulatedDesktop::waitForHeldWindowRead(Duration timeout) {
    UniqueLock lock(mutex_);
    return readsChanged_.wait_for(lock.native(), timeout, [this]() REQUIRES(mutex_) { return heldReads_ > 0; });
}

void SimulatedDesktop::releaseWindowReads() {
    MutexLock lock(mutex_);
    holdingReads_ = false;
    readsChanged_.notify_all();
}

// A held read waits with the desktop's lock let go, so the test can change the desktop meanwhile;
// it then lists the windows as they are once released.
std::optional<std::vector<WindowSource::Window>> SimulatedDesktop::shareableWindows() {
    UniqueLock lock(mutex_);
    ++windowReads_;
    if (holdingReads_) {
        ++heldReads_;
        readsChanged_.notify_all();
        readsChanged_.wait(lock.native(), [this]() REQUIRES(mutex_) { return !holdingReads_; });
        --heldReads_;
    }
    if (!screenRecording_) return std::nullopt;
    std::vector<WindowSource::Window> listed;
    for (const std::uint32_t number : stacking_) {
        const auto [window, app] = findWindow(number);
        if (!window) continue;
        std::optional<Owner> owner;
        if (app) owner = Owner{app->bundleID, app->name, app->processID};
        listed.push_back({window->id, window->title, std::move(owner), window->layer, window->frame,
                          window->onScreen && !window->minimised, window->active});
    }
    return listed;
}

bool SimulatedDesktop::screenLocked() {
    MutexLock lock(mutex_);
    return locked_;
}

std::optional<double> SimulatedDesktop::backingScaleFactor() {
    MutexLock lock(mutex_);
    return backingScale_;
}

std::optional<double> SimulatedDesktop::windowCornerRadius() {
    MutexLock lock(mutex_);
    return cornerRadius_;
}

void SimulatedDesktop::setWindowCornerRadius(std::optional<double> radius) {
    MutexLock lock(mutex_);
    cornerRadius_ = radius;
}

void SimulatedDesktop::setPictureGate(std::function<void(std::uint32_t)> gate) {
    MutexLock lock(mutex_);
    pictureGate_ = std::move(gate);
}

std::size_t SimulatedDesktop::picturesTaken() const {
    MutexLock lock(mutex_);
    return picturesTaken_;
}

Result<RgbPicture> SimulatedDesktop::windowPicture(std::uint32_t window, int width, int height) {
    std::function<void(std::uint32_t)> gate;
    {
        MutexLock lock(mutex_);
        gate = pictureGate_;
    }
    if (gate) gate(window);
    MutexLock lock(mutex_);
    if (!screenRecording_) return fail("The simulated desktop does not let the host capture");
    const Window* found = findWindow(window).first;
    if (!found) return fail("the window has closed");
    if (found->minimised || !found->onScreen) return fail(std::string(windowHidden));
    if (width <= 0 || height <= 0) return fail("the picture has no pixels to scale");
    ++picturesTaken_;
    return RgbPicture::filled(width, height, windowColour(window));
}

Result<RgbPicture> SimulatedDesktop::displayPicture(const Rect&, int width, int height) {
    MutexLock lock(mutex_);
    if (!screenRecording_) return fail("The simulated desktop does not let the host capture");
    if (width <= 0 || height <= 0) return fail("the picture has no pixels to scale");
    ++picturesTaken_;
    return RgbPicture::filled(width, height, displayColour);
}

Result<std::shared_ptr<WindowStream>> SimulatedDesktop::openStream(std::uint32_t window,
                                                                   const WindowStream::Configuration& configuration,
                                                                   std::shared_ptr<Executor> executor,
                                                                   WindowStream::Handlers handlers) {
    MutexLock lock(mutex_);
    if (!screenRecording_) return fail("The simulated desktop does not let the host capture");
    if (openFailure_) return fail(*openFailure_);
    if (!findWindow(window).first) return fail("The window is gone");
    auto refusal = [weak = weak_from_this()]() -> std::optional<std::string> {
        auto desktop = weak.lock();
        return desktop ? desktop->updateRefusal() : std::nullopt;
    };
    auto stream = std::make_shared<SimulatedWindowStream>(window, configuration, std::move(executor),
                                                          std::move(handlers), clock_, std::move(refusal));
    streams_.push_back(stream);
    return std::shared_ptr<WindowStream>(stream);
}

}  // namespace quib
