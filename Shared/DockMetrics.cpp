#include "Shared/DockMetrics.hpp"

#include <algorithm>

namespace quib {

DockMetrics::Layout DockMetrics::layout(int tiles, bool hasDivider, double width, double ceiling, double floor) {
    // No tiles, or no usable width (a width that is not a number included): nothing to divide.
    if (tiles < 1 || !(width > 0)) return {ceiling, spacing, false};

    const double n = tiles;
    const double gaps = hasDivider ? n : n - 1;  // the divider counts as one more item
    const double divider = hasDivider ? dividerWidth : 0;
    for (const double gap : {spacing, tightSpacing}) {
        const double side = (width - divider - gaps * gap) / n;
        if (side >= floor) return {std::min(ceiling, side), gap, false};
    }
    return {floor, tightSpacing, true};
}

}  // namespace quib
