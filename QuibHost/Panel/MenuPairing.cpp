#include "QuibHost/Panel/MenuPairing.hpp"

namespace quib {

std::vector<MenuItem> MenuPairing::items(const MenuViewState& state) {
    return {
        sectionTitle("PAIRING CODE"),
        {.kind = MenuItemKind::code, .text = state.pairingCode, .font = TextStyle::title2Monospaced},
        {.kind = MenuItemKind::button,
         .symbol = "arrow.triangle.2.circlepath",
         .help = "Rotate the code and disconnect every paired phone",
         .action = MenuControl::RotatePairingCode{},
         .place = Placement::end,
         .borderless = true},
    };
}

}  // namespace quib
