#pragma once

namespace quib {

// What a listener does with its buffer next (JitterWindow::verdict).
struct AudioDrift {
    enum class Kind {
        skip,  // drop `seconds` of the oldest buffered audio
        play,  // play from the buffer
        fill,  // play silence and let the buffer fill
    };

    Kind kind = Kind::fill;
    double seconds = 0;  // skip only

    static AudioDrift skip(double seconds) { return {Kind::skip, seconds}; }
    static AudioDrift play() { return {Kind::play, 0}; }
    static AudioDrift fill() { return {Kind::fill, 0}; }

    bool operator==(const AudioDrift&) const = default;
};

}  // namespace quib
