#include "QuibHost/Panel/MenuTarget.hpp"

namespace quib {

std::vector<MenuItem> MenuTarget::items(const MenuViewState& state) {
    std::vector<MenuItem> items{sectionTitle("ACTIVE TARGET"), {.kind = MenuItemKind::picker}};
    for (const auto& target : state.targets) {
        const bool missing = state.unresolvedTargetIDs.contains(target.id);
        items.push_back({.kind = MenuItemKind::choice,
                         .text = missing ? target.name + " (pane missing)" : target.name,
                         .action = MenuControl::UseTarget{target.id},
                         .selected = state.activeTargetID == target.id,
                         .key = target.id});
    }
    if (state.lastActivity)
        items.push_back({.kind = MenuItemKind::text,
                         .text = *state.lastActivity,
                         .font = TextStyle::caption2,
                         .tone = Tone::secondary,
                         .lines = 2});
    return items;
}

}  // namespace quib
