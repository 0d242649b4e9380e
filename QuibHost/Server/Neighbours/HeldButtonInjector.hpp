#pragma once

#include <mutex>
#include <optional>
#include <set>

#include "Platform/Clock.hpp"
#include "QuibHost/Server/Neighbours/EventInjectorService.hpp"
#include "Shared/ScrollGesturePhase.hpp"

namespace quib {

// Stands in for the event injector until it exists: it posts no events, but keeps the state the
// server relies on, a held-button set, the scroll-gesture phase and the pause flag, under its
// state lock. Its input interface is never disabled.
class HeldButtonInjector final : public EventInjectorService {
public:
    struct ScrollPhaseState {
        std::optional<ScrollGesturePhase> gesture;
        std::optional<ScrollGesturePhase> momentum;
        bool hasSentFirst = false;
        MonoTime lastEventAt = MonoTime::min();
        bool operator==(const ScrollPhaseState&) const = default;
    };

    void releaseAllButtons() override;
    void release(const std::set<MouseButton>& buttons) override;
    void resetScrollPhase() override;
    bool isPaused() const override;
    void setPaused(bool paused) override;
    bool apiDisabled() const override { return false; }
    bool revalidateTrust(bool processTrusted) override { return processTrusted; }

    // What a press and a phase change would record.
    void press(MouseButton button);
    void setScrollPhase(ScrollPhaseState state);

    std::set<MouseButton> heldButtons() const;
    ScrollPhaseState scrollPhase() const;

private:
    mutable std::mutex stateLock_;
    std::set<MouseButton> held_;
    ScrollPhaseState scrollPhase_;
    bool paused_ = false;
};

}  // namespace quib
