#pragma once

#include <cstdint>
#include <vector>

#include "Platform/PasteboardItem.hpp"

namespace quib {

// The desktop's general pasteboard (its clipboard), shared with every other app. Safe on any
// thread; each call is one step, so another app may change the pasteboard between two calls.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // A number that changes whenever the pasteboard's owner or contents change, ours included;
    // compare it only for equality. A write counts once, and the count read after a write of
    // ours already includes it.
    virtual std::int64_t changeCount() = 0;
    // A copy of every item on the pasteboard now, independent of later changes.
    virtual std::vector<PasteboardItem> items() = 0;
    // Leaves the pasteboard empty.
    virtual void clear() = 0;
    // Replaces whatever the pasteboard held with `items`, as one change.
    virtual void write(std::vector<PasteboardItem> items) = 0;
};

}  // namespace quib
