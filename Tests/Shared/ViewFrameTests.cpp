// The view channel's records: its frame header, the unit-square geometry of crops and pointer
// spots, and the viewer's hello.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "FrameBytes.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/ViewFrame.hpp"
#include "Shared/ViewHelloPayload.hpp"

using namespace quib;
using quib::testing::lengthOf;
using quib::testing::rawFrame;
using quib::testing::view;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
const Rect unitSquare{0, 0, 1, 1};

void expectRect(const Rect& actual, const Rect& expected) {
    EXPECT_DOUBLE_EQ(actual.x, expected.x);
    EXPECT_DOUBLE_EQ(actual.y, expected.y);
    EXPECT_DOUBLE_EQ(actual.width, expected.width);
    EXPECT_DOUBLE_EQ(actual.height, expected.height);
}

std::string videoHeader(std::string_view extra) {
    return R"({"kind":"video","title":"Editor","captureTime":7)" + std::string(extra) + "}";
}

}  // namespace

TEST(ViewFrame, StateFrameHasTheBytesAPhoneReads) {
    const auto frame =
        ViewFrame::state("Nothing focused to mirror", "Focused", false, MonoTime(std::chrono::seconds(5)));
    const auto bytes = ViewFrameWriter::encode(frame, {});
    ASSERT_TRUE(bytes);
    const std::string header =
        R"({"kind":"state","title":"Focused","captureTime":5000000000,"reason":"Nothing focused to mirror"})";
    ASSERT_EQ(header.size(), 96u);
    EXPECT_EQ(view(*bytes), std::string("\0\0\0\x60", 4) + header + std::string(4, '\0'));
    EXPECT_EQ(bytes->size(), 104u);

    // "canOpen" is written only as true.
    const auto openable = ViewFrame::state("Minimised", "Editor", true, MonoTime(std::chrono::seconds(5)));
    EXPECT_EQ(*QuibCoder::encode(openable),
              R"({"kind":"state","title":"Editor","captureTime":5000000000,"reason":"Minimised","canOpen":true})");
}

TEST(ViewFrame, EveryFieldIsWrittenInOrderAndReadInAnyOrder) {
    ViewFrame frame = ViewFrame::make(ViewFrame::Kind::video, "Editor", 7);
    frame.codec = ViewFrame::Codec::h264;
    frame.isKeyframe = true;
    frame.width = 1280;
    frame.height = 800;
    frame.parameterSets = std::vector<Bytes>{{0x67, 0x42, 0x00, 0x1f}, {0x68, 0xce, 0x3c}};
    frame.cornerRadius = 0.0125;
    frame.columns = 80;
    frame.rows = 24;
    frame.pointer = UnitSpot{0.25, 0.5};
    frame.crop = UnitRect{0, 0.5, 0.5, 0.5};
    frame.reason = "r";
    frame.canOpen = true;
    const std::string json = videoHeader(
        R"(,"codec":"h264","isKeyframe":true,"width":1280,"height":800,"parameterSets":["Z0IAHw==","aM48"],)"
        R"("cornerRadius":0.0125,"columns":80,"rows":24,"pointer":{"x":0.25,"y":0.5},)"
        R"("crop":{"x":0.0,"y":0.5,"width":0.5,"height":0.5},"reason":"r","canOpen":true)");
    EXPECT_EQ(*QuibCoder::encode(frame), json);
    EXPECT_EQ(QuibCoder::decode<ViewFrame>(json).value(), frame);

    const auto shuffled = QuibCoder::decode<ViewFrame>(
        R"({"codec":"hevc","captureTime":9,"unknown":[1],"title":"T","kind":"video","parameterSets":[]})");
    ASSERT_TRUE(shuffled);
    EXPECT_EQ(shuffled->codec, ViewFrame::Codec::hevc);
    EXPECT_EQ(shuffled->captureTime, 9u);
    EXPECT_EQ(shuffled->parameterSets, std::vector<Bytes>{});
    EXPECT_EQ(*QuibCoder::encode(ViewFrame::make(ViewFrame::Kind::text, "pane", 1)),
              R"({"kind":"text","title":"pane","captureTime":1})");
}

