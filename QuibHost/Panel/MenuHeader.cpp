#include "QuibHost/Panel/MenuHeader.hpp"

#include <string>

namespace quib {
namespace {

MenuItem item(MenuItemKind kind, std::string text, TextStyle font, Tone tone, Placement place) {
    MenuItem made;
    made.kind = kind;
    made.text = std::move(text);
    made.font = font;
    made.tone = tone;
    made.place = place;
    return made;
}

}  // namespace

std::vector<MenuItem> MenuHeader::items(const MenuViewState& state) {
    auto symbol =
        item(MenuItemKind::symbol, std::string(MenuSymbol::pointer), TextStyle::title3, Tone::primary, Placement::line);
    symbol.symbol = symbol.text;
    return {
        std::move(symbol),
        item(MenuItemKind::title, std::string(productName), TextStyle::headline, Tone::primary, Placement::beside),
        item(MenuItemKind::text, state.isListening ? "Listening as " + state.hostDisplayName : "Not listening",
             TextStyle::caption, Tone::secondary, Placement::under),
        item(MenuItemKind::dot, "", TextStyle::body, state.isListening ? Tone::green : Tone::red, Placement::end),
    };
}

}  // namespace quib
