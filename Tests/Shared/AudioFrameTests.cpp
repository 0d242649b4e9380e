// The listen channel's records: the frame header and its packet layout, the reader, the hello,
// and the listener's playout rule.

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "FrameBytes.hpp"
#include "Shared/AudioFrame.hpp"
#include "Shared/AudioFrameReader.hpp"
#include "Shared/JitterWindow.hpp"
#include "Shared/ListenHelloPayload.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;
using quib::testing::lengthOf;
using quib::testing::rawFrame;
using quib::testing::view;

namespace {

AudioFrame describeFrame() {
    AudioFrame frame = AudioFrame::make(AudioFrame::Kind::audio, 1000);
    frame.codec = AudioFrame::Codec::aac;
    frame.sampleRate = AudioChannel::sampleRate;
    frame.channels = AudioChannel::channels;
    frame.framesPerPacket = AudioChannel::framesPerPacket;
    frame.packets = std::vector<std::int64_t>{10, 20};
    frame.sequence = 1;
    return frame;
}

std::optional<std::vector<AudioFrame::Range>> rangesOf(std::vector<std::int64_t> packets, std::size_t payloadBytes) {
    AudioFrame frame = AudioFrame::make(AudioFrame::Kind::audio, 0);
    frame.packets = std::move(packets);
    return frame.packetRanges(Bytes(payloadBytes, 0));
}

}  // namespace

TEST(AudioFrame, DescribeFrameHasTheBytesAPhoneReads) {
    const Bytes payload(30, 0xAA);
    const auto bytes = AudioFrameWriter::encode(describeFrame(), payload);
    ASSERT_TRUE(bytes);
    const std::string header =
        R"({"kind":"audio","captureTime":1000,"codec":"aac","sampleRate":48000,"channels":2,"framesPerPacket":1024,"packets":[10,20],"sequence":1})";
    ASSERT_EQ(header.size(), 0x87u);
    EXPECT_EQ(view(*bytes), std::string("\0\0\0\x87", 4) + header + std::string("\0\0\0\x1e", 4) + textOf(payload));
    EXPECT_EQ(bytes->size(), 173u);
    EXPECT_EQ(describeFrame().packetRanges(payload), (std::vector<AudioFrame::Range>{{0, 10}, {10, 30}}));
}

TEST(AudioFrame, StateFrameHoldsOnlyKindTimeAndReasonOverAnEmptyPayload) {
    const auto frame = AudioFrame::state("Listening is off on the computer", MonoTime(std::chrono::microseconds(3)));
    const auto bytes = AudioFrameWriter::encode(frame, {});
    ASSERT_TRUE(bytes);
    EXPECT_EQ(view(*bytes),
              rawFrame(R"({"kind":"state","captureTime":3000,"reason":"Listening is off on the computer"})", ""));
}

TEST(AudioFrame, PacketSizesMustCoverThePayloadExactly) {
    EXPECT_FALSE(rangesOf({0}, 0));
    EXPECT_FALSE(rangesOf({-1}, 0));
    EXPECT_FALSE(rangesOf({10, 20}, 29));
    EXPECT_FALSE(rangesOf({10, 20}, 31));
    EXPECT_EQ(rangesOf({10, 20}, 30), (std::vector<AudioFrame::Range>{{0, 10}, {10, 30}}));
    EXPECT_FALSE(rangesOf({}, 0));
    EXPECT_FALSE(AudioFrame::make(AudioFrame::Kind::audio, 0).packetRanges({}));
    EXPECT_FALSE(rangesOf({std::numeric_limits<std::int64_t>::max(), 1}, 30));
}

