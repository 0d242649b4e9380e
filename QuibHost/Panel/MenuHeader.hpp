#pragma once

#include <string_view>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"
#include "Runtime/HostWords.hpp"

namespace quib {

// The panel's first row: the host's symbol, its name over whether and as what it listens, and
// a dot, green while it listens and red otherwise.
class MenuHeader {
public:
    static constexpr std::string_view productName = HostWords::product;

    static std::vector<MenuItem> items(const MenuViewState& state);
};

}  // namespace quib
