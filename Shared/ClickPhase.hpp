#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// Press, release, or a whole click of a pointer button.
enum class ClickPhase { down, up, click };

template <>
struct EnumNames<ClickPhase> {
    static constexpr std::array<std::pair<ClickPhase, std::string_view>, 3> table{{
        {ClickPhase::down, "down"},
        {ClickPhase::up, "up"},
        {ClickPhase::click, "click"},
    }};
};

}  // namespace quib