TEST(AudioFrame, HeaderWithoutCaptureTimeOrOfAnotherKindIsUndecodable) {
    EXPECT_FALSE(QuibCoder::decode<AudioFrame>(R"({"kind":"audio"})"));
    EXPECT_FALSE(QuibCoder::decode<AudioFrame>(R"({"kind":"video","captureTime":1})"));
    EXPECT_FALSE(QuibCoder::decode<AudioFrame>(R"({"kind":"audio","captureTime":1,"codec":"opus"})"));
    EXPECT_FALSE(QuibCoder::decode<AudioFrame>(R"({"kind":"audio","captureTime":1,"sequence":4294967296})"));
    const auto plain =
        QuibCoder::decode<AudioFrame>(R"({"sequence":4294967295,"packets":[5],"captureTime":2,"kind":"audio"})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->sequence, 4294967295u);
    EXPECT_FALSE(plain->codec);
    EXPECT_EQ(QuibCoder::decode<AudioFrame>(*QuibCoder::encode(describeFrame())).value(), describeFrame());
}

// A frame over the cap would make the listener drop its whole stream, and the frames behind it.
TEST(AudioFrame, WriterRefusesAHeaderOrPayloadOverTheCap) {
    EXPECT_TRUE(AudioFrameWriter::encode(describeFrame(), Bytes(AudioChannel::maxFrameBytes, 0)));
    EXPECT_FALSE(AudioFrameWriter::encode(describeFrame(), Bytes(AudioChannel::maxFrameBytes + 1, 0)));
    const auto wordy = AudioFrame::state(std::string(AudioChannel::maxFrameBytes, 'x'), MonoTime{});
    EXPECT_FALSE(AudioFrameWriter::encode(wordy, {}));
}

TEST(AudioFrameReader, DamageDropsTheBufferAndReadingGoesOnWithTheNextFrame) {
    AudioFrameReader reader(AudioChannel::maxFrameBytes);
    const std::string good = std::string(view(*AudioFrameWriter::encode(describeFrame(), Bytes(30, 1))));
    const auto frames = reader.append(good + rawFrame("{}", "") + lengthOf(AudioChannel::maxFrameBytes + 1) + good);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header, describeFrame());
    EXPECT_EQ(reader.append(good).size(), 1u);
}

TEST(ListenHelloPayload, PausedIsSentOnlyWhenTrue) {
    EXPECT_EQ(*QuibCoder::encode(ListenHelloPayload::make(23, "P", "D", false)),
              R"({"protocolVersion":23,"deviceName":"P","deviceID":"D"})");
    const auto paused = ListenHelloPayload::make(23, "P", "D", true);
    EXPECT_EQ(*QuibCoder::encode(paused), R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","paused":true})");
    EXPECT_TRUE(paused.isPaused());
}

TEST(JitterWindow, TargetAndCeilingAreHeldWithinTheirBounds) {
    EXPECT_DOUBLE_EQ(JitterWindow(0.0).target, 0.09);
    EXPECT_DOUBLE_EQ(JitterWindow(5.0).target, 0.45);
    EXPECT_DOUBLE_EQ(JitterWindow(std::numeric_limits<double>::quiet_NaN()).target, 0.09);
    EXPECT_DOUBLE_EQ(JitterWindow(0.09).ceiling(), 0.33);
    EXPECT_DOUBLE_EQ(JitterWindow(0.45).ceiling(), 1.35);

    JitterWindow window(0.42);
    window.noteClean(5);
    window.noteUnderrun();
    EXPECT_EQ(window.quiet, 0);
    EXPECT_DOUBLE_EQ(window.target, 0.45);
}

TEST(JitterWindow, Verdicts) {
    const JitterWindow window(0.09);
    EXPECT_EQ(window.verdict(0.5, true), AudioDrift::skip(0.5 - 0.09));
    EXPECT_EQ(window.verdict(0.5, false), AudioDrift::skip(0.5 - 0.09));
    EXPECT_EQ(window.verdict(window.ceiling(), true), AudioDrift::play());
    EXPECT_EQ(window.verdict(window.ceiling(), false), AudioDrift::play());
    EXPECT_EQ(window.verdict(0.089, false), AudioDrift::fill());
    EXPECT_EQ(window.verdict(0.09, false), AudioDrift::play());
    EXPECT_EQ(window.verdict(0.001, true), AudioDrift::play());
    EXPECT_EQ(window.verdict(0, true), AudioDrift::fill());
    EXPECT_NE(AudioDrift::skip(0.1), AudioDrift::skip(0.2));
}

TEST(JitterWindow, TwentyCalmSecondsLowerTheTargetOnce) {
    JitterWindow atMinimum(0.09);
    atMinimum.quiet = 3;
    atMinimum.noteClean(100);
    EXPECT_DOUBLE_EQ(atMinimum.target, 0.09);
    EXPECT_EQ(atMinimum.quiet, 3);

    JitterWindow window(0.2);
    window.noteClean(10);
    window.noteClean(9.9);
    EXPECT_DOUBLE_EQ(window.target, 0.2);
    EXPECT_DOUBLE_EQ(window.quiet, 19.9);
    window.noteClean(0);
    window.noteClean(-1);
    EXPECT_DOUBLE_EQ(window.quiet, 19.9);

    JitterWindow calm(0.2);
    calm.noteClean(10);
    calm.noteClean(10);
    EXPECT_DOUBLE_EQ(calm.target, 0.17);
    EXPECT_EQ(calm.quiet, 0);
}
