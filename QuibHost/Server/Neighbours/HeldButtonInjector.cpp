#include "QuibHost/Server/Neighbours/HeldButtonInjector.hpp"

namespace quib {

void HeldButtonInjector::releaseAllButtons() {
    std::lock_guard lock(stateLock_);
    held_.clear();
}

void HeldButtonInjector::release(const std::set<MouseButton>& buttons) {
    std::lock_guard lock(stateLock_);
    for (MouseButton button : buttons) held_.erase(button);
}

void HeldButtonInjector::resetScrollPhase() {
    std::lock_guard lock(stateLock_);
    scrollPhase_ = ScrollPhaseState{};
}

bool HeldButtonInjector::isPaused() const {
    std::lock_guard lock(stateLock_);
    return paused_;
}

void HeldButtonInjector::setPaused(bool paused) {
    std::lock_guard lock(stateLock_);
    paused_ = paused;
}

void HeldButtonInjector::press(MouseButton button) {
    std::lock_guard lock(stateLock_);
    held_.insert(button);
}

void HeldButtonInjector::setScrollPhase(ScrollPhaseState state) {
    std::lock_guard lock(stateLock_);
    scrollPhase_ = state;
}

std::set<MouseButton> HeldButtonInjector::heldButtons() const {
    std::lock_guard lock(stateLock_);
    return held_;
}

HeldButtonInjector::ScrollPhaseState HeldButtonInjector::scrollPhase() const {
    std::lock_guard lock(stateLock_);
    return scrollPhase_;
}

}  // namespace quib
