#include "Platform/Linux/Media/PictureScaler.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace quib {
namespace {

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// swscale takes frames by reference; these lend it memory that stays ours.
void keepMemory(void*, std::uint8_t*) {}

Frame lentFrame(std::uint8_t* memory, std::size_t size, int flags) {
    Frame frame(av_frame_alloc());
    if (frame) frame->buf[0] = av_buffer_create(memory, size, keepMemory, nullptr, flags);
    if (frame && !frame->buf[0]) frame.reset();
    return frame;
}

// Bands thinner than this, left by rounding both sides to even, are stretched over instead.
constexpr int thinnestBand = 2;

}  // namespace

PictureScaler::PictureScaler(int threads) : threads_(std::max(threads, 1)), converter_(threads_) {}

PictureScaler::~PictureScaler() { sws_freeContext(context_); }

PictureScaler::Placement PictureScaler::placement(int width, int height, const PixelBuffer& picture) {
    const int outWidth = picture.width(), outHeight = picture.height();
    const double factor = std::min(static_cast<double>(outWidth) / width, static_cast<double>(outHeight) / height);
    Placement inside{0, 0, outWidth, outHeight};
    const int fitWidth = std::clamp(static_cast<int>(std::lround(width * factor)), 1, outWidth);
    const int fitHeight = std::clamp(static_cast<int>(std::lround(height * factor)), 1, outHeight);
    // Even corners, so that the half-size colour planes line up with the full-size one.
    if (outWidth - fitWidth >= thinnestBand) inside = {((outWidth - fitWidth) / 2) & ~1, 0, fitWidth, outHeight};
    if (outHeight - fitHeight >= thinnestBand) inside = {0, ((outHeight - fitHeight) / 2) & ~1, outWidth, fitHeight};
    return inside;
}

// Black in full range: no light, no colour.
void PictureScaler::paintBands(PixelBuffer& picture, const Placement& inside) {
    for (int plane = 0; plane < PixelBuffer::planeCount; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        const std::uint8_t black = plane == 0 ? 0 : 128;
        const int fromX = inside.x >> shift, toX = (inside.x + inside.width + shift) >> shift;
        const int fromY = inside.y >> shift, toY = (inside.y + inside.height + shift) >> shift;
        const int rowWidth = picture.planeWidth(plane);
        for (int y = 0; y < picture.planeHeight(plane); ++y) {
            std::uint8_t* row = picture.row(plane, y);
            if (y < fromY || y >= toY) {
                std::memset(row, black, static_cast<std::size_t>(rowWidth));
                continue;
            }
            std::memset(row, black, static_cast<std::size_t>(fromX));
            std::memset(row + toX, black, static_cast<std::size_t>(std::max(rowWidth - toX, 0)));
        }
    }
}

bool PictureScaler::prepare(int width, int height, const Placement& target) {
    if (context_ && width == sourceWidth_ && height == sourceHeight_ && target == target_) return true;
    sws_freeContext(context_);
    context_ = sws_alloc_context();
    if (!context_) return false;
    av_opt_set_int(context_, "srcw", width, 0);
    av_opt_set_int(context_, "srch", height, 0);
    av_opt_set_pixel_fmt(context_, "src_format", AV_PIX_FMT_BGR0, 0);
    av_opt_set_int(context_, "src_range", 1, 0);
    av_opt_set_int(context_, "dstw", target.width, 0);
    av_opt_set_int(context_, "dsth", target.height, 0);
    av_opt_set_pixel_fmt(context_, "dst_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(context_, "dst_range", 1, 0);
    av_opt_set_int(context_, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(context_, "threads", threads_, 0);
    if (sws_init_context(context_, nullptr, nullptr) < 0) {
        sws_freeContext(std::exchange(context_, nullptr));
        return false;
    }
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(context_, bt709, 1, bt709, 1, 0, 1 << 16, 1 << 16);
    sourceWidth_ = width;
    sourceHeight_ = height;
    target_ = target;
    return true;
}

bool PictureScaler::scale(const std::uint8_t* pixels, int width, int height, int stride, PixelBuffer& picture) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4) return false;
    if (width == picture.width() && height == picture.height())
        return converter_.convert(pixels, width, height, stride, picture);
    const Placement inside = placement(width, height, picture);
    if (!prepare(width, height, inside)) return false;
    if (inside != Placement{0, 0, picture.width(), picture.height()}) paintBands(picture, inside);

    const std::size_t sourceSize = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const std::size_t targetSize = picture.memorySize() - static_cast<std::size_t>(picture.data(0) - picture.memory());
    Frame source = lentFrame(const_cast<std::uint8_t*>(pixels), sourceSize, AV_BUFFER_FLAG_READONLY);
    Frame target = lentFrame(picture.data(0), targetSize, 0);
    if (!source || !target) return false;
    source->format = AV_PIX_FMT_BGR0;
    source->width = width;
    source->height = height;
    source->data[0] = const_cast<std::uint8_t*>(pixels);
    source->linesize[0] = stride;
    target->format = AV_PIX_FMT_YUV420P;
    target->width = inside.width;
    target->height = inside.height;
    for (int plane = 0; plane < PixelBuffer::planeCount; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        target->data[plane] = picture.row(plane, inside.y >> shift) + (inside.x >> shift);
        target->linesize[plane] = picture.stride(plane);
    }
    return sws_scale_frame(context_, target.get(), source.get()) >= 0;
}

}  // namespace quib
