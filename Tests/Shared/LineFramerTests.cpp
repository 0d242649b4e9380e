#include <gtest/gtest.h>

#include "Shared/LineFramer.hpp"

using quib::LineFramer;

namespace {
constexpr std::int64_t kMiB = 1'048'576;
using Lines = std::vector<std::string>;
}  // namespace

TEST(LineFramer, SkipsEmptyLinesAndKeepsOrder) {
    LineFramer framer(kMiB);
    EXPECT_EQ(framer.append("a\n\nb\n"), (Lines{"a", "b"}));
}

TEST(LineFramer, LineSplitOverAppendsComesOutOnceWhole) {
    LineFramer framer(kMiB);
    EXPECT_TRUE(framer.append("{\"pi").empty());
    EXPECT_TRUE(framer.append("ng\":").empty());
    EXPECT_EQ(framer.append("{}}\nnext"), (Lines{"{\"ping\":{}}"}));
    EXPECT_EQ(framer.append("\n"), (Lines{"next"}));
}

TEST(LineFramer, CarriageReturnStaysAndLoneCarriageReturnIsALine) {
    LineFramer framer(kMiB);
    EXPECT_EQ(framer.append("x\r\n\r\n"), (Lines{"x\r", "\r"}));
}

TEST(LineFramer, RemainderAtTheLimitIsKeptOneMoreByteIsDropped) {
    LineFramer framer(kMiB);
    EXPECT_TRUE(framer.append(std::string(kMiB, 'a')).empty());
    EXPECT_EQ(framer.droppedLines(), 0);
    EXPECT_TRUE(framer.append("a").empty());
    EXPECT_EQ(framer.droppedLines(), 1);
    EXPECT_EQ(framer.drain(), "");
    // The rest of the dropped line, up to its line feed, is thrown away; the next line is normal.
    EXPECT_EQ(framer.append("tail of the long line\nfresh\n"), (Lines{"fresh"}));
    EXPECT_EQ(framer.droppedLines(), 1);
}

TEST(LineFramer, LongLineWithItsLineFeedInOneAppendIsHandedOutWhole) {
    LineFramer framer(kMiB);
    const std::string big(kMiB + kMiB / 2, 'x');
    auto lines = framer.append(big + "\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), big.size());

    EXPECT_TRUE(framer.append(std::string(kMiB, 'y')).empty());
    lines = framer.append("zz\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), static_cast<std::size_t>(kMiB + 2));
    EXPECT_EQ(framer.droppedLines(), 0);
}

TEST(LineFramer, DrainReturnsTheBytesAfterTheLastLineFeedOnce) {
    LineFramer framer(kMiB);
    EXPECT_EQ(framer.append("one\ntwo\nrest\x01\x02"), (Lines{"one", "two"}));
    EXPECT_EQ(framer.drain(), "rest\x01\x02");
    EXPECT_EQ(framer.drain(), "");
}

TEST(LineFramer, NextLineStopsSoTheRestCanBeDrainedWhole) {
    LineFramer framer(kMiB);
    framer.feed("{\"uploadHello\":{}}\nbinary\nwith\nline feeds");
    EXPECT_EQ(framer.nextLine(), "{\"uploadHello\":{}}");
    EXPECT_EQ(framer.drain(), "binary\nwith\nline feeds");
    EXPECT_EQ(framer.nextLine(), std::nullopt);
}

TEST(LineFramer, OverLongRemainderFedInPiecesIsDroppedAndResynchronises) {
    LineFramer framer(8);
    EXPECT_TRUE(framer.append("12345").empty());
    EXPECT_TRUE(framer.append("6789").empty());  // nine unterminated bytes: dropped
    EXPECT_EQ(framer.droppedLines(), 1);
    EXPECT_TRUE(framer.append("more of it").empty());
    EXPECT_EQ(framer.append("end\nok\n"), (Lines{"ok"}));
}

// Bytes already searched are not searched again, however the line is cut into reads.
TEST(LineFramer, LineFedOneByteAtATimeComesOutWhole) {
    LineFramer framer(kMiB);
    const std::string line(200000, 'x');
    for (char c : line) ASSERT_TRUE(framer.append(std::string_view(&c, 1)).empty());
    EXPECT_EQ(framer.append("\nab"), (Lines{line}));
    EXPECT_EQ(framer.append("c\n\nd"), (Lines{"abc"}));
    EXPECT_EQ(framer.append("\n"), (Lines{"d"}));
    EXPECT_EQ(framer.drain(), "");
}
