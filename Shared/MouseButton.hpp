#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// The pointer button of a click; also what a connection holds pressed.
enum class MouseButton { left, right, middle };

template <>
struct EnumNames<MouseButton> {
    static constexpr std::array<std::pair<MouseButton, std::string_view>, 3> table{{
        {MouseButton::left, "left"},
        {MouseButton::right, "right"},
        {MouseButton::middle, "middle"},
    }};
};

}  // namespace quib
