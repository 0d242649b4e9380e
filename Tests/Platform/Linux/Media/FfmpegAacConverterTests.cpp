#include "Platform/Linux/Media/FfmpegAacConverter.hpp"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"
#include "Shared/AudioChannel.hpp"
#include "Tests/Support/ToneFrequency.hpp"

namespace quib {
namespace {

constexpr double kTone = 440.0;

// `frames` frames of a 440 Hz tone at half scale in `format`, from frame `start` on, one
// byte string per plane.
std::vector<std::vector<std::uint8_t>> tone(const PcmFormat& format, std::int64_t start, std::int64_t frames) {
    const int perPlane = format.interleaved ? format.channels : 1;
    std::vector<std::vector<std::uint8_t>> planes(format.planeCount(),
                                                  std::vector<std::uint8_t>(format.bytesPerFramePerPlane() * frames));
    for (auto& plane : planes) {
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            const double value =
                0.5 * std::sin(2 * std::numbers::pi * kTone * static_cast<double>(start + frame) / format.sampleRate);
            for (int channel = 0; channel < perPlane; ++channel) {
                std::uint8_t* at =
                    plane.data() + static_cast<std::size_t>(frame * perPlane + channel) * format.bytesPerSample();
                if (format.sample == PcmFormat::Sample::float32) {
                    const auto sample = static_cast<float>(value);
                    std::memcpy(at, &sample, sizeof sample);
                } else {
                    const auto sample = static_cast<std::int16_t>(std::lround(value * 32767));
                    std::memcpy(at, &sample, sizeof sample);
                }
            }
        }
    }
    return planes;
}

Result<void> feed(AacConverter& converter, const PcmFormat& format, std::int64_t start, std::int64_t frames,
                  AacPackets& out) {
    const auto planes = tone(format, start, frames);
    std::vector<const std::uint8_t*> pointers;
    for (const auto& plane : planes) pointers.push_back(plane.data());
    return converter.convert(PcmBuffer{format, frames, pointers}, 4, out);
}

// What libavcodec's AAC decoder makes of `packets`, told nothing of the stream but the two bytes
// of its AudioSpecificConfig.
struct Decoded {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> left;
};

Decoded decode(const AacPackets& packets, std::vector<std::uint8_t> config) {
    Decoded decoded;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context->extradata, config.data(), config.size());
    context->extradata_size = static_cast<int>(config.size());
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::size_t offset = 0;
    for (const std::int64_t size : packets.sizes) {
        EXPECT_EQ(av_new_packet(packet, static_cast<int>(size)), 0);
        std::memcpy(packet->data, packets.bytes.data() + offset, static_cast<std::size_t>(size));
        offset += static_cast<std::size_t>(size);
        EXPECT_EQ(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, frame) == 0) {
            EXPECT_EQ(frame->format, AV_SAMPLE_FMT_FLTP);
            decoded.sampleRate = frame->sample_rate;
            decoded.channels = frame->ch_layout.nb_channels;
            const auto* left = reinterpret_cast<const float*>(frame->data[0]);
            decoded.left.insert(decoded.left.end(), left, left + frame->nb_samples);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return decoded;
}

// One second of a 440 Hz tone, fed in 10 ms buffers, comes out as raw AAC-LC packets that a
// decoder given only 11 90 (AAC-LC, 48 kHz, two channels, 1024-sample frames) plays at 440 Hz,
// whatever the rate, channels, sample type and layout of the source.
TEST(FfmpegAacConverter, AToneRoundTripsThroughADecoderGivenOnlyTheFormat) {
    const PcmFormat sources[] = {
        {48000, 2, PcmFormat::Sample::float32, true},
        {44100, 1, PcmFormat::Sample::int16, true},
        {32000, 2, PcmFormat::Sample::float32, false},
    };
    for (const PcmFormat& source : sources) {
        SCOPED_TRACE(source.description());
        auto converter = FfmpegAacConverter::make(source, 96000);
        ASSERT_TRUE(converter);
        EXPECT_EQ(converter->bitRate(), 96000);
        const auto config = converter->audioSpecificConfig();
        ASSERT_GE(config.size(), 2u);
        EXPECT_EQ(config[0], 0x11);
        EXPECT_EQ(config[1], 0x90);
        EXPECT_EQ(converter->primingSamples(), 1024);

        AacPackets packets;
        const std::int64_t step = source.sampleRate / 100;
        for (std::int64_t at = 0; at < source.sampleRate; at += step)
            ASSERT_TRUE(feed(*converter, source, at, step, packets));
        ASSERT_GE(packets.sizes.size(), 40u);
        for (const std::int64_t size : packets.sizes) {
            EXPECT_GE(size, 1);
            EXPECT_LE(size, AudioChannel::maxPacketBytes);
        }
        // Raw access units: no ADTS sync word in front.
        EXPECT_FALSE(packets.bytes[0] == 0xff && (packets.bytes[1] & 0xf0) == 0xf0);

        const Decoded decoded = decode(packets, {0x11, 0x90});
        EXPECT_EQ(decoded.sampleRate, 48000);
        EXPECT_EQ(decoded.channels, 2);
        ASSERT_GT(decoded.left.size(), 4096u);
        // Past the priming and the encoder's first frames.
        const auto steady = std::span<const float>(decoded.left).subspan(4096);
        const auto frequency = testing::toneFrequency(steady, 48000);
        ASSERT_TRUE(frequency);
        EXPECT_NEAR(*frequency, kTone, 5.0);
    }
}

// No call hands out more than it was asked for; what it held back comes with later calls, and
// over a run every whole frame fed comes out, but for the encoder's priming.
TEST(FfmpegAacConverter, HoldsBackPacketsBeyondTheCapAndLosesNone) {
    const PcmFormat source{48000, 2, PcmFormat::Sample::float32, true};
    auto converter = FfmpegAacConverter::make(source, 96000);
    ASSERT_TRUE(converter);
    AacPackets out;
    ASSERT_TRUE(feed(*converter, source, 0, 1000, out));
    EXPECT_TRUE(out.sizes.empty()) << "fewer than 1024 frames make no packet";

    ASSERT_TRUE(feed(*converter, source, 1000, 9000, out));
    EXPECT_EQ(out.sizes.size(), 4u);

    std::int64_t fed = 10000;
    std::size_t packets = out.sizes.size();
    for (int i = 0; i < 20; ++i) {
        out.clear();
        ASSERT_TRUE(feed(*converter, source, fed, 480, out));
        EXPECT_LE(out.sizes.size(), 4u);
        packets += out.sizes.size();
        fed += 480;
    }
    EXPECT_EQ(static_cast<std::int64_t>(packets), fed / 1024 - converter->primingSamples() / 1024);
}

TEST(FfmpegAacConverter, RefusesWhatItCannotTake) {
    EXPECT_FALSE(FfmpegAacConverter::make({48000, 0, PcmFormat::Sample::float32, true}, 96000));
    EXPECT_FALSE(FfmpegAacConverter::make({0, 2, PcmFormat::Sample::float32, true}, 96000));
    EXPECT_FALSE(FfmpegAacConverter::make({48000, 9, PcmFormat::Sample::float32, true}, 96000));
    EXPECT_TRUE(FfmpegAacConverterFactory().applicableBitRates({48000, 2}).empty());

    // A buffer of another format than the converter's is an error, not a misread.
    auto converter = FfmpegAacConverter::make({48000, 2, PcmFormat::Sample::float32, true}, 96000);
    ASSERT_TRUE(converter);
    AacPackets out;
    const PcmFormat other{44100, 2, PcmFormat::Sample::float32, true};
    const auto converted = feed(*converter, other, 0, 441, out);
    ASSERT_FALSE(converted);
    EXPECT_NE(converted.error().message.find("44100 Hz, 2 ch, float32, interleaved"), std::string::npos);
}

}  // namespace
}  // namespace quib
