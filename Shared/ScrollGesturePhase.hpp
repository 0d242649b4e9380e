#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// The phase of a trackpad-style scroll gesture.
enum class ScrollGesturePhase { began, ended, momentumBegan, momentumEnded };

template <>
struct EnumNames<ScrollGesturePhase> {
    static constexpr std::array<std::pair<ScrollGesturePhase, std::string_view>, 4> table{{
        {ScrollGesturePhase::began, "began"},
        {ScrollGesturePhase::ended, "ended"},
        {ScrollGesturePhase::momentumBegan, "momentumBegan"},
        {ScrollGesturePhase::momentumEnded, "momentumEnded"},
    }};
};

}  // namespace quib
