#pragma once

#include "Platform/PngEncoder.hpp"

namespace quib {

// PNG through libavcodec's encoder, each row predicted from its neighbours by the Paeth filter,
// at the default compression level.
class FfmpegPngEncoder final : public PngEncoder {
public:
    FfmpegPngEncoder();
    std::optional<Bytes> encode(const RgbPicture& picture) override;
};

}  // namespace quib
