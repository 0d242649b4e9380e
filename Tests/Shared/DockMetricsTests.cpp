#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Shared/DockMetrics.hpp"

using quib::DockMetrics;
using Layout = DockMetrics::Layout;

namespace {
Layout fit(int tiles, bool divider, double width) { return DockMetrics::layout(tiles, divider, width, 62, 44); }
}  // namespace

TEST(DockMetrics, NoTilesOrNoWidthGiveTheCeilingPassedIn) {
    EXPECT_EQ(DockMetrics::layout(0, false, 300, 50, 44), (Layout{50, 8, false}));
    EXPECT_EQ(DockMetrics::layout(5, true, 0, 50, 44), (Layout{50, 8, false}));
    EXPECT_EQ(DockMetrics::layout(5, false, -10, 50, 44), (Layout{50, 8, false}));
    EXPECT_EQ(DockMetrics::layout(5, false, std::numeric_limits<double>::quiet_NaN(), 50, 44), (Layout{50, 8, false}));
}

TEST(DockMetrics, NormalGapWhenItFitsWithAndWithoutDivider) {
    const Layout plain = fit(5, false, 300);  // (300 - 4 * 8) / 5
    EXPECT_DOUBLE_EQ(plain.side, 53.6);
    EXPECT_EQ(plain.spacing, 8);
    EXPECT_FALSE(plain.overflows);
    const Layout divided = fit(5, true, 300);  // (300 - 7 - 5 * 8) / 5
    EXPECT_DOUBLE_EQ(divided.side, 50.6);
    EXPECT_EQ(divided.spacing, 8);
    EXPECT_FALSE(divided.overflows);
}

TEST(DockMetrics, TightGapThenOverflowAtTheFloor) {
    const Layout tight = fit(6, false, 300);  // normal 43.3 is too small; (300 - 5 * 4) / 6
    EXPECT_DOUBLE_EQ(tight.side, 280.0 / 6);
    EXPECT_EQ(tight.spacing, 4);
    EXPECT_FALSE(tight.overflows);
    EXPECT_EQ(fit(6, false, 280), (Layout{44, 4, true}));
}

TEST(DockMetrics, WideRowsNeverExceedTheCeiling) {
    EXPECT_EQ(fit(3, true, 2000), (Layout{62, 8, false}));
    EXPECT_EQ(DockMetrics::layout(1, false, 2000, 40, 20), (Layout{40, 8, false}));
}
