#include "Platform/Simulated/SimulatedDesktop.hpp"

#include "Runtime/FakeClock.hpp"

namespace quib {

SimulatedDesktop::SimulatedDesktop(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : std::make_shared<FakeClock>()) {}

DesktopServices SimulatedDesktop::services() {
    auto self = shared_from_this();
    return {self, self, self, self, self, self, self, self, self, self, nullptr};
}

void SimulatedDesktop::post(const InputEvent& event) {
    MutexLock lock(mutex_);
    events_.push_back(event);
    apply(event);
}

// A mouse event puts the pointer where it says and presses or lets go of its button; a key
// press lands in the focused app.
void SimulatedDesktop::apply(const InputEvent& event) {
    if (event.isMouse()) {
        pointer_ = event.location;
        switch (event.type) {
            case EventType::leftMouseDown:
            case EventType::rightMouseDown:
            case EventType::otherMouseDown: pressed_.insert(event.mouseButton); break;
            case EventType::leftMouseUp:
            case EventType::rightMouseUp:
            case EventType::otherMouseUp: pressed_.erase(event.mouseButton); break;
            default: break;
        }
    } else if (event.type == EventType::keyDown) {
        land(event);
    }
}

void SimulatedDesktop::land(const InputEvent& event) {
    if (!focused_) return;
    App& app = apps_[*focused_];
    app.keys.push_back({event.keyCode, event.flags});
    constexpr std::uint64_t modifiers =
        EventFlags::shift | EventFlags::control | EventFlags::option | EventFlags::command;
    if (event.keyCode == pasteKeyCode && (event.flags & modifiers) == EventFlags::command) {
        app.pastes.push_back(pasteboard_.items());
    }
}

Point SimulatedDesktop::pointerLocation() {
    MutexLock lock(mutex_);
    return pointer_;
}

std::optional<std::vector<Rect>> SimulatedDesktop::activeDisplayBounds() {
    MutexLock lock(mutex_);
    ++displayQueries_;
    return displays_;
}

Subscription SimulatedDesktop::onChange(std::function<void()> changed) {
    MutexLock lock(mutex_);
    const std::uint64_t id = nextWatcher_++;
    displayWatchers_[id] = std::make_shared<std::function<void()>>(std::move(changed));
    return Subscription([weak = weak_from_this(), id] {
        if (auto desktop = weak.lock()) {
            MutexLock lock(desktop->mutex_);
            desktop->displayWatchers_.erase(id);
        }
    });
}

void SimulatedDesktop::setDisplays(std::optional<std::vector<Rect>> bounds) {
    std::vector<std::shared_ptr<std::function<void()>>> watchers;
    {
        MutexLock lock(mutex_);
        displays_ = std::move(bounds);
        for (const auto& [id, watcher] : displayWatchers_) watchers.push_back(watcher);
    }
    // Outside the lock: a watcher may ask for the displays again.
    for (const auto& watcher : watchers) (*watcher)();
}

std::size_t SimulatedDesktop::displayQueries() const {
    MutexLock lock(mutex_);
    return displayQueries_;
}

std::int32_t SimulatedDesktop::focusedElementError() {
    MutexLock lock(mutex_);
    return focusedElementError_;
}

bool SimulatedDesktop::accessibilityTrusted() const {
    MutexLock lock(mutex_);
    return trusted_;
}

bool SimulatedDesktop::screenRecordingGranted() const {
    MutexLock lock(mutex_);
    return screenRecording_;
}

std::string SimulatedDesktop::accessibilityHelp() const { return "The simulated desktop does not trust the host."; }

std::string SimulatedDesktop::screenRecordingHelp() const {
    return screenRecordingGranted() ? "The simulated desktop lets the host capture its windows."
                                    : "The simulated desktop's screen recording switch is off.";
}

void SimulatedDesktop::setPointer(Point location) {
    MutexLock lock(mutex_);
    pointer_ = location;
}

std::set<std::int64_t> SimulatedDesktop::pressedButtons() const {
    MutexLock lock(mutex_);
    return pressed_;
}

std::vector<InputEvent> SimulatedDesktop::events() const {
    MutexLock lock(mutex_);
    return events_;
}

void SimulatedDesktop::clearEvents() {
    MutexLock lock(mutex_);
    events_.clear();
}

bool SimulatedDesktop::focusIsTerminal() {
    MutexLock lock(mutex_);
    return focusIsTerminal_;
}

void SimulatedDesktop::setFocusIsTerminal(bool terminal) {
    MutexLock lock(mutex_);
    focusIsTerminal_ = terminal;
}

void SimulatedDesktop::setTrusted(bool trusted) {
    MutexLock lock(mutex_);
    trusted_ = trusted;
}

void SimulatedDesktop::setFocusedElementError(std::int32_t error) {
    MutexLock lock(mutex_);
    focusedElementError_ = error;
}

void SimulatedDesktop::setScreenRecordingGranted(bool granted) {
    MutexLock lock(mutex_);
    screenRecording_ = granted;
}

}  // namespace quib
