#include <gtest/gtest.h>

#include "Shared/PointerLanding.hpp"

using quib::Point;
using quib::PointerLanding;
using quib::Rect;

namespace {
const Rect kLeft{0, 0, 1000, 800};
const Rect kRight{1000, 0, 1000, 800};
const Point kFarAway{5000, 5000};
}  // namespace

TEST(Rect, ContainsIncludesMinimumEdgesOnlyAndNegativeSizesAreStandardized) {
    const Rect r{10, 20, 30, 40};
    EXPECT_TRUE(r.contains({10, 20}));
    EXPECT_FALSE(r.contains({40, 30}));
    EXPECT_FALSE(r.contains({20, 60}));
    const Rect flipped{40, 60, -30, -40};
    EXPECT_EQ(flipped.standardized(), r);
    EXPECT_TRUE(flipped.contains({10, 20}));
    EXPECT_EQ(flipped.intersection(Rect{0, 0, 20, 30}), (Rect{10, 20, 10, 10}));
    EXPECT_EQ(r.intersection(Rect{100, 100, 5, 5}), std::nullopt);
}

TEST(PointerLanding, ThinWindowsAndWindowsOffEveryScreenGiveNoLanding) {
    EXPECT_EQ(PointerLanding::landing({100, 100, 0.5, 300}, kFarAway, {kLeft}), std::nullopt);
    EXPECT_EQ(PointerLanding::landing({100, 100, 300, -0.5}, kFarAway, {}), std::nullopt);
    EXPECT_EQ(PointerLanding::landing({3000, 100, 300, 300}, kFarAway, {kLeft, kRight}), std::nullopt);
    // Only a sliver under a point wide is on screen.
    EXPECT_EQ(PointerLanding::landing({1999.5, 100, 300, 300}, kFarAway, {kLeft, kRight}), std::nullopt);
}

TEST(PointerLanding, LandsInTheLargerVisiblePartAndTheEarlierScreenOnATie) {
    // 800 points on the right screen, 200 on the left.
    EXPECT_EQ(PointerLanding::landing({800, 100, 1000, 200}, kFarAway, {kLeft, kRight}), (Point{1400, 200}));
    // Equal halves: the first screen listed wins.
    EXPECT_EQ(PointerLanding::landing({500, 100, 1000, 200}, kFarAway, {kLeft, kRight}), (Point{750, 200}));
    EXPECT_EQ(PointerLanding::landing({500, 100, 1000, 200}, kFarAway, {kRight, kLeft}), (Point{1250, 200}));
}

TEST(PointerLanding, NoScreensUseTheWholeWindowAndAPointerInsideStaysPut) {
    EXPECT_EQ(PointerLanding::landing({100, 100, 200, 100}, kFarAway, {}), (Point{200, 150}));
    EXPECT_EQ(PointerLanding::landing({800, 100, 1000, 200}, {1500, 150}, {kLeft, kRight}), std::nullopt);
    // Inside the window but on its smaller part: the pointer is moved to the larger one.
    EXPECT_EQ(PointerLanding::landing({800, 100, 1000, 200}, {900, 150}, {kLeft, kRight}), (Point{1400, 200}));
}
