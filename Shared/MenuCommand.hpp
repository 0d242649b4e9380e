#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Shared/Json.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// One menu item of another app that has a keyboard equivalent, as read from its menu bar.
// Decoded strictly: all three keys required.
struct MenuCommand {
    std::string menu;   // the top-level menu it was found under, exactly as the app publishes it
    std::string title;  // the item's own title, exactly as published
    KeyChord chord;     // its key equivalent

    // The title as menus of different apps are compared: lower case, without white space at
    // either end, without one trailing ellipsis ("…", then "..."), and with every run of white
    // space inside made one space. " Save As…" and "Save   As..." both give "save as".
    std::string normalisedTitle() const;

    static MenuCommand fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const MenuCommand&) const = default;
};

}  // namespace quib

template <>
struct std::hash<quib::MenuCommand> {
    std::size_t operator()(const quib::MenuCommand& command) const noexcept;
};
