#pragma once

#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The pairing code as stored, for the user to read out or copy, and the button that draws a
// new one (which disconnects every phone, without asking).
class MenuPairing {
public:
    static std::vector<MenuItem> items(const MenuViewState& state);
};

}  // namespace quib
