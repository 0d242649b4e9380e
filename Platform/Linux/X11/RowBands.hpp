#pragma once

#include <cstddef>
#include <vector>

namespace quib {

// The rows a window's changes touched, gathered into a few bands to read again: each band is
// one request to the X server, so a handful of wide ones cost less than many thin ones.
class RowBands {
public:
    // Rows from `top` up to but not including `bottom`.
    struct Span {
        int top = 0;
        int bottom = 0;
        bool operator==(const Span&) const = default;
    };

    // `spans` as at most `most` bands (at least one), from the top down: spans that overlap or
    // touch become one, and while there are more than `most`, the two with the least between
    // them become one over both. Empty spans are left out.
    static std::vector<Span> gather(std::vector<Span> spans, std::size_t most);
};

}  // namespace quib
