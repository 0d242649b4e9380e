#pragma once

#include <string>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The host-wide switches, the two reveal buttons, and the row of Settings… and Quit. Launch at
// login is offered only to the installed host; elsewhere the panel says how to install it.
class MenuControls {
public:
    // Markdown: the one text of the panel whose back-quotes are drawn as code. Names the install
    // prefix the build was configured with.
    static std::string installHint();

    static std::vector<MenuItem> items(const MenuViewState& state);
};

}  // namespace quib
