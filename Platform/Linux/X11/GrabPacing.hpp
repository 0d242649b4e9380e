#pragma once

#include <optional>

#include "Runtime/Clock.hpp"

namespace quib {

// When a window's capture takes its next look, so that a change goes out as soon as it comes,
// yet no more than one picture an interval is taken.
//
// A look either takes a picture, finds nothing new (an idle look), or finds something new it
// cannot take a picture of yet (held back: every picture is still in use, say). Without news
// the looks come one interval apart, each after the last. With news the next look comes at once
// when the last picture is an interval old or more (after an idle spell, say), otherwise when it
// will be: changes that come faster than that are gathered into that one picture, which takes
// the last of them. After a look that was held back the next waits an interval.
//
// An app often draws one change in several requests: a change of the window's contents is taken
// once they have been still for `settle`, yet no later than `settleCap` after the first change
// since the last picture. The first picture is taken at once.
class GrabPacing {
public:
    enum class Look { picture, idle, heldBack };

    struct Timing {
        Duration interval;
        Duration settle{};
        Duration settleCap{};
    };

    // The first look is due at once.
    GrabPacing(Timing timing, MonoTime start) : timing_(timing), lastLook_(start - timing.interval) {}

    // When the next look is due, with or without news since the last one.
    MonoTime nextLook(bool news) const;
    void looked(MonoTime at, Look look);
    // The window's contents changed, at `at`.
    void changed(MonoTime at);

private:
    Timing timing_;
    MonoTime lastLook_;
    Look last_ = Look::idle;
    std::optional<MonoTime> lastPicture_;
    std::optional<MonoTime> firstChange_;  // since the last picture
    MonoTime lastChange_{};
};

}  // namespace quib
