#include "QuibHost/Streaming/VideoEncoder.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/Support/FakeVideoSession.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::annexB;
using testing::FakeVideoSession;
using Codec = ViewFrame::Codec;

const Bytes sps{0x67, 0x64, 0x00, 0x1F};
const Bytes pps{0x68, 0xEE, 0x3C, 0x80};
const Bytes idr{0x65, 0x88, 0x84};
const Bytes slice{0x41, 0x9A, 0x02};

// An encoder over fake sessions, on a fake clock, with its log captured.
class VideoEncoder : public ::testing::Test {
protected:
    // Sessions are H.264, as on this platform, unless a test says otherwise.
    VideoEncoder() {
        previousSink = Logger::setSink(log);
        sessions->refused = {Codec::hevc};
    }
    ~VideoEncoder() override {
        encoder.reset();  // finishes what still waits, into `outputs`
        Logger::setSink(previousSink);
    }

    bool prepare(int width = 640, int height = 480, std::int64_t bitRate = 2'000'000, double frameRate = 30) {
        return encoder->prepare(width, height, bitRate, frameRate);
    }
    // Submits one picture; its outputs are collected in `outputs`.
    bool encode() {
        return encoder->encode(picture, clock->now(), [this](std::optional<quib::VideoEncoder::Output> output) {
            outputs.push_back(std::move(output));
        });
    }
    std::shared_ptr<FakeVideoSession> session() const { return sessions->last(); }
    bool lastSubmissionForced() const { return session()->submissions().back().keyframe; }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    Instrumentation instrumentation{clock, settings};
    std::shared_ptr<testing::FakeVideoSessionFactory> sessions = std::make_shared<testing::FakeVideoSessionFactory>();
    std::shared_ptr<quib::VideoEncoder> encoder =
        quib::VideoEncoder::create({.sessions = sessions, .clock = clock, .instrumentation = &instrumentation});
    std::shared_ptr<const PixelBuffer> picture = PixelBuffer::make(640, 480);
    std::vector<std::optional<quib::VideoEncoder::Output>> outputs;
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(VideoEncoder, KeepsOneSessionPerSizeAndAppliesTheRateRule) {
    ASSERT_TRUE(prepare(640, 480, 2'000'000, 2));
    ASSERT_TRUE(prepare(640, 480, 4'000'000, 30));
    ASSERT_EQ(sessions->opened().size(), 1u);
    const auto first = session();
    EXPECT_EQ(first->width, 640);
    const VideoSession::Rates opened{.bitRate = 2'000'000,
                                     .frameRate = 5,
                                     .limits = {{.bytes = 125'000, .seconds = 0.25}, {.bytes = 325'000, .seconds = 1}}};
    EXPECT_EQ(first->openRates, opened);
    EXPECT_TRUE(first->rateUpdates().empty());
    EXPECT_TRUE(log->contains("view: encoder h264 640x480 @ 2000 kbps"));

    encoder->updateRate(12'000'000, 120);
    const VideoSession::Rates updated{
        .bitRate = 12'000'000,
        .frameRate = 60,
        .limits = {{.bytes = 750'000, .seconds = 0.25}, {.bytes = 1'950'000, .seconds = 1}}};
    ASSERT_EQ(first->rateUpdates().size(), 1u);
    EXPECT_EQ(first->rateUpdates()[0], updated);

    // A new size is a new session, whose first picture is a key frame carrying parameter sets.
    ASSERT_TRUE(encode());
    EXPECT_TRUE(first->answerPicture(annexB({sps, pps, idr}), true));
    ASSERT_TRUE(encode());
    EXPECT_FALSE(lastSubmissionForced());
    ASSERT_TRUE(prepare(800, 600));
    EXPECT_TRUE(first->isClosed());
    ASSERT_EQ(sessions->opened().size(), 2u);
    picture = PixelBuffer::make(800, 600);
    ASSERT_TRUE(encode());
    EXPECT_TRUE(lastSubmissionForced());
    EXPECT_TRUE(session()->answerPicture(annexB({sps, pps, idr}), true));
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_FALSE(outputs[1].has_value());  // finished by the close of the first session
    ASSERT_TRUE(outputs[2].has_value());
    EXPECT_TRUE(outputs[2]->isKeyframe);
    EXPECT_EQ(outputs[2]->parameterSets, (std::vector<Bytes>{sps, pps}));
}

TEST_F(VideoEncoder, TakesH264WhenHevcCannotOpenAndFailsWhenNeitherCan) {
    sessions->refused.clear();
    ASSERT_TRUE(prepare(640, 480, 1'500'999, 30));
    EXPECT_EQ(session()->codec, Codec::hevc);
    EXPECT_TRUE(log->contains("view: encoder hevc 640x480 @ 1500 kbps"));
    encoder->invalidate();

    sessions->refused = {Codec::hevc};
    ASSERT_TRUE(prepare());
    EXPECT_EQ(session()->codec, Codec::h264);
    ASSERT_TRUE(encode());
    session()->answerPicture(annexB({sps, pps, idr}), true);
    ASSERT_TRUE(outputs.at(0).has_value());
    EXPECT_EQ(outputs[0]->codec, Codec::h264);

    sessions->refused = {Codec::hevc, Codec::h264};
    EXPECT_FALSE(prepare(320, 240));
    EXPECT_FALSE(encode());
    const auto records = log->records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().text, "view: no encoder available for 320x240");
    EXPECT_EQ(records.back().level, LogLevel::error);
    EXPECT_FALSE(prepare(0, 240));
}

TEST_F(VideoEncoder, WithoutASessionNothingIsSubmittedOrCalledBack) {
    EXPECT_FALSE(encode());
    ASSERT_TRUE(prepare());
    ASSERT_TRUE(encode());
    const auto closed = session();
    encoder->invalidate();
    EXPECT_TRUE(closed->isClosed());
    EXPECT_FALSE(encode());
    // The picture submitted before was finished once, with nothing.
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_FALSE(outputs[0].has_value());
    // Forcing with no session keeps the request for the next one.
    encoder->forceKeyframe();
    EXPECT_FALSE(encode());
    EXPECT_EQ(outputs.size(), 1u);
}

TEST_F(VideoEncoder, EveryFailureForcesTheNextKeyFrame) {
    ASSERT_TRUE(prepare());
    const auto nextIsForced = [&] {
        EXPECT_TRUE(encode());
        return lastSubmissionForced();
    };
    const auto keyframe = annexB({sps, pps, idr});
    ASSERT_TRUE(nextIsForced());
    session()->answerPicture(keyframe, true);

    // An error status.
    ASSERT_FALSE(nextIsForced());
    session()->answerStatus(-5);
    EXPECT_TRUE(log->contains("view: encode returned -5"));
    EXPECT_EQ(log->records().back().level, LogLevel::error);
    ASSERT_TRUE(nextIsForced());

    // A key frame dropped forces the next; a dropped picture that was not to be one does not.
    // The line about it is written only while timing samples are on.
    session()->answerDropped();
    ASSERT_TRUE(nextIsForced());
    session()->answerPicture(keyframe, true);
    ASSERT_FALSE(nextIsForced());
    session()->answerDropped();
    ASSERT_FALSE(nextIsForced());
    EXPECT_FALSE(log->contains("dropped"));
    instrumentation.setEnabled(true);
    session()->answerDropped();
    EXPECT_TRUE(log->contains("view: encoder dropped a frame to hold the rate"));
    ASSERT_FALSE(nextIsForced());

    // Packaging fails, without a log line: a picture with no bytes, and one with no unit to carry.
    log->clear();
    session()->answerPicture({}, false);
    ASSERT_TRUE(nextIsForced());
    session()->answerPicture(annexB({sps, pps}), true);
    ASSERT_TRUE(nextIsForced());
    session()->answerPicture(keyframe, true);
    EXPECT_TRUE(log->lines().empty());

    // A submission that fails.
    session()->submitStatus = -12;
    EXPECT_FALSE(encode());
    EXPECT_TRUE(log->contains("view: encode failed -12"));
    session()->submitStatus = 0;
    EXPECT_TRUE(nextIsForced());

    // Each failure called back once, with nothing.
    std::vector<bool> delivered;
    for (const auto& output : outputs) delivered.push_back(output.has_value());
    EXPECT_EQ(delivered, (std::vector<bool>{true, false, false, true, false, false, false, false, true}));
}

TEST_F(VideoEncoder, KeyFramesWithoutParameterSetsGetTheSessionsLatest) {
    ASSERT_TRUE(prepare());
    const Bytes newerPps{0x68, 0xCE, 0x01};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(encode());
    auto& s = *session();
    s.answerPicture(annexB({idr}), true);               // none seen yet
    s.answerPicture(annexB({sps, pps, slice}), false);  // sets on a picture that is no key frame
    s.answerPicture(annexB({idr}), true);               // gets them
    s.answerPicture(annexB({newerPps, idr}), true);     // carries its own
    s.answerPicture(annexB({idr}), true);               // the latest of each type
    ASSERT_EQ(outputs.size(), 5u);
    for (const auto& output : outputs) ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(outputs[0]->isKeyframe);
    EXPECT_TRUE(outputs[0]->parameterSets.empty());
    EXPECT_FALSE(outputs[1]->isKeyframe);
    EXPECT_TRUE(outputs[1]->parameterSets.empty());
    EXPECT_EQ(outputs[2]->parameterSets, (std::vector<Bytes>{sps, pps}));
    EXPECT_EQ(outputs[3]->parameterSets, (std::vector<Bytes>{newerPps}));
    EXPECT_EQ(outputs[4]->parameterSets, (std::vector<Bytes>{sps, newerPps}));
    EXPECT_TRUE(outputs[4]->isKeyframe);
}

TEST_F(VideoEncoder, ForcesAKeyFrameOnceTenSecondsOfUptimeHavePassed) {
    ASSERT_TRUE(prepare());
    ASSERT_TRUE(encode());
    EXPECT_TRUE(lastSubmissionForced());
    session()->answerPicture(annexB({sps, pps, idr}), true);
    clock->advance(9s);
    ASSERT_TRUE(encode());
    EXPECT_FALSE(lastSubmissionForced());
    // A key frame the encoder made of its own accord restarts the interval.
    session()->answerPicture(annexB({sps, pps, idr}), true);
    clock->advance(9s);
    ASSERT_TRUE(encode());
    EXPECT_FALSE(lastSubmissionForced());
    session()->answerPicture(annexB({slice}), false);
    clock->advance(1s);
    ASSERT_TRUE(encode());
    EXPECT_TRUE(lastSubmissionForced());
    session()->answerPicture(annexB({sps, pps, idr}), true);
    ASSERT_TRUE(encode());
    EXPECT_FALSE(lastSubmissionForced());
}

TEST_F(VideoEncoder, PicturesInFlightAreFinishedWhenTheEncoderGoes) {
    ASSERT_TRUE(prepare());
    ASSERT_TRUE(encode());
    ASSERT_TRUE(encode());
    const auto s = session();
    s->answerPicture(annexB({sps, pps, idr}), true);
    encoder.reset();
    EXPECT_TRUE(s->isClosed());
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(outputs[0].has_value());
    EXPECT_FALSE(outputs[1].has_value());
}

}  // namespace
}  // namespace quib
