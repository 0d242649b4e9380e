#include "Platform/Linux/Media/FfmpegAacConverter.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <string>

#include "Platform/Linux/Media/FfmpegLog.hpp"
#include "Shared/AudioChannel.hpp"

namespace quib {

namespace {

// Source buffers are resampled this many frames at a time, so that no count overflows an int.
constexpr std::int64_t kResampleChunk = 1 << 16;

AVSampleFormat sampleFormatOf(const PcmFormat& format) {
    if (format.sample == PcmFormat::Sample::float32) return format.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    return format.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
}

std::string describeError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

void FfmpegAacConverter::Free::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void FfmpegAacConverter::Free::operator()(SwrContext* resampler) const { swr_free(&resampler); }
void FfmpegAacConverter::Free::operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
void FfmpegAacConverter::Free::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void FfmpegAacConverter::Free::operator()(AVPacket* packet) const { av_packet_free(&packet); }

FfmpegAacConverter::FfmpegAacConverter(Passkey, const PcmFormat& source) : source_(source) {}
FfmpegAacConverter::~FfmpegAacConverter() = default;

std::unique_ptr<FfmpegAacConverter> FfmpegAacConverter::make(const PcmFormat& source, std::int64_t bitRate) {
    if (!source.isValid() || bitRate <= 0) return nullptr;
    quietFfmpegLog();
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr) return nullptr;
    auto converter = std::make_unique<FfmpegAacConverter>(Passkey{}, source);

    converter->encoder_.reset(avcodec_alloc_context3(codec));
    AVCodecContext* encoder = converter->encoder_.get();
    if (encoder == nullptr) return nullptr;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = static_cast<int>(AudioChannel::sampleRate);
    if (av_channel_layout_copy(&encoder->ch_layout, &stereo) < 0) return nullptr;
    encoder->bit_rate = bitRate;
    encoder->profile = FF_PROFILE_AAC_LOW;
    encoder->time_base = AVRational{1, static_cast<int>(AudioChannel::sampleRate)};
    // Keeps the AudioSpecificConfig apart rather than in front of packets.
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(encoder, codec, nullptr) < 0 || encoder->frame_size != AudioChannel::framesPerPacket)
        return nullptr;

    AVChannelLayout input{};
    av_channel_layout_default(&input, source.channels);
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &encoder->ch_layout, AV_SAMPLE_FMT_FLTP, encoder->sample_rate,
                                         &input, sampleFormatOf(source), source.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&input);
    converter->resampler_.reset(resampler);
    if (made < 0 || swr_init(resampler) < 0) return nullptr;

    converter->fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 4 * encoder->frame_size));
    converter->frame_.reset(av_frame_alloc());
    converter->packet_.reset(av_packet_alloc());
    AVFrame* frame = converter->frame_.get();
    if (!converter->fifo_ || frame == nullptr || !converter->packet_) return nullptr;
    frame->nb_samples = encoder->frame_size;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
        return nullptr;
    return converter;
}

std::int64_t FfmpegAacConverter::bitRate() const { return encoder_->bit_rate; }

// 6144 bits for each channel: the most one AAC-LC frame may hold.
std::int64_t FfmpegAacConverter::maxPacketBytes() const { return AudioChannel::maxPacketBytes; }

std::vector<std::uint8_t> FfmpegAacConverter::audioSpecificConfig() const {
    if (encoder_->extradata == nullptr || encoder_->extradata_size <= 0) return {};
    return {encoder_->extradata, encoder_->extradata + encoder_->extradata_size};
}

int FfmpegAacConverter::primingSamples() const { return encoder_->initial_padding; }

Result<void> FfmpegAacConverter::convert(const PcmBuffer& input, std::size_t maxPackets, AacPackets& output) {
    if (input.format != source_ || !input.isUsable())
        return fail("a buffer in " + input.format.description() + " reached a converter for " + source_.description());
    if (auto resampled = resample(input); !resampled) return resampled;
    return drain(maxPackets, output);
}

Result<void> FfmpegAacConverter::resample(const PcmBuffer& input) {
    const std::size_t step = source_.bytesPerFramePerPlane();
    for (std::int64_t done = 0; done < input.frames;) {
        const int count = static_cast<int>(std::min(input.frames - done, kResampleChunk));
        std::array<const std::uint8_t*, PcmFormat::maxChannels> planes{};
        for (std::size_t i = 0; i < input.planes.size(); ++i)
            planes[i] = input.planes[i] + static_cast<std::size_t>(done) * step;

        const int capacity = swr_get_out_samples(resampler_.get(), count);
        if (capacity < 0) return fail(describeError(capacity));
        for (auto& plane : staging_) plane.resize(static_cast<std::size_t>(std::max(capacity, 1)));
        std::array<std::uint8_t*, 2> out{reinterpret_cast<std::uint8_t*>(staging_[0].data()),
                                         reinterpret_cast<std::uint8_t*>(staging_[1].data())};
        const int converted = swr_convert(resampler_.get(), out.data(), capacity, planes.data(), count);
        if (converted < 0) return fail(describeError(converted));
        if (converted > 0 &&
            av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out.data()), converted) < converted)
            return fail(describeError(AVERROR(ENOMEM)));
        done += count;
    }
    return {};
}

// Takes the encoder's finished packets first and feeds it whole frames from the FIFO only while
// the caller still wants packets, so that nothing is made that cannot be handed out.
Result<void> FfmpegAacConverter::drain(std::size_t maxPackets, AacPackets& output) {
    AVCodecContext* encoder = encoder_.get();
    for (std::size_t made = 0; made < maxPackets;) {
        const int received = avcodec_receive_packet(encoder, packet_.get());
        if (received == 0) {
            output.bytes.insert(output.bytes.end(), packet_->data, packet_->data + packet_->size);
            output.sizes.push_back(packet_->size);
            av_packet_unref(packet_.get());
            ++made;
            continue;
        }
        if (received == AVERROR_EOF) return {};
        if (received != AVERROR(EAGAIN)) return fail(describeError(received));
        if (av_audio_fifo_size(fifo_.get()) < encoder->frame_size) return {};

        AVFrame* frame = frame_.get();
        if (const int writable = av_frame_make_writable(frame); writable < 0) return fail(describeError(writable));
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), encoder->frame_size) <
            encoder->frame_size)
            return fail("the sample queue came up short");
        frame->pts = nextPts_;
        nextPts_ += encoder->frame_size;
        if (const int sent = avcodec_send_frame(encoder, frame); sent < 0) return fail(describeError(sent));
    }
    return {};
}

}  // namespace quib
