#pragma once

#include "Shared/AudioDrift.hpp"

namespace quib {

// A listener's adaptive playout target: how many seconds of audio to hold buffered. Each
// underrun grows the target; every 20 s of playing without one lowers it a step.
struct JitterWindow {
    static constexpr double minimum = 0.09;
    static constexpr double maximum = 0.45;
    static constexpr double growth = 0.043;
    static constexpr double decay = 0.03;
    static constexpr double calm = 20.0;

    double target = minimum;  // seconds of audio to hold
    double quiet = 0;         // seconds played since the last underrun or lowering

    // The target held within minimum...maximum (a NaN gives the minimum).
    explicit JitterWindow(double target);

    // Past this depth the buffer is cut back to the target: 3 × target + 0.06 s, at most 1.35 s.
    double ceiling() const;
    // The buffer ran dry while playing.
    void noteUnderrun();
    // `seconds` were played without an underrun. Nothing happens at the minimum target.
    void noteClean(double seconds);
    // What to do with `depth` seconds buffered.
    AudioDrift verdict(double depth, bool isPlaying) const;

    bool operator==(const JitterWindow&) const = default;
};

}  // namespace quib
