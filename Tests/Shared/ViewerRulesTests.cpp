// Rules a viewer applies: which part of the window to ask for as it zooms, and how long to hold
// pictures back for the sound.

#include <gtest/gtest.h>

#include <limits>

#include "Shared/MirrorCrop.hpp"
#include "Shared/VideoHold.hpp"

using namespace quib;

namespace {

void expectRect(const std::optional<Rect>& actual, const Rect& expected) {
    ASSERT_TRUE(actual);
    EXPECT_NEAR(actual->x, expected.x, 1e-12);
    EXPECT_NEAR(actual->y, expected.y, 1e-12);
    EXPECT_NEAR(actual->width, expected.width, 1e-12);
    EXPECT_NEAR(actual->height, expected.height, 1e-12);
}

}  // namespace

TEST(MirrorCrop, CroppingStartsPastThreePointTwoAndEndsAtTwoAndAHalf) {
    expectRect(MirrorCrop::wanted(Rect{0.4, 0.4, 0.3, 0.3}, MirrorCrop::whole), Rect{0.34, 0.34, 0.42, 0.42});
    EXPECT_FALSE(MirrorCrop::wanted(Rect{0.4, 0.4, 0.35, 0.35}, MirrorCrop::whole));
    EXPECT_EQ(MirrorCrop::wanted(MirrorCrop::whole, Rect{0.05, 0.05, 0.4, 0.4}), MirrorCrop::whole);
    EXPECT_EQ(MirrorCrop::wanted(Rect{0.1, 0.1, 0.4, 0.4}, Rect{0.05, 0.05, 0.4, 0.4}), MirrorCrop::whole);
    EXPECT_FALSE(MirrorCrop::wanted(Rect{0.4, 0.4, 0, 0.3}, MirrorCrop::whole));
    EXPECT_FALSE(MirrorCrop::wanted(Rect{0.4, 0.4, std::numeric_limits<double>::quiet_NaN(), 0.3}, MirrorCrop::whole));
}

TEST(MirrorCrop, ACropIsRenewedOnlyWhenTheViewLeavesItOrShrinksWithinIt) {
    const Rect streaming{0.05, 0.05, 0.4, 0.4};
    EXPECT_FALSE(MirrorCrop::wanted(Rect{0.1, 0.1, 0.25, 0.25}, streaming));
    EXPECT_FALSE(MirrorCrop::wanted(Rect{0.205, 0.1, 0.25, 0.25}, streaming));  // out by less than the slack
    expectRect(MirrorCrop::wanted(Rect{0.3, 0.1, 0.25, 0.25}, streaming), Rect{0.25, 0.05, 0.35, 0.35});
    expectRect(MirrorCrop::wanted(Rect{0.1, 0.1, 0.15, 0.15}, streaming), Rect{0.07, 0.07, 0.21, 0.21});
}

TEST(MirrorCrop, GrowingKeepsTheRectangleInsideTheUnitSquare) {
    expectRect(MirrorCrop::grown(Rect{0.9, 0.9, 0.1, 0.1}, 1.4), Rect{0.86, 0.86, 0.14, 0.14});
    expectRect(MirrorCrop::grown(Rect{0, 0.2, 0.9, 0.1}, 1.4), Rect{0, 0.18, 1, 0.14});
    EXPECT_TRUE(MirrorCrop::surrounds(Rect{0.1, 0.1, 0.2, 0.2}, Rect{0.095, 0.1, 0.21, 0.2}, 0.01));
    EXPECT_FALSE(MirrorCrop::surrounds(Rect{0.1, 0.1, 0.2, 0.2}, Rect{0.1, 0.1, 0.2, 0.22}, 0.01));
}

TEST(VideoHold, HoldsForTheSoundsLeadPastTheDeadbandUpToTheMaximum) {
    EXPECT_DOUBLE_EQ(VideoHold::seconds(0.30, 0.10), 0.30 - 0.10);
    EXPECT_DOUBLE_EQ(VideoHold::seconds(0.50, 0.10), 0.28);
    EXPECT_EQ(VideoHold::seconds(0.12, 0.10), 0);
    EXPECT_EQ(VideoHold::seconds(0.10, 0.30), 0);
    EXPECT_EQ(VideoHold::seconds(std::nullopt, 0.10), 0);
    EXPECT_EQ(VideoHold::seconds(0.30, std::nullopt), 0);
}
