#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <optional>

#include "Platform/RgbPicture.hpp"
#include "Runtime/Bytes.hpp"

namespace quib::testing {

// What libavcodec's PNG decoder makes of `png`, as RGB24; none when it cannot read it.
inline std::optional<RgbPicture> decodePng(const Bytes& png) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::optional<RgbPicture> picture;
    packet->data = const_cast<std::uint8_t*>(png.data());
    packet->size = static_cast<int>(png.size());
    if (avcodec_open2(context, codec, nullptr) == 0 && avcodec_send_packet(context, packet) == 0 &&
        avcodec_receive_frame(context, frame) == 0 && frame->format == AV_PIX_FMT_RGB24) {
        picture = RgbPicture{frame->width, frame->height, {}};
        for (int y = 0; y < frame->height; ++y) {
            const std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
            picture->pixels.insert(picture->pixels.end(), row, row + picture->stride());
        }
    }
    packet->data = nullptr;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return picture;
}

}  // namespace quib::testing
