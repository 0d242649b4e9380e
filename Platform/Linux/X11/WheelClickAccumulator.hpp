#pragma once

namespace quib {

// Turns pixel scroll deltas on one axis into whole wheel clicks. Pixels that do not make a whole
// click are kept for the next delta, so a run of small deltas still scrolls.
class WheelClickAccumulator {
public:
    // At most this many clicks come out of one delta, so that an absurd delta cannot keep the
    // desktop busy; the pixels beyond them are dropped.
    static constexpr int maxClicks = 100;

    explicit WheelClickAccumulator(double pixelsPerClick) : pixelsPerClick_(pixelsPerClick) {}

    // Adds `pixels` (a delta that is not finite adds nothing) and returns the whole clicks now
    // complete, signed like the delta, keeping the rest.
    int add(double pixels);
    // Forgets the pixels kept.
    void clear() { remainder_ = 0; }
    double remainder() const { return remainder_; }

private:
    double pixelsPerClick_;
    double remainder_ = 0;
};

}  // namespace quib
