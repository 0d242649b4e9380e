#include <gtest/gtest.h>

#include <cmath>

#include "QuibHost/Streaming/VideoPacer.hpp"

using namespace quib;

namespace {

constexpr double frameInterval = 1.0 / 60;

// A pacer cut once from 12 Mbit/s to 8.64 Mbit/s, with room to climb and the next cut 0.35 s away.
VideoPacer cutOnce() {
    VideoPacer pacer(12000000);
    EXPECT_TRUE(pacer.noteDropped());
    EXPECT_EQ(pacer.bitrate(), 8640000);
    return pacer;
}

}  // namespace

TEST(VideoPacer, StartsAtItsCeilingNeverBelowTheFloor) {
    const VideoPacer low(500000);
    EXPECT_EQ(low.ceiling(), 700000);
    EXPECT_EQ(low.bitrate(), 700000);
    EXPECT_EQ(low.framesPerSecond(), 60);
    EXPECT_FALSE(low.goodput());
    EXPECT_TRUE(std::isinf(low.sinceCut()));
    EXPECT_EQ(low.cleanSeconds(), 0);
    EXPECT_EQ(low.inFlightByteBudget(), 4375);
    EXPECT_EQ(VideoPacer(12000000).inFlightByteBudget(), 75000);
}

TEST(VideoPacer, FirstStallCutsAtOnceAndTheNextOnlyAfterAQuarterSecondAndMore) {
    VideoPacer pacer(12000000);
    EXPECT_TRUE(pacer.noteDelivered(1000, 0.05, 0));
    EXPECT_EQ(pacer.bitrate(), 8640000);
    EXPECT_FALSE(pacer.noteDelivered(1000, 0.05, 0.2));
    EXPECT_EQ(pacer.bitrate(), 8640000);
    EXPECT_DOUBLE_EQ(pacer.sinceCut(), 0.2);
    EXPECT_TRUE(pacer.noteDelivered(1000, 0.05, 0.15));
    EXPECT_EQ(pacer.bitrate(), 6220800);
}

TEST(VideoPacer, CutFollowsTheGoodputAndStopsAtTheFloor) {
    VideoPacer pacer(12000000);
    EXPECT_TRUE(pacer.noteDelivered(100000, 0.1, 0));  // 1,000,000 bytes/s, and a stall
    EXPECT_EQ(pacer.goodput(), 1000000);
    EXPECT_EQ(pacer.bitrate(), 6560000);

    // 750,000 to the floor is a change, but under an eighth: not worth re-applying.
    VideoPacer slow(750000);
    EXPECT_FALSE(slow.noteDropped());
    EXPECT_EQ(slow.bitrate(), 700000);
    EXPECT_EQ(slow.cleanSeconds(), 0);
}

TEST(VideoPacer, EachCleanSecondRaisesByATenthUpToTheCeiling) {
    VideoPacer pacer = cutOnce();
    for (int i = 1; i < 60; ++i) EXPECT_FALSE(pacer.noteDelivered(1000, 0.01, frameInterval));
    EXPECT_EQ(pacer.bitrate(), 8640000);
    EXPECT_FALSE(pacer.noteDelivered(1000, 0.01, frameInterval));
    EXPECT_EQ(pacer.bitrate(), 9504000);
    EXPECT_EQ(pacer.cleanSeconds(), 0);

    VideoPacer top(12000000);
    for (int i = 0; i < 60; ++i) top.noteDelivered(1000, 0.01, frameInterval);
    EXPECT_EQ(top.bitrate(), 12000000);
}

TEST(VideoPacer, IntervalsOutsideTwoSecondsCountForNothing) {
    VideoPacer pacer = cutOnce();
    pacer.noteDelivered(1000, 0.01, 0);
    pacer.noteDelivered(1000, 0.01, 2);
    pacer.noteDelivered(1000, 0.01, -1);
    EXPECT_EQ(pacer.framesPerSecond(), 60);
    EXPECT_EQ(pacer.sinceCut(), 0);
    EXPECT_EQ(pacer.cleanSeconds(), 0);

    pacer.noteDelivered(1000, 0.01, 0.1);  // 10 fps: falling rates weigh 0.3
    EXPECT_DOUBLE_EQ(pacer.framesPerSecond(), 45);
    pacer.noteDelivered(1000, 0.01, 0.001);  // 1000 fps, taken as 120: rising rates weigh 0.08
    EXPECT_DOUBLE_EQ(pacer.framesPerSecond(), 51);
}

TEST(VideoPacer, GoodputIsMeasuredOnlyOnFramesBigAndSlowEnough) {
    VideoPacer pacer(12000000);
    pacer.noteDelivered(5999, 0.01, 0);
    pacer.noteDelivered(60000, 0.005, 0);
    EXPECT_FALSE(pacer.goodput());
    pacer.noteDelivered(6000, 0.01, 0);
    EXPECT_DOUBLE_EQ(*pacer.goodput(), 600000);
    pacer.noteDelivered(5999, 0.01, 0);
    EXPECT_DOUBLE_EQ(*pacer.goodput(), 600000);
    pacer.noteDelivered(12000, 0.01, 0);
    EXPECT_DOUBLE_EQ(*pacer.goodput(), 750000);
}

TEST(VideoPacer, CeilingCutsTheRateButNeverRaisesIt) {
    VideoPacer pacer(12000000);
    pacer.noteDelivered(1000, 0.01, 0.5);
    pacer.setCeiling(2500000);
    EXPECT_EQ(pacer.bitrate(), 2500000);
    EXPECT_EQ(pacer.cleanSeconds(), 0);
    pacer.setCeiling(12000000);
    EXPECT_EQ(pacer.bitrate(), 2500000);
    EXPECT_EQ(pacer.ceiling(), 12000000);
    pacer.setCeiling(100);
    EXPECT_EQ(pacer.ceiling(), 700000);
    EXPECT_EQ(pacer.bitrate(), 700000);

    pacer.noteDelivered(100000, 0.01, 0.5);
    const VideoPacer before = pacer;
    pacer.setCeiling(700000);
    EXPECT_EQ(pacer, before);
    pacer.setCeiling(12000000);
    pacer.reset();
    EXPECT_EQ(pacer, VideoPacer(12000000));
}
