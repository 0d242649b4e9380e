#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Panel/MenuAction.hpp"

namespace quib {

// The panel's slots, top to bottom.
enum class MenuSection {
    header,
    accessibilityBanner,
    screenRecordingBanner,
    approvals,
    pairing,
    away,
    devices,
    target,
    controls,
};

enum class MenuItemKind {
    symbol,  // a symbol on its own; the text is the symbol's name
    title,   // the product's name
    text,
    markdown,  // a text whose markup (back-quoted code) is drawn
    label,     // a text with a symbol
    button,    // a button with a text, or with a symbol when the text is empty
    toggle,    // a switch
    picker,    // a pop-up choice; its rows follow it as `choice` items
    choice,
    field,     // a text field; the text is its content
    value,     // a labelled value
    code,      // text the user may select and copy
    dot,       // a small filled circle in the item's tone
    progress,  // an indeterminate progress indicator
    divider,
};

// The platform's text styles, and the fixed sizes some rows use instead.
enum class TextStyle {
    body,
    headline,
    title2,
    title2Monospaced,
    title3,
    caption,
    captionBold,
    caption2,
    caption2Bold,
    caption2Monospaced,
    monospaced11,
    monospaced10,
};

enum class Tone { primary, secondary, orange, green, red };

// The tinted, rounded box an item is drawn on: one box holds the run of consecutive items of a
// section that share their fill and their key.
enum class Fill { none, banner, card };

// Where an item sits relative to the one before it in its section: on a line of its own, beside
// it, under it (the two forming one small stack within the line), or at the end of the line
// after a flexible space.
enum class Placement { line, beside, under, end };

// The symbols the panel names; the interface alone knows how to draw them.
struct MenuSymbol {
    static constexpr std::string_view pointer = "cursorarrow.click";
    static constexpr std::string_view pointerWithClock = "cursorarrow.click.badge.clock";
};

struct MenuItem {
    MenuItemKind kind = MenuItemKind::text;
    std::string text{};
    std::string symbol{};
    TextStyle font = TextStyle::body;
    Tone tone = Tone::primary;
    std::string help{};  // the hover help
    std::optional<MenuAction> action = std::nullopt;
    bool enabled = true;
    std::optional<bool> on = std::nullopt;    // a switch's position
    bool isDefault = false;                   // Return presses it
    bool selected = false;                    // a picker's current row
    std::optional<int> lines = std::nullopt;  // the most lines a text takes
    std::string label{};                      // of a field or a value
    // The identifier of the row the item belongs to (a device, a request, a target), or a
    // picker row's tag; empty for the rows that are not keyed.
    std::string key{};
    Placement place = Placement::line;
    Fill fill = Fill::none;
    bool borderless = false;  // a button drawn without its bezel
    bool small = false;       // a control at the small size

    bool operator==(const MenuItem&) const = default;
};

struct MenuViewSection {
    MenuSection id = MenuSection::header;
    std::vector<MenuItem> items;
    bool dividerAfter = false;

    bool operator==(const MenuViewSection&) const = default;
};

// Everything the panel shows, in order: the visible sections, each with its items, and what the
// menu-bar item shows.
struct MenuViewModel {
    std::string title;  // the panel's window title
    std::string menuBarSymbol;
    std::vector<MenuViewSection> sections;

    // The section when it is visible.
    const MenuViewSection* section(MenuSection id) const;
    bool operator==(const MenuViewModel&) const = default;
};

// The names the control tool's dump gives these.
std::string_view nameOf(MenuSection section);
std::string_view nameOf(MenuItemKind kind);
std::string_view nameOf(TextStyle style);
std::string_view nameOf(Tone tone);
std::string_view nameOf(Fill fill);

// A section's title: upper-case, small, bold and secondary.
MenuItem sectionTitle(std::string_view text);

}  // namespace quib
