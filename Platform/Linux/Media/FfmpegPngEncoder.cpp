#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <memory>

#include "Platform/Linux/Media/FfmpegLog.hpp"

namespace quib {
namespace {

// Screenshots of windows and screens (text, flat areas): each row predicted from the one above
// and deflated at level 4 come out within a few hundredths of the default level's size with
// Paeth prediction, in about half the time.
constexpr int compressionLevel = 4;

struct ContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

std::unique_ptr<AVCodecContext, ContextFree> openEncoder(int width, int height) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) return nullptr;
    std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(codec));
    if (!context) return nullptr;
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = AVRational{1, 1};
    context->compression_level = compressionLevel;
    if (av_opt_set(context->priv_data, "pred", "up", 0) < 0) return nullptr;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

// The picture's rows as a frame the encoder reads; the pixels are copied into its own buffer.
std::unique_ptr<AVFrame, FrameFree> frameOf(const RgbPicture& picture) {
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                    picture.pixels.data() + static_cast<std::size_t>(y) * picture.stride(), picture.stride());
    }
    return frame;
}

}  // namespace

FfmpegPngEncoder::FfmpegPngEncoder() { quietFfmpegLog(); }

std::optional<Bytes> FfmpegPngEncoder::encode(const RgbPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() < picture.stride() * static_cast<std::size_t>(picture.height)) {
        return std::nullopt;
    }
    auto context = openEncoder(picture.width, picture.height);
    auto frame = frameOf(picture);
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!context || !frame || !packet) return std::nullopt;
    if (avcodec_send_frame(context.get(), frame.get()) < 0) return std::nullopt;
    if (avcodec_receive_packet(context.get(), packet.get()) < 0) return std::nullopt;
    return Bytes(packet->data, packet->data + packet->size);
}

}  // namespace quib
