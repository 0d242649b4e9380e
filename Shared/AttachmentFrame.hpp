#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"
#include "Shared/Json.hpp"
#include "Shared/LengthPrefixed.hpp"
#include "Shared/LengthPrefixedFramer.hpp"

namespace quib {

// The header of one uploaded image frame. Every key is required; the payload is the image
// file's bytes. The host checks the image against `byteCount` and its own reading of the format
// and pixel size; the stated `width` and `height` are the phone's word only.
struct AttachmentFrame {
    // The image file formats a phone may send. Coded by raw value ("png", "jpeg"); any other
    // string, "jpg" and upper-case forms included, does not decode.
    enum class Format { png, jpeg };

    std::int64_t index = 0;  // position in the upload, 0 to count - 1
    Format format = Format::png;
    std::int64_t byteCount = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    // The type identifier the desktop knows the format by: "public.png", "public.jpeg".
    static std::string_view typeIdentifier(Format format);
    // The extension of files in the format: "png", and "jpg" (not "jpeg").
    static std::string_view fileExtension(Format format);

    static AttachmentFrame fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AttachmentFrame&) const = default;
};

template <>
struct EnumNames<AttachmentFrame::Format> {
    static constexpr std::array<std::pair<AttachmentFrame::Format, std::string_view>, 2> table{{
        {AttachmentFrame::Format::png, "png"},
        {AttachmentFrame::Format::jpeg, "jpeg"},
    }};
};

// Reads upload frames; the host's reader caps both lengths at UploadChannel::maxAttachmentBytes.
using AttachmentFrameReader = LengthPrefixedFramer<AttachmentFrame>;

// Writes one upload frame (the phone's side of the channel).
struct AttachmentFrameWriter {
    static Result<Bytes> encode(const AttachmentFrame& frame, std::span<const std::uint8_t> payload) {
        return LengthPrefixed::encode(frame, payload);
    }
};

}  // namespace quib
