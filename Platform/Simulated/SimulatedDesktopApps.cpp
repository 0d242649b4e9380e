// The apps and windows of the simulated desktop: what is installed, what runs, which app has
// focus, the host's launches and activations, raising windows, and the documents apps show.

#include <algorithm>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

void SimulatedDesktop::install(const std::string& bundleID) {
    MutexLock lock(mutex_);
    installed_.insert(bundleID);
}

void SimulatedDesktop::setLaunchDelay(std::optional<Duration> delay) {
    MutexLock lock(mutex_);
    launchDelay_ = delay;
}

std::size_t SimulatedDesktop::launchRequests() const {
    MutexLock lock(mutex_);
    return launchRequests_;
}

void SimulatedDesktop::setActivationRefused(bool refused) {
    MutexLock lock(mutex_);
    refusesActivation_ = refused;
}

void SimulatedDesktop::start(const std::string& bundleID, bool withProcessID) {
    MutexLock lock(mutex_);
    startLocked(bundleID, withProcessID);
}

void SimulatedDesktop::startLocked(const std::string& bundleID, bool withProcessID) {
    if (apps_.contains(bundleID)) return;
    const std::int64_t processID = withProcessID ? nextProcessID_++ : 0;
    apps_.emplace(bundleID, App{bundleID, bundleID, processID, {}, {}, {}, std::nullopt});
    started_.push_back(ListedApp{bundleID, processID});
}

std::int64_t SimulatedDesktop::startUnlisted() {
    MutexLock lock(mutex_);
    started_.push_back(ListedApp{std::nullopt, nextProcessID_++});
    return started_.back().processID;
}

void SimulatedDesktop::quit(const std::string& bundleID) {
    MutexLock lock(mutex_);
    apps_.erase(bundleID);
    std::erase_if(started_, [&](const ListedApp& app) { return app.bundleID == bundleID; });
    if (focused_ == bundleID) focused_.reset();
}

void SimulatedDesktop::openWindow(const std::string& bundleID, Window window) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    if (found == apps_.end()) return;
    stackInFront(window.id);
    found->second.windows.push_back(std::move(window));
}

void SimulatedDesktop::focus(const std::optional<std::string>& bundleID) {
    MutexLock lock(mutex_);
    if (bundleID && !apps_.contains(*bundleID)) return;
    focused_ = bundleID;
}

std::optional<std::string> SimulatedDesktop::focusedApp() const {
    MutexLock lock(mutex_);
    return focused_;
}

std::optional<SimulatedDesktop::App> SimulatedDesktop::app(const std::string& bundleID) const {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    if (found == apps_.end()) return std::nullopt;
    return found->second;
}

bool SimulatedDesktop::isInstalled(const std::string& bundleID) {
    MutexLock lock(mutex_);
    return installed_.contains(bundleID);
}

std::vector<Workspace::RunningApp> SimulatedDesktop::runningInstances(const std::string& bundleID) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    if (found == apps_.end()) return {};
    return {RunningApp{bundleID, found->second.processID}};
}

bool SimulatedDesktop::activate(const RunningApp& app) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(app.bundleID);
    if (refusesActivation_ || found == apps_.end() || found->second.processID != app.processID) return false;
    focused_ = app.bundleID;
    return true;
}

// Without a delay the app runs at once; otherwise it comes up later, by the desktop's clock,
// unless the launch never completes. The timer is set outside the lock: a clock may fire it at
// once.
Result<void> SimulatedDesktop::launch(const std::string& bundleID) {
    std::optional<Duration> delay;
    {
        MutexLock lock(mutex_);
        if (!installed_.contains(bundleID)) return fail(bundleID + " isn't installed");
        ++launchRequests_;
        delay = launchDelay_;
        if (delay && *delay <= Duration::zero()) startLocked(bundleID);
    }
    if (!delay || *delay <= Duration::zero()) return {};
    (void)clock_->scheduleAfter(*delay, [weak = weak_from_this(), bundleID] {
        if (auto desktop = weak.lock()) desktop->start(bundleID);
    });
    return {};
}

