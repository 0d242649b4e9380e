#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// The header of one frame on a view channel. Only its codec is here so far.
struct ViewFrame {
    // How a video frame's picture is compressed.
    enum class Codec { hevc, h264 };
};

template <>
struct EnumNames<ViewFrame::Codec> {
    static constexpr std::array<std::pair<ViewFrame::Codec, std::string_view>, 2> table{{
        {ViewFrame::Codec::hevc, "hevc"},
        {ViewFrame::Codec::h264, "h264"},
    }};
};

}  // namespace quib