TEST(ViewFrame, CropOfTheWholeWindowIsNoCrop) {
    ViewFrame frame = ViewFrame::make(ViewFrame::Kind::video, "Editor", 1);
    frame.setCrop(Rect{0.25, 0, 0.5, 1});
    EXPECT_EQ(frame.crop, (UnitRect{0.25, 0, 0.5, 1}));
    frame.setCrop(Rect{0.9, 0.9, 0.5, 0.5});
    expectRect(frame.cropRect(), Rect{0.5, 0.5, 0.5, 0.5});
    frame.setCrop(unitSquare);
    EXPECT_FALSE(frame.crop);
    expectRect(frame.cropRect(), unitSquare);
}

// A frame over the cap would make the viewer drop its whole stream, and the frames behind it.
TEST(ViewFrame, WriterRefusesAPayloadOverTheCap) {
    const ViewFrame frame = ViewFrame::make(ViewFrame::Kind::text, "pane", 1);
    const Bytes payload(ViewChannel::maxFrameBytes + 1, 'x');
    EXPECT_FALSE(ViewFrameWriter::encode(frame, payload));
    EXPECT_TRUE(ViewFrameWriter::encode(frame, std::span(payload).first(ViewChannel::maxFrameBytes)));
    EXPECT_EQ(ViewFrameWriter::encode(frame, payload).error().message, "The frame is larger than the channel takes");
}

TEST(ViewFrameReader, HeaderOfAnUnknownKindOrCodecOrWithoutCaptureTimeIsSkipped) {
    ViewFrameReader reader(ViewChannel::maxFrameBytes);
    const auto frames = reader.append(
        rawFrame(videoHeader(""), "first") + rawFrame(R"({"kind":"audio","title":"T","captureTime":7})", "x") +
        rawFrame(videoHeader(R"(,"codec":"vp9")"), "x") + rawFrame(R"({"kind":"video","title":"T"})", "x") +
        rawFrame(videoHeader(R"(,"codec":"hevc")"), "last"));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(textOf(frames[0].payload), "first");
    EXPECT_EQ(textOf(frames[1].payload), "last");
    EXPECT_EQ(frames[1].header.codec, ViewFrame::Codec::hevc);
    EXPECT_FALSE(reader.takeDesync());
}

TEST(ViewFrameReader, TakesAPayloadOfExactlyTheCapAndOneByteMoreIsDamage) {
    ViewFrameReader reader(ViewChannel::maxFrameBytes);
    const Bytes payload(ViewChannel::maxFrameBytes, 'v');
    const auto written = ViewFrameWriter::encode(ViewFrame::make(ViewFrame::Kind::video, "Editor", 7), payload);
    ASSERT_TRUE(written);
    const auto frames = reader.append(view(*written));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), payload.size());

    const std::string header = videoHeader("");
    EXPECT_TRUE(reader.append(lengthOf(header.size()) + header + lengthOf(ViewChannel::maxFrameBytes + 1)).empty());
    EXPECT_TRUE(reader.takeDesync());
    EXPECT_EQ(reader.bufferedBytes(), 0u);
}

