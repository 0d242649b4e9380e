#include <gtest/gtest.h>

#include <vector>

#include "QuibHost/Server/PointerRate.hpp"

using namespace quib;
using namespace std::chrono_literals;

namespace {

const MonoTime start = MonoTime(10h);

// Moves counted at these offsets from the start, and what the last one reports.
struct Row {
    const char* name;
    std::vector<MonoTime::duration> moves;
    std::optional<double> reported;
};

// 49 moves at once, then one two seconds later.
std::vector<MonoTime::duration> burstThenOne() {
    std::vector<MonoTime::duration> moves(49, 0ms);
    moves.push_back(2s);
    return moves;
}

}  // namespace

TEST(PointerRate, ReportsOnlyOnceAWholeWindowHasPassed) {
    const std::vector<Row> rows = {
        {"first move", {0ms}, std::nullopt},
        {"just short of a second", {0ms, 999ms}, std::nullopt},
        {"a second to the nanosecond", {0ms, 1s}, 2.0},
        {"fifty in two seconds", burstThenOne(), 25.0},
        {"a pause counts in the rate", {0ms, 4s}, 0.5},
    };
    for (const Row& row : rows) {
        PointerRate rate(start);
        std::optional<double> last;
        for (const auto offset : row.moves) last = rate.count(start + offset);
        EXPECT_EQ(last, row.reported) << row.name;
    }
}

TEST(PointerRate, TheNextWindowStartsAtTheReport) {
    PointerRate rate(start);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(rate.count(start + 100ms * i), std::nullopt);
    EXPECT_EQ(rate.count(start + 2s), 5.0);
    EXPECT_EQ(rate.count(start + 2500ms), std::nullopt);  // half a second after the report
    EXPECT_EQ(rate.count(start + 3s), 2.0);
    EXPECT_EQ(rate.count(start + 3s), std::nullopt);  // counted afresh from zero
}
