#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"

namespace quib {

// The panel as lines of text, for the control tool: what the widgets draw, item by item.
//
// The first line is the menu-bar item, `menubar<TAB>symbol<TAB>NAME`; then one line per visible
// item in the panel's order, `SECTION<TAB>KIND<TAB>TEXT`, followed by `<TAB>name=value` for each
// field the item sets (symbol, help, tone, font, on, enabled, default, selected, lines, label,
// key, in that order); a divider is an item of its own; the last line is `end`. Every text and
// value is escaped, so that a line holds no tab, line break or other control character and
// reads back exactly.
class MenuDump {
public:
    static constexpr std::string_view endLine = "end";

    static std::vector<std::string> lines(const MenuViewModel& model);
    // One item's line, under the section of that name.
    static std::string itemLine(std::string_view section, const MenuItem& item);
    // A backslash doubled, then each control character as the log writes it: \n, \r, \t, and
    // \uXXXX for the others and DEL.
    static std::string escape(std::string_view text);
};

}  // namespace quib
