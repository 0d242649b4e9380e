#pragma once

namespace quib {

// Sizes a row ("dock") of equal square tiles, optionally split by one divider, to fit a width:
// as large as the ceiling allows with the normal gap, else with the tight gap, else the floor
// size, overflowing.
struct DockMetrics {
    static constexpr double ceiling = 62;      // largest tile side
    static constexpr double floor = 44;        // smallest tile side
    static constexpr double spacing = 8;       // normal gap between items
    static constexpr double tightSpacing = 4;  // gap used when the normal one does not fit
    static constexpr double dividerWidth = 7;  // width taken by the divider

    struct Layout {
        double side = 0;
        double spacing = 0;
        bool overflows = false;  // the tiles do not fit even at the floor size
        bool operator==(const Layout&) const = default;
    };

    static Layout layout(int tiles, bool hasDivider, double width, double ceiling, double floor);
};

}  // namespace quib
