#include <gtest/gtest.h>

#include <limits>

#include "QuibHost/Streaming/WindowCorner.hpp"

using namespace quib;

namespace {

constexpr double rounded = WindowCorner::defaultRadius;
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

struct CornerCase {
    const char* what;
    std::optional<double> setting;  // none: not set
    std::optional<double> desktop;
    double width, height, shown;
    std::optional<double> fraction;
};

}  // namespace

TEST(WindowCorner, TheSettingOrTheDesktopGivesTheRadiusOverThePicturesWidth) {
    const CornerCase cases[] = {
        {"a rounded desktop's window", {}, rounded, 800, 600, 800, 0.021},
        {"too narrow to round", {}, rounded, 60, 800, 60, {}},
        {"exactly four radii high", {}, rounded, 800, 67.2, 800, {}},
        {"no size", {}, rounded, 0, 0, 0, {}},
        {"a width that is not a number", {}, rounded, notANumber, 600, notANumber, {}},
        {"a crop of half the width", {}, rounded, 800, 600, 400, 0.042},
        {"square corners", {}, {}, 800, 600, 800, {}},
        {"square corners, the setting asks for some", 10.0, {}, 800, 600, 800, 0.0125},
        {"the setting over the desktop's", 20.0, rounded, 800, 600, 800, 0.025},
        {"40 falls back to the desktop's", 40.0, rounded, 800, 600, 800, 0.021},
        {"0 falls back to the desktop's", 0.0, rounded, 800, 600, 800, 0.021},
        {"0 on square corners", 0.0, {}, 800, 600, 800, {}},
        {"negative on square corners", -3.0, {}, 800, 600, 800, {}},
    };
    for (const auto& row : cases) {
        const auto settings = Settings::inMemory();
        if (row.setting) (void)settings->setReal(WindowCorner::radiusKey, *row.setting);
        const WindowCorner corner(settings);
        const auto fraction = corner.radiusFraction(row.width, row.height, row.shown, row.desktop);
        ASSERT_EQ(fraction.has_value(), row.fraction.has_value()) << row.what;
        if (fraction) {
            EXPECT_DOUBLE_EQ(*fraction, *row.fraction) << row.what;
        }
    }
}

TEST(WindowCorner, TheSettingIsReadAtEveryCallAndOnlyAsANumber) {
    const auto settings = Settings::inMemory();
    const WindowCorner corner(settings);
    (void)settings->setReal(WindowCorner::radiusKey, 10);
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600, 800, std::nullopt), 0.0125);
    (void)settings->setInteger(WindowCorner::radiusKey, 20);
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600, 800, std::nullopt), 0.025);
    (void)settings->setString(WindowCorner::radiusKey, "10");
    EXPECT_FALSE(corner.radiusFraction(800, 600, 800, std::nullopt));
    EXPECT_DOUBLE_EQ(*corner.radiusFraction(800, 600, 800, rounded), 0.021);
}
