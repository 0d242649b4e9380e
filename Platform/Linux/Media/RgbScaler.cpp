#include "Platform/Linux/Media/RgbScaler.hpp"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>

namespace quib {
namespace {

struct ContextFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

}  // namespace

Result<RgbPicture> RgbScaler::scale(const std::uint8_t* pixels, int width, int height, int stride, int outWidth,
                                    int outHeight) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4 || outWidth <= 0 || outHeight <= 0) {
        return fail("the picture has no pixels to scale");
    }
    std::unique_ptr<SwsContext, ContextFree> context(sws_getContext(
        width, height, AV_PIX_FMT_BGR0, outWidth, outHeight, AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr));
    if (!context) return fail("the picture couldn't be scaled");
    RgbPicture picture{outWidth, outHeight,
                       Bytes(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight) * 3)};
    const std::uint8_t* sources[4] = {pixels, nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {stride, 0, 0, 0};
    std::uint8_t* targets[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
    const int targetStrides[4] = {static_cast<int>(picture.stride()), 0, 0, 0};
    if (sws_scale(context.get(), sources, sourceStrides, 0, height, targets, targetStrides) != outHeight) {
        return fail("the picture couldn't be scaled");
    }
    return picture;
}

}  // namespace quib
