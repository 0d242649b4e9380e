#include "Platform/Linux/X11/X11ChangeCount.hpp"

#include <X11/extensions/Xfixes.h>

namespace quib {

void X11ChangeCount::ownerNotified(int subtype, Window owner, Time selectionTime) {
    if (!ownerNotices_ || owner == window_) return;
    if (subtype == XFixesSetSelectionOwnerNotify && owner == None && isOurGiveUp(selectionTime)) return;
    ++value_;
}

// With XFixes the same change is reported as a new owner; our own giving up also clears us.
void X11ChangeCount::selectionCleared(Time time) {
    if (ownerNotices_ || isOurGiveUp(time)) return;
    ++value_;
}

}  // namespace quib
