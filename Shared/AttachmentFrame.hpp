#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// One image of an upload, as its frame header describes it.
struct AttachmentFrame {
    // The image file formats a phone may send. Coded by raw value ("png", "jpeg"); any other
    // string, "jpg" and upper-case forms included, does not decode.
    enum class Format { png, jpeg };

    // The type identifier the desktop knows the format by: "public.png", "public.jpeg".
    static std::string_view typeIdentifier(Format format);
    // The extension of files in the format: "png", and "jpg" (not "jpeg").
    static std::string_view fileExtension(Format format);
};

template <>
struct EnumNames<AttachmentFrame::Format> {
    static constexpr std::array<std::pair<AttachmentFrame::Format, std::string_view>, 2> table{{
        {AttachmentFrame::Format::png, "png"},
        {AttachmentFrame::Format::jpeg, "jpeg"},
    }};
};

}  // namespace quib
