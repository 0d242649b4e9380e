// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Platform/Linux/X11/X11ChangeCount.hpp"

#include <X11/extensions/Xfixes.h>

namespace quib {
namespace {

constexpr Window ours = 0x400001;
constexpr Window theirs = 0x600001;

// Our own changes count when made; the server's later reports of them never count again.
TEST(X11ChangeCount, CountsOurChangesOnceAndNotTheirReports) {
    X11ChangeCount count(ours, true);
    count.ourChange();
    count.ownerNotified(XFixesSetSelectionOwnerNotify, ours, 100);
    EXPECT_EQ(count.value(), 1);

    count.givingUp(200);
    count.ourChange();
    count.selectionCleared(200);
    count.ownerNotified(XFixesSetSelectionOwnerNotify, None, 200);
    EXPECT_EQ(count.value(), 2);
}

TEST(X11ChangeCount, CountsEveryChangeOfOthersThatXFixesReports) {
    X11ChangeCount count(ours, true);
    count.givingUp(200);
    count.ownerNotified(XFixesSetSelectionOwnerNotify, theirs, 300);
    count.selectionCleared(300);  // the same change, seen from the owner it took the selection from
    EXPECT_EQ(count.value(), 1);
    count.ownerNotified(XFixesSelectionClientCloseNotify, None, 300);
    count.ownerNotified(XFixesSetSelectionOwnerNotify, None, 400);
    count.ownerNotified(XFixesSelectionWindowDestroyNotify, None, 200);
    EXPECT_EQ(count.value(), 4);
}

TEST(X11ChangeCount, WithoutXFixesCountsTheLossesOfOurOwnershipButNotOurGivingUp) {
    X11ChangeCount count(ours, false);
    count.ourChange();
    count.ownerNotified(XFixesSetSelectionOwnerNotify, theirs, 300);
    EXPECT_EQ(count.value(), 1);
    count.selectionCleared(300);
    EXPECT_EQ(count.value(), 2);
    count.givingUp(400);
    count.ourChange();
    count.selectionCleared(400);
    EXPECT_EQ(count.value(), 3);
}

}  // namespace
}  // namespace quib
