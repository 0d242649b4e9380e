#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace quib::testing {

// Plays the listen channel's raw AAC-LC packets (48 kHz, two channels) as a phone would: each
// packet behind an ADTS header of its own, through libavcodec's decoder, which learns the format
// from those headers alone. Keeps the left channel.
class AdtsDecoder {
public:
    AdtsDecoder() {
        context_ = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_AAC));
        opened_ = context_ != nullptr && avcodec_open2(context_, context_->codec, nullptr) == 0;
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~AdtsDecoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    AdtsDecoder(const AdtsDecoder&) = delete;
    AdtsDecoder& operator=(const AdtsDecoder&) = delete;

    // The seven bytes before one packet: MPEG-4 AAC-LC, 48000 Hz (index 3), two channels, no CRC.
    static std::array<std::uint8_t, 7> header(std::size_t packetBytes) {
        const std::size_t length = packetBytes + 7;
        return {0xFF,
                0xF1,
                0x4C,
                static_cast<std::uint8_t>(0x80 | ((length >> 11) & 0x03)),
                static_cast<std::uint8_t>((length >> 3) & 0xFF),
                static_cast<std::uint8_t>(((length & 0x07) << 5) | 0x1F),
                0xFC};
    }

    // Decodes one packet; false when the decoder refused it.
    bool decode(std::span<const std::uint8_t> packet) {
        if (!opened_ || av_new_packet(packet_, static_cast<int>(packet.size() + 7)) != 0) return false;
        const auto adts = header(packet.size());
        std::memcpy(packet_->data, adts.data(), adts.size());
        std::memcpy(packet_->data + adts.size(), packet.data(), packet.size());
        const bool sent = avcodec_send_packet(context_, packet_) == 0;
        av_packet_unref(packet_);
        while (sent && avcodec_receive_frame(context_, frame_) == 0) {
            sampleRate_ = frame_->sample_rate;
            channels_ = frame_->ch_layout.nb_channels;
            if (frame_->format != AV_SAMPLE_FMT_FLTP) return false;
            const auto* left = reinterpret_cast<const float*>(frame_->data[0]);
            left_.insert(left_.end(), left, left + frame_->nb_samples);
        }
        return sent;
    }

    const std::vector<float>& left() const { return left_; }
    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    bool opened_ = false;
    std::vector<float> left_;
    int sampleRate_ = 0;
    int channels_ = 0;
};

}  // namespace quib::testing
