#pragma once

#include <string_view>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"

namespace quib {

// The two warnings under the header, each while its permission is missing: what is missing,
// what goes wrong without it, and a button that asks the desktop for it. Each is drawn on an
// orange box.
class MenuBanners {
public:
    static constexpr std::string_view openSettings = "Log what is missing";

    static std::vector<MenuItem> accessibility();
    static std::vector<MenuItem> screenRecording();
};

}  // namespace quib
