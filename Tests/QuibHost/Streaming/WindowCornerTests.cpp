#include <gtest/gtest.h>

#include <limits>

#include "QuibHost/Streaming/WindowCorner.hpp"

using namespace quib;

TEST(WindowCorner, TinyWindowsAreNotRounded) {
    const WindowCorner corner(Settings::inMemory());
    EXPECT_FALSE(corner.radiusFraction(60, 800));
    EXPECT_FALSE(corner.radiusFraction(800, 67.2));  // exactly four radii high
    EXPECT_FALSE(corner.radiusFraction(0, 0));
    EXPECT_FALSE(corner.radiusFraction(std::numeric_limits<double>::quiet_NaN(), 600));
    ASSERT_TRUE(corner.radiusFraction(800, 600));
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600), 0.021);
}

TEST(WindowCorner, RadiusSettingIsReadAtEveryCallWithinItsRange) {
    const auto settings = Settings::inMemory();
    const WindowCorner corner(settings);
    (void)settings->setReal(WindowCorner::radiusKey, 10);
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600), 0.0125);
    (void)settings->setInteger(WindowCorner::radiusKey, 20);
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600), 0.025);
    for (double outside : {40.0, 0.0, -3.0}) {
        (void)settings->setReal(WindowCorner::radiusKey, outside);
        EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600), 0.021) << outside;
    }
    (void)settings->setString(WindowCorner::radiusKey, "10");
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600), 0.021);
}
