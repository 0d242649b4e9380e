// What the viewers watch: the source follows the active target, starts for the first viewer,
// starts again when the viewers' demand or the target changes, and stops with the last viewer.

#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SecureRandom.hpp"

namespace quib {

namespace {

// What is shown when no target is active: the frontmost app's window.
QuibTarget focusedSubstitute() {
    QuibTarget target;
    target.id = newUuidString();
    target.name = "Focused";
    target.kind = QuibTarget::Kind::frontmost;
    target.symbol = "square.dashed";
    return target;
}

}  // namespace

// Both subscriptions ignore the value current when they begin. The pinned window is not itself
// published, so its first value and its repeats are dropped here.
void PanelStreamer::watchTargets() {
    cancellables_.push_back(targets_->activeTargetID().subscribe(
        whilePresent([this](const std::optional<std::string>&) { restartSource(); }),
        {.skipCurrent = true, .dropRepeats = true, .debounce = targetDebounce}));
    cancellables_.push_back(targets_->targets().subscribe(whilePresent([this](const std::vector<QuibTarget>&) {
                                                              const auto pinned = activePinnedWindow();
                                                              const bool first = !lastPinned_.has_value();
                                                              if (!first && *lastPinned_ == pinned) return;
                                                              lastPinned_ = pinned;
                                                              if (!first) restartSource();
                                                          }),
                                                          {.debounce = targetDebounce}));
}

// Main executor: the pinned window of the active target in the published list.
std::optional<std::uint32_t> PanelStreamer::activePinnedWindow() {
    const auto active = targets_->activeTargetID().value();
    if (!active) return std::nullopt;
    for (const auto& target : targets_->targets().value())
        if (target.id == *active) return target.pinnedWindowID;
    return std::nullopt;
}

void PanelStreamer::restartSource() {
    control_.post([this] {
        if (!closing_.load()) applySource();
    });
}

void PanelStreamer::stopSource() {
    control_.post([this] {
        if (!closing_.load()) stopSourceNow();
    });
}

void PanelStreamer::applySource() {
    std::optional<Demand> demand;
    {
        MutexLock guard(lock_);
        if (!clients_.empty()) demand = demandOf(clients_);
    }
    if (!demand) {
        stopSourceNow();
        return;
    }
    const QuibTarget target = targets_->safeActiveTarget().value_or(focusedSubstitute());
    {
        MutexLock guard(lock_);
        currentTitle_ = target.name;
        if (target.pinnedWindowTitle && !target.pinnedWindowTitle->empty())
            currentTitle_ += std::string(titleSeparator) + *target.pinnedWindowTitle;
    }
    encoder_->forceKeyframe();
    if (target.kind == QuibTarget::Kind::tmux) {
        startMirror(target);
        return;
    }
    mirror_->stop();
    const bool isApp = target.kind == QuibTarget::Kind::app;
    capture_->start(isApp ? target.bundleID : std::nullopt, isApp ? target.pinnedWindowID : std::nullopt, demand->width,
                    demand->height, demand->crop);
}

// Whatever was shown before stops first, so no frame of an earlier pane follows a state that
// says there is nothing to show.
void PanelStreamer::startMirror(const QuibTarget& target) {
    mirror_->stop();
    capture_->stop();
    const std::string pane = target.tmuxTarget.value_or("");
    if (pane.empty()) {
        sendState(target.name + " has no tmux pane", false);
        return;
    }
    if (!tmux_.isAvailable()) {
        sendState(std::string(said<"tmux not found on ", HostWords::thisComputer>), false);
        return;
    }
    mirror_->start(pane, target.name + std::string(titleSeparator) + pane);
}

void PanelStreamer::stopSourceNow() {
    mirror_->stop();
    capture_->stop();
    encoder_->invalidate();
    {
        MutexLock guard(lock_);
        encodesInFlight_ = 0;
        ++sourceEpoch_;
        pacer_.reset();
        lastHandOver_ = MonoTime();
        lastState_.reset();
    }
    applyRateIfDue(false);
}

}  // namespace quib
