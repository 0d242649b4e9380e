#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "Shared/AttachmentFrame.hpp"

namespace quib {

// Reads what the inbox needs to know about an image from its first bytes, without decoding it:
// the file type, from the signature alone, and the pixel size of a PNG or JPEG.
struct ImageSniffer {
    struct PixelSize {
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const PixelSize&) const = default;
    };

    // The uniform type identifier of the image the bytes begin with: "public.png", "public.jpeg",
    // or, only so that a wrong format can be named, GIF, TIFF, BMP, WebP or HEIC. None when the
    // signature is none of these.
    static std::optional<std::string_view> typeIdentifier(std::span<const std::uint8_t> bytes);

    // The size of a PNG from its IHDR chunk, or of a JPEG from its first frame header (SOFn),
    // walking the segments by their lengths. None when that header is missing, cut short or
    // names a zero size.
    static std::optional<PixelSize> pixelSize(std::span<const std::uint8_t> bytes, AttachmentFrame::Format format);
};

}  // namespace quib
