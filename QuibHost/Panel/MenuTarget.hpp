#pragma once

#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The active target: a picker of the saved targets in the store's order (a tmux target whose
// pane is gone says so), and the server's last activity in at most two lines. The picker has no
// empty row: an active target that names no row shows no selection, and nothing here clears it.
class MenuTarget {
public:
    static std::vector<MenuItem> items(const MenuViewState& state);
};

}  // namespace quib
