#pragma once

#include "Platform/JpegEncoder.hpp"

namespace quib {

// JPEG through gdk-pixbuf's saver, which reports failures as values.
class PixbufJpegEncoder final : public JpegEncoder {
public:
    std::optional<Bytes> encode(const RgbPicture& picture, int quality) override;
};

}  // namespace quib
