#pragma once

#include <string_view>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// Away access: the switch as stored, the overlay-VPN addresses phones can already use (whether
// or not the switch is on), how remote reach fares, and whether alerts reach sleeping phones.
class MenuAway {
public:
    static constexpr std::string_view overlayHint =
        "Connect Tailscale on both devices to use another Wi-Fi or cellular. No public port forwarding is "
        "needed for this route.";

    static std::vector<MenuItem> items(const MenuViewState& state);
    // The push line, with a moon while nothing is set up (or nothing is known yet), else a bell.
    static std::vector<MenuItem> pushLine(const std::string& summary);
};

}  // namespace quib
