#include <gtest/gtest.h>

#include "QuibHost/Server/ThrottleTable.hpp"

using namespace quib;
using namespace std::chrono_literals;

namespace {
const MonoTime start = MonoTime(10h);
}

TEST(ThrottleTable, LockOutDoublesFromTheThirdFailureAndStopsAtFiveMinutes) {
    const std::vector<std::optional<std::int64_t>> expected = {std::nullopt, std::nullopt, 2,   4,   8,   16,
                                                               32,           64,           128, 256, 300, 300};
    ThrottleTable table;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto failure = table.noteFailure("10.0.0.2", start + std::chrono::seconds(i));
        EXPECT_EQ(failure.failures, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(failure.lockSeconds, expected[i]) << "failure " << i + 1;
    }
}

TEST(ThrottleTable, LockSecondsSaturatesForHugeCounts) {
    EXPECT_EQ(ThrottleTable::lockSeconds(0), std::nullopt);
    EXPECT_EQ(ThrottleTable::lockSeconds(2), std::nullopt);
    EXPECT_EQ(ThrottleTable::lockSeconds(10), 256);
    EXPECT_EQ(ThrottleTable::lockSeconds(11), 300);
    EXPECT_EQ(ThrottleTable::lockSeconds(66), 300);
    EXPECT_EQ(ThrottleTable::lockSeconds(std::numeric_limits<std::int64_t>::max()), 300);
}

TEST(ThrottleTable, RemainingSecondsAreRoundedAndEndWithTheLockOut) {
    ThrottleTable table;
    for (int i = 0; i < 3; ++i) table.noteFailure("a", start);
    EXPECT_EQ(table.secondsLockedOut("a", start + 400ms), 2);   // 1.6 s left
    EXPECT_EQ(table.secondsLockedOut("a", start + 1500ms), 1);  // 0.5 rounds away from zero
    EXPECT_EQ(table.secondsLockedOut("a", start + 2s), std::nullopt);
    EXPECT_EQ(table.secondsLockedOut("b", start), std::nullopt);
}

TEST(ThrottleTable, AnHourOldRecordIsPrunedAtTheNextFailureOfAnySource) {
    ThrottleTable table;
    table.noteFailure("old", start);
    table.noteFailure("old", start);
    table.noteFailure("kept", start + 10min);
    table.noteFailure("other", start + 1h);
    EXPECT_FALSE(table.record("old").has_value());
    EXPECT_TRUE(table.record("kept").has_value());
    // Counting starts again from one.
    EXPECT_EQ(table.noteFailure("old", start + 1h).failures, 1);
}

TEST(ThrottleTable, ForgettingASourceRestartsItsCount) {
    ThrottleTable table;
    table.noteFailure("a", start);
    table.noteFailure("a", start);
    table.noteFailure("b", start);
    table.forget("a");
    EXPECT_EQ(table.noteFailure("a", start).failures, 1);
    table.clear();
    EXPECT_EQ(table.size(), 0u);
}

TEST(ThrottleTable, KeepsAtMostMaxSourcesDroppingTheOldestThatIsNotLockedOut) {
    ThrottleTable table;
    // The oldest source is locked out for five minutes; every other one failed once, later.
    for (int i = 0; i < 11; ++i) table.noteFailure("locked", start);
    for (std::size_t i = 1; i < ThrottleTable::maxSources; ++i)
        table.noteFailure("s" + std::to_string(i), start + std::chrono::milliseconds(i));
    ASSERT_EQ(table.size(), ThrottleTable::maxSources);
    const MonoTime now = start + std::chrono::seconds(5);
    table.noteFailure("newcomer", now);
    EXPECT_EQ(table.size(), ThrottleTable::maxSources);
    EXPECT_FALSE(table.record("s1"));
    EXPECT_TRUE(table.record("locked"));
    EXPECT_TRUE(table.record("newcomer"));
    table.noteFailure("s2", now);  // a source already known takes no one's place
    EXPECT_TRUE(table.record("s3"));
}
