// Gathering the rows a window's changes touched into a few bands to read again.

#include "Platform/Linux/X11/RowBands.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Span = RowBands::Span;

TEST(RowBands, GathersSpansFromTheTopIntoAtMostTheBandsAskedJoiningTheClosestFirst) {
    struct Case {
        const char* what;
        std::vector<Span> spans;
        std::size_t most;
        std::vector<Span> bands;
    };
    const std::vector<Case> cases{
        {"nothing", {}, 4, {}},
        {"empty and upside-down spans are left out", {{5, 5}, {9, 3}, {1, 2}}, 4, {{1, 2}}},
        {"apart, in any order", {{50, 60}, {0, 10}}, 4, {{0, 10}, {50, 60}}},
        {"overlapping and touching",
         {{0, 10}, {25, 40}, {5, 20}, {20, 22}, {45, 50}},
         4,
         {{0, 22}, {25, 40}, {45, 50}}},
        {"one inside another", {{0, 100}, {10, 20}}, 4, {{0, 100}}},
        {"too many", {{0, 10}, {12, 20}, {40, 50}, {100, 110}, {200, 210}}, 3, {{0, 50}, {100, 110}, {200, 210}}},
        {"one at least", {{0, 10}, {20, 30}}, 0, {{0, 30}}},
    };
    for (const auto& [what, spans, most, bands] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(RowBands::gather(spans, most), bands);
    }
}

}  // namespace
}  // namespace quib
