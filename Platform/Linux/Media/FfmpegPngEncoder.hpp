#pragma once

#include "Platform/PngEncoder.hpp"

namespace quib {

// PNG through libavcodec's encoder, each row predicted from the row above it, deflated at a
// level that favours speed (screenshots are sent at once and seldom kept).
class FfmpegPngEncoder final : public PngEncoder {
public:
    FfmpegPngEncoder();
    std::optional<Bytes> encode(const RgbPicture& picture) override;
};

}  // namespace quib
