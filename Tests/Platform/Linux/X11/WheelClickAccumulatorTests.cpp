#include "Platform/Linux/X11/WheelClickAccumulator.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace quib {
namespace {

TEST(WheelClickAccumulator, KeepsWhatDoesNotMakeAWholeClickForTheNextDelta) {
    WheelClickAccumulator wheel(20);
    EXPECT_EQ(wheel.add(45), 2);
    EXPECT_DOUBLE_EQ(wheel.remainder(), 5);
    EXPECT_EQ(wheel.add(-10), 0);
    EXPECT_DOUBLE_EQ(wheel.remainder(), -5);
    EXPECT_EQ(wheel.add(-15), -1);
    EXPECT_DOUBLE_EQ(wheel.remainder(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(wheel.add(6), 0);
    EXPECT_EQ(wheel.add(6), 1);
    wheel.add(7);
    wheel.clear();
    EXPECT_EQ(wheel.add(19), 0);
}

TEST(WheelClickAccumulator, BoundsTheClicksOfAnAbsurdDeltaAndIgnoresOnesThatAreNotNumbers) {
    WheelClickAccumulator wheel(20);
    EXPECT_EQ(wheel.add(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(wheel.add(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(wheel.add(2147483647.0), WheelClickAccumulator::maxClicks);
    EXPECT_LT(wheel.remainder(), 20);
    EXPECT_EQ(wheel.add(-1e300), -WheelClickAccumulator::maxClicks);
    EXPECT_GT(wheel.remainder(), -20);
}

}  // namespace
}  // namespace quib
