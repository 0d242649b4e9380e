#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/AacConverter.hpp"
#include "Platform/PcmFormat.hpp"

struct AVCodecContext;
struct SwrContext;
struct AVAudioFifo;
struct AVFrame;
struct AVPacket;

namespace quib {

// AAC-LC over FFmpeg: libswresample brings any source format to planar float at 48000 Hz stereo,
// an audio FIFO cuts that into frames of 1024 samples, and libavcodec's native "aac" encoder
// writes one raw packet for each (no ADTS header).
//
// The encoder runs 1024 samples behind (its priming), so its first packet comes with the second
// whole frame.
class FfmpegAacConverter final : public AacConverter {
public:
    // None when the encoder is missing or refuses the settings, or `source` cannot be resampled.
    static std::unique_ptr<FfmpegAacConverter> make(const PcmFormat& source, std::int64_t bitRate);

    ~FfmpegAacConverter() override;
    FfmpegAacConverter(const FfmpegAacConverter&) = delete;
    FfmpegAacConverter& operator=(const FfmpegAacConverter&) = delete;

    std::int64_t bitRate() const override;
    std::int64_t maxPacketBytes() const override;
    Result<void> convert(const PcmBuffer& input, std::size_t maxPackets, AacPackets& output) override;

    // The AudioSpecificConfig the encoder describes its stream with. The stream never carries it:
    // a listener builds the same bytes from the rate, the channels and the packet length.
    std::vector<std::uint8_t> audioSpecificConfig() const;
    // Samples the encoder holds back before its first packet.
    int primingSamples() const;

private:
    struct Passkey {};

public:
    explicit FfmpegAacConverter(Passkey, const PcmFormat& source);

private:
    Result<void> resample(const PcmBuffer& input);
    Result<void> drain(std::size_t maxPackets, AacPackets& output);

    struct Free {
        void operator()(AVCodecContext* context) const;
        void operator()(SwrContext* resampler) const;
        void operator()(AVAudioFifo* fifo) const;
        void operator()(AVFrame* frame) const;
        void operator()(AVPacket* packet) const;
    };

    PcmFormat source_;
    std::unique_ptr<AVCodecContext, Free> encoder_;
    std::unique_ptr<SwrContext, Free> resampler_;
    std::unique_ptr<AVAudioFifo, Free> fifo_;
    std::unique_ptr<AVFrame, Free> frame_;
    std::unique_ptr<AVPacket, Free> packet_;
    std::vector<float> staging_[2];  // resampled planes on their way into the FIFO
    std::int64_t nextPts_ = 0;
};

}  // namespace quib
