#pragma once

#include <optional>

#include "Platform/RgbPicture.hpp"
#include "Runtime/Bytes.hpp"

namespace quib {

// Writes pictures as PNG files. Safe on any thread.
class PngEncoder {
public:
    virtual ~PngEncoder() = default;
    // The PNG of `picture`; none when it cannot be encoded.
    virtual std::optional<Bytes> encode(const RgbPicture& picture) = 0;
};

}  // namespace quib
