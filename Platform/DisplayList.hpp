#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "Runtime/Geometry.hpp"
#include "Runtime/Published.hpp"

namespace quib {

// The active displays and word of their changes. Safe on any thread.
class DisplayList {
public:
    virtual ~DisplayList() = default;

    // The bounds of every active display in global display coordinates, in the desktop's own
    // order; none when the desktop could not be asked. May be slow: callers cache it.
    virtual std::optional<std::vector<Rect>> activeDisplayBounds() = 0;

    // Calls `changed` after every change of the displays (added, removed, moved, resized), on a
    // thread of the list's choosing, until the subscription ends. `changed` must be quick.
    virtual Subscription onChange(std::function<void()> changed) = 0;
};

}  // namespace quib
