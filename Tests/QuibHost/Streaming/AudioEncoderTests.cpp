#include "QuibHost/Streaming/AudioEncoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Tests/Support/FakeAacConverterFactory.hpp"

namespace quib::testing {
namespace {

const PcmFormat kStereo48k{48000, 2, PcmFormat::Sample::float32, true};
const PcmFormat kMono44k{44100, 1, PcmFormat::Sample::int16, true};

// Silence of `frames` frames in `format`, alive for the test.
class Silence {
public:
    Silence(const PcmFormat& format, std::int64_t frames)
        : format_(format),
          frames_(frames),
          data_(format.bytesPerFramePerPlane() * static_cast<std::size_t>(frames) + 1) {
        pointers_.assign(static_cast<std::size_t>(format.planeCount()), data_.data());
    }
    PcmBuffer buffer() const { return PcmBuffer{format_, frames_, pointers_}; }

private:
    PcmFormat format_;
    std::int64_t frames_;
    std::vector<std::uint8_t> data_;
    std::vector<const std::uint8_t*> pointers_;
};

class AudioEncoder : public ::testing::Test {
protected:
    void SetUp() override { previousSink_ = Logger::setSink(log); }
    void TearDown() override { Logger::setSink(previousSink_); }

    std::optional<quib::AudioEncoder::Output> encode(const PcmFormat& format, std::int64_t frames) {
        return encoder.encode(Silence(format, frames).buffer());
    }
    std::size_t linesWith(std::string_view text) const {
        const auto lines = log->lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<FakeAacConverterFactory> converters = std::make_shared<FakeAacConverterFactory>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    quib::AudioEncoder encoder{converters, settings};

private:
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(AudioEncoder, BitrateSettingIsUsedOnlyWithinItsRange) {
    EXPECT_EQ(quib::AudioEncoder::bitrate(*settings), 96000);
    for (const auto& [stored, used] : std::vector<std::pair<std::int64_t, std::int64_t>>{{32000, 32000},
                                                                                         {320000, 320000},
                                                                                         {128000, 128000},
                                                                                         {31999, 96000},
                                                                                         {320001, 96000},
                                                                                         {0, 96000},
                                                                                         {-64000, 96000}}) {
        (void)settings->setInteger(quib::AudioEncoder::bitrateKey, stored);
        EXPECT_EQ(quib::AudioEncoder::bitrate(*settings), used) << stored;
    }
    (void)settings->setString(quib::AudioEncoder::bitrateKey, "128000");
    EXPECT_EQ(quib::AudioEncoder::bitrate(*settings), 96000);
}

TEST_F(AudioEncoder, NearestApplicableRateFavoursTheEarlierOnATie) {
    const std::vector<std::int64_t> rates{64000, 96000};
    EXPECT_EQ(quib::AudioEncoder::nearestApplicableRate(rates, 80000), 64000);
    EXPECT_EQ(quib::AudioEncoder::nearestApplicableRate(rates, 81000), 96000);
    EXPECT_EQ(quib::AudioEncoder::nearestApplicableRate(rates, 500000), 96000);
    EXPECT_EQ(quib::AudioEncoder::nearestApplicableRate({}, 81000), 81000);
}

// The setting is read when the first converter is made and kept for the encoder's life; the
// converter gets the applicable rate nearest to it, or the setting itself when any rate goes.
TEST_F(AudioEncoder, ConverterTakesTheNearestRateOfTheSettingReadOnce) {
    (void)settings->setInteger(quib::AudioEncoder::bitrateKey, 80000);
    converters->rates = {64000, 96000};
    EXPECT_FALSE(encode(kStereo48k, 480));
    ASSERT_EQ(converters->made.size(), 1u);
    EXPECT_EQ(converters->made[0].bitRate, 64000);
    EXPECT_TRUE(log->contains("listen: encoder AAC-LC 64 kbps from 48000Hz 2ch"));

    (void)settings->setInteger(quib::AudioEncoder::bitrateKey, 200000);
    converters->rates = {};
    EXPECT_FALSE(encode(kMono44k, 441));
    ASSERT_EQ(converters->made.size(), 2u);
    EXPECT_EQ(converters->made[1].bitRate, 80000);
    EXPECT_TRUE(log->contains("listen: encoder AAC-LC 80 kbps from 44100Hz 1ch"));
}

TEST_F(AudioEncoder, MakesAConverterPerFormatAndLogsEachOnce) {
    EXPECT_FALSE(encoder.describedFormat());
    EXPECT_FALSE(encode(kStereo48k, 0)) << "an empty buffer makes nothing";
    EXPECT_TRUE(converters->made.empty());

    EXPECT_FALSE(encode(kStereo48k, 1000)) << "fewer than 1024 frames make no packet yet";
    EXPECT_TRUE(encode(kStereo48k, 1000));
    EXPECT_EQ(converters->made.size(), 1u);
    EXPECT_EQ(linesWith("listen: encoder AAC-LC"), 1u);
    EXPECT_EQ(encoder.describedFormat(), (quib::AudioEncoder::DescribedFormat{48000, 2, 1024}));

    encode(kMono44k, 441);
    encode(kMono44k, 441);
    EXPECT_EQ(converters->made.size(), 2u);
    EXPECT_EQ(linesWith("listen: encoder AAC-LC"), 2u);

    // A format without a converter leaves the last one, and its describe format, in place; each
    // buffer of it tries again.
    const PcmFormat surround{48000, 6, PcmFormat::Sample::float32, false};
    converters->refused = {surround};
    EXPECT_FALSE(encode(surround, 480));
    EXPECT_FALSE(encode(surround, 480));
    EXPECT_EQ(linesWith("listen: no AAC encoder for 48000 Hz, 6 ch, float32, planar"), 2u);
    EXPECT_EQ(encoder.describedFormat(), (quib::AudioEncoder::DescribedFormat{48000, 2, 1024}));
    EXPECT_TRUE(encode(kMono44k, 2048)) << "the previous converter still holds its sound";
    EXPECT_EQ(converters->made.size(), 2u);
}

TEST_F(AudioEncoder, AConversionErrorDropsTheConverter) {
    encode(kStereo48k, 480);
    converters->failNext = "Invalid data found when processing input";
    EXPECT_FALSE(encode(kStereo48k, 2048));
    EXPECT_TRUE(log->contains("listen: encode failed Invalid data found when processing input"));
    EXPECT_FALSE(encoder.describedFormat());

    encode(kStereo48k, 480);
    EXPECT_EQ(converters->made.size(), 2u);
    EXPECT_EQ(linesWith("listen: encoder AAC-LC"), 2u);

    converters->failNext = "";
    encode(kStereo48k, 480);
    EXPECT_TRUE(log->contains("listen: encode failed unknown"));
}

// At most four packets come out of one buffer, as their bytes back to back with their sizes;
// the others come with the next buffers.
TEST_F(AudioEncoder, HandsOutAtMostFourPacketsABuffer) {
    const auto first = encode(kStereo48k, 9000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->packetSizes, (std::vector<std::int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(first->bytes, (Bytes{1, 2, 2, 3, 3, 3, 4, 4, 4, 4}));
    const auto second = encode(kStereo48k, 100);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->packetSizes, (std::vector<std::int64_t>{5, 6, 7, 8}));
    EXPECT_FALSE(encode(kStereo48k, 100));

    encoder.reset();
    EXPECT_FALSE(encoder.describedFormat());
    EXPECT_FALSE(encode(kStereo48k, 100)) << "what the dropped converter held is gone";
    EXPECT_EQ(linesWith("listen: encoder AAC-LC"), 2u);
}

}  // namespace
}  // namespace quib::testing
