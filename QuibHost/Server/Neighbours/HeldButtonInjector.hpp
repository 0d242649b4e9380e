#pragma once

#include <mutex>
#include <optional>
#include <set>

#include "Platform/Clock.hpp"
#include "QuibHost/Server/Neighbours/EventInjectorService.hpp"
#include "Shared/ScrollGesturePhase.hpp"

namespace quib {

// Stands in for the event injector until it exists: it posts no events, but keeps the state the
// server relies on, a held-button set and the scroll-gesture phase, under its state lock.
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

    // What a press and a phase change would record.
    void press(MouseButton button);
    void setScrollPhase(ScrollPhaseState state);

    std::set<MouseButton> heldButtons() const;
    ScrollPhaseState scrollPhase() const;

private:
    mutable std::mutex stateLock_;
    std::set<MouseButton> held_;
    ScrollPhaseState scrollPhase_;
};

}  // namespace quib
