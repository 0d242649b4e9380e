#pragma once

#include <array>
#include <functional>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The panel's frame: nine slots in a fixed order, each shown under its own condition and some
// followed by a divider.
struct MenuSlot {
    MenuSection section;
    bool (*shown)(const MenuViewState& state);
    bool dividerAfter;
};

// What a slot holds for a state; nothing hides the slot, and its divider with it.
using MenuSectionBuilder = std::function<std::vector<MenuItem>(MenuSection section, const MenuViewState& state)>;

class MenuFrame {
public:
    static const std::array<MenuSlot, 9>& slots();
    // What the slot holds for the state.
    static std::vector<MenuItem> section(MenuSection section, const MenuViewState& state);
};

// The whole panel for one state: the product's name as its title, the menu-bar item's symbol,
// and each slot that shows, in order. Every text the panel shows is made here, from the state
// alone.
MenuViewModel buildMenuView(const MenuViewState& state);
// The same frame, with what each slot holds coming from `sections`.
MenuViewModel buildMenuView(const MenuViewState& state, const MenuSectionBuilder& sections);

}  // namespace quib