TEST(UnitRect, ClampsIntoTheUnitSquare) {
    expectRect(UnitRect::clamped(Rect{0.9, 0.9, 0.5, 0.5}), Rect{0.5, 0.5, 0.5, 0.5});
    expectRect(UnitRect::clamped(Rect{0.2, 0.3, 0.0001, 0.5}), Rect{0.2, 0.3, 0.002, 0.5});
    expectRect(UnitRect::clamped(Rect{0.2, 0.3, 3, 0.5}), Rect{0, 0.3, 1, 0.5});
    expectRect(UnitRect::clamped(Rect{-0.5, 1.5, 0.5, 0.5}), Rect{0, 0.5, 0.5, 0.5});
    // A side that is not greater than 0 asks for the whole window; a NaN origin for the edge.
    expectRect(UnitRect::clamped(Rect{0.2, 0.3, 0, 0.5}), unitSquare);
    expectRect(UnitRect::clamped(Rect{0.2, 0.3, 0.5, -0.5}), unitSquare);
    expectRect(UnitRect::clamped(Rect{0.2, 0.3, notANumber, 0.5}), unitSquare);
    expectRect(UnitRect::clamped(Rect{notANumber, notANumber, 0.5, 0.5}), Rect{0, 0, 0.5, 0.5});
    expectRect(UnitRect::clamped(Rect{0, 0, std::numeric_limits<double>::infinity(), 0.5}), Rect{0, 0, 1, 0.5});
    expectRect((UnitRect{0.9, 0.9, 0.5, 0.5}).rect(), Rect{0.5, 0.5, 0.5, 0.5});
}

TEST(UnitRect, TheUnitSquareMakesNoCrop) {
    EXPECT_FALSE(UnitRect::make(unitSquare));
    EXPECT_EQ(UnitRect::make(Rect{0, 0, 1, 0.5}), (UnitRect{0, 0, 1, 0.5}));
    EXPECT_EQ(UnitRect::full, (UnitRect{0, 0, 1, 1}));
    EXPECT_FALSE(QuibCoder::decode<UnitRect>(R"({"x":0,"y":0,"width":1})"));
}

TEST(UnitSpot, OnlyPointsOnTheWindowAreSpotsAndPointsAreHeldOnIt) {
    EXPECT_EQ(UnitSpot::inside(Point{0, 1}), (UnitSpot{0, 1}));
    EXPECT_EQ(UnitSpot::inside(Point{1, 1}), (UnitSpot{1, 1}));
    EXPECT_FALSE(UnitSpot::inside(Point{1.0001, 0.5}));
    EXPECT_FALSE(UnitSpot::inside(Point{0.5, -0.0001}));
    EXPECT_FALSE(UnitSpot::inside(Point{notANumber, 0.5}));
    EXPECT_EQ((UnitSpot{1.5, -2}).point(), (Point{1, 0}));
    EXPECT_EQ((UnitSpot{notANumber, 0.25}).point(), (Point{0, 0.25}));
}

TEST(ViewHelloPayload, TheWholeWindowIsSentAsNoCrop) {
    const auto whole = ViewHelloPayload::make(23, "P", "D", 800, 600, unitSquare);
    EXPECT_EQ(*QuibCoder::encode(whole),
              R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":800,"maxHeight":600})");
    expectRect(whole.cropRect(), unitSquare);

    const auto cropped = ViewHelloPayload::make(23, "P", "D", 800, 600, Rect{0.9, 0.9, 0.5, 0.5});
    EXPECT_EQ(cropped.crop, (UnitRect{0.9, 0.9, 0.5, 0.5}));
    expectRect(cropped.cropRect(), Rect{0.5, 0.5, 0.5, 0.5});
}

TEST(ViewHelloPayload, ExtremeCropNumbersFailToDecodeOrClamp) {
    const std::string start =
        R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":800,"maxHeight":600,"crop":)";
    const auto overflow = QuibCoder::decode<ViewHelloPayload>(start + R"({"x":1e400,"y":0,"width":0.5,"height":0.5}})");
    ASSERT_FALSE(overflow);
    EXPECT_EQ(overflow.error().message, "The given data was not valid JSON.");

    const auto huge =
        QuibCoder::decode<ViewHelloPayload>(start + R"({"x":1e308,"y":-1e308,"width":1e308,"height":0.5}})");
    ASSERT_TRUE(huge);
    expectRect(huge->cropRect(), Rect{0, 0, 1, 0.5});
    const auto negative = QuibCoder::decode<ViewHelloPayload>(start + R"({"x":0,"y":0,"width":-1e308,"height":0.5}})");
    ASSERT_TRUE(negative);
    expectRect(negative->cropRect(), unitSquare);
}
