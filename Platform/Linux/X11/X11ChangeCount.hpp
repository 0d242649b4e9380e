#pragma once

#include <cstdint>
#include <optional>

#include <X11/Xlib.h>

namespace quib {

// The clipboard's change count: one more for every change of its owner or contents, ours
// included, and never more than one for a change.
//
// The server reports changes of ownership after the fact, ours among them. Our own changes
// count when they are made, so that the count read right after one of them already holds it;
// their reports, when they come, are known by their owner (our window) or, for giving the
// selection up, by the time we gave it up at, and are not counted again. Other clients' changes
// count when they are reported: through XFixes where the server has it, otherwise only the loss
// of our own ownership can be seen, as a SelectionClear.
//
// Kept by the clipboard's own thread; not safe to share.
class X11ChangeCount {
public:
    // `window` is ours; `ownerNotices` says whether XFixes reports the owner's changes.
    X11ChangeCount(Window window, bool ownerNotices) : window_(window), ownerNotices_(ownerNotices) {}

    std::int64_t value() const { return value_; }

    // We took the selection, or gave it up, just now.
    void ourChange() { ++value_; }
    // We are about to give the selection up, at server time `time`.
    void givingUp(Time time) { gaveUpAt_ = time; }

    // XFixes reports a change: its kind (XFixesSetSelectionOwnerNotify, ...), the new owner and
    // the time the selection last changed.
    void ownerNotified(int subtype, Window owner, Time selectionTime);
    // We lost the selection, at server time `time`.
    void selectionCleared(Time time);

private:
    bool isOurGiveUp(Time time) const { return gaveUpAt_ && *gaveUpAt_ == time; }

    Window window_;
    bool ownerNotices_;
    std::int64_t value_ = 0;
    std::optional<Time> gaveUpAt_;
};

}  // namespace quib
