#pragma once

#include <optional>

#include "Platform/RgbPicture.hpp"
#include "Runtime/Bytes.hpp"

namespace quib {

// Writes pictures as JPEG files at a set quality. Safe on any thread.
class JpegEncoder {
public:
    virtual ~JpegEncoder() = default;
    // The JPEG of `picture` at `quality` (1 to 100); none when it cannot be encoded.
    virtual std::optional<Bytes> encode(const RgbPicture& picture, int quality) = 0;
};

}  // namespace quib
