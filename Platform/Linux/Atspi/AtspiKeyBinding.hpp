#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quib {

// The key binding a menu item publishes over AT-SPI, turned into the three parts of a key
// equivalent that the menu reader hands out: the character, the virtual key of a key without
// one, and the modifier bits. Two toolkits write it differently:
//   GTK 3: "mnemonic;path;accelerator", the accelerator as "<Primary><Shift>z" or "F5";
//   Qt:    "Ctrl+Shift+S", "Alt+F5", "Ctrl++", several chords as "Ctrl+K, Ctrl+S".
// A binding the host could not press gives none: several chords, a Super, Meta or Hyper key
// (the host presses no such key), a modifier or key it does not know. So does a Qt item's
// mnemonic: an item without a shortcut publishes Alt and its underlined letter ("&Close Tab"
// gives "Alt+C"), which inside the open menu is the letter alone and outside it no key of the
// item's; Alt alone with a letter or digit of the item's `title` is taken for one.
namespace AtspiKeyBinding {

struct Equivalent {
    std::optional<std::string> character;  // one Unicode scalar
    std::optional<std::int64_t> virtualKey;
    std::int64_t modifiers = 0;  // the menu reader's bits; the no-Command bit always set
    bool operator==(const Equivalent&) const = default;
};

std::optional<Equivalent> parse(std::string_view binding, std::string_view title = {});

}  // namespace AtspiKeyBinding
}  // namespace quib