std::optional<Workspace::RunningApp> SimulatedDesktop::frontmostApp() {
    MutexLock lock(mutex_);
    if (!focused_) return std::nullopt;
    return RunningApp{*focused_, apps_.at(*focused_).processID};
}

std::vector<Workspace::ListedApp> SimulatedDesktop::runningApps() {
    MutexLock lock(mutex_);
    return started_;
}

WindowRoster::Raise SimulatedDesktop::raise(std::uint32_t windowID, const std::string& bundleID,
                                            const std::string& name, bool movingPointer) {
    return bringForward(windowID, bundleID, name, false, movingPointer);
}

WindowRoster::Raise SimulatedDesktop::open(std::uint32_t windowID, const std::string& bundleID,
                                           const std::string& name) {
    return bringForward(windowID, bundleID, name, true, false);
}

// The window becomes the app's main one, the active one and the front one, and the app takes
// focus, unless activation is refused; like a real desktop's, a refused activation still leaves
// the window raised.
WindowRoster::Raise SimulatedDesktop::bringForward(std::uint32_t windowID, const std::string& bundleID,
                                                   const std::string& name, bool opening, bool movingPointer) {
    MutexLock lock(mutex_);
    if (!trusted_) return Raise::refused(std::string(accessibilityRefusal));
    const auto found = apps_.find(bundleID);
    if (found == apps_.end()) return Raise::refused(notRunningText(name));
    App& app = found->second;
    const auto window =
        std::find_if(app.windows.begin(), app.windows.end(), [&](const Window& w) { return w.id == windowID; });
    if (window == app.windows.end()) return Raise::refused(std::string(closedText));
    if (window->minimised && !opening) return Raise::refused(minimisedText(window->title));
    window->minimised = false;
    app.mainWindow = windowID;
    for (auto& [id, each] : apps_)
        for (Window& other : each.windows) other.active = other.id == windowID;
    for (Window& other : unownedWindows_) other.active = false;
    stackInFront(windowID);
    if (!refusesActivation_) focused_ = bundleID;
    return Raise::raisedWindow(window->title, movingPointer ? std::optional(window->frame) : std::nullopt);
}

std::optional<Rect> SimulatedDesktop::frontWindowFrame(const std::string& bundleID) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    if (!trusted_ || found == apps_.end()) return std::nullopt;
    const App& app = found->second;
    const Window* front = nullptr;
    for (const Window& window : app.windows) {
        if (window.minimised) continue;
        if (app.mainWindow == window.id) return window.frame;
        const auto area = [](const Window& w) { return w.sized ? w.frame.width * w.frame.height : 0.0; };
        if (!front || area(window) > area(*front)) front = &window;
    }
    if (!front) return std::nullopt;
    return front->frame;
}

std::vector<WindowRoster::AccessibleWindow> SimulatedDesktop::accessibleWindows(const std::string& bundleID) {
    MutexLock lock(mutex_);
    const auto found = apps_.find(bundleID);
    std::vector<AccessibleWindow> windows;
    if (!trusted_ || found == apps_.end()) return windows;
    const App& app = found->second;
    for (const std::uint32_t number : stacking_) {
        for (const Window& window : app.windows) {
            if (window.id != number) continue;
            AccessibleWindow described;
            if (window.numbered) described.number = window.id;
            described.title = window.title;
            described.minimised = window.minimised;
            if (window.sized) described.size = WindowSize{window.frame.width, window.frame.height};
            described.main = app.mainWindow == window.id && !window.minimised;
            windows.push_back(std::move(described));
        }
    }
    return windows;
}

void SimulatedDesktop::setDocumentURL(std::int64_t processID, std::optional<std::string> url) {
    MutexLock lock(mutex_);
    if (url) documentURLs_[processID] = std::move(*url);
    else documentURLs_.erase(processID);
}

std::size_t SimulatedDesktop::documentQueries() const {
    MutexLock lock(mutex_);
    return documentQueries_;
}

std::optional<std::string> SimulatedDesktop::documentURL(std::int64_t processID) {
    MutexLock lock(mutex_);
    ++documentQueries_;
    const auto found = documentURLs_.find(processID);
    if (found == documentURLs_.end()) return std::nullopt;
    return found->second;
}

}  // namespace quib
