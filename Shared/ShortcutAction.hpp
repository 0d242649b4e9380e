#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// One shortcut button: presses a key chord on the target, or starts the phone's dictation.
// Decoded tolerantly: a missing id gets a fresh UUID, a missing label "key", a missing symbol
// "keyboard", a missing kind `key`, a missing glyphOnly false.
struct ShortcutAction {
    enum class Kind { key, dictate };

    std::string id;
    std::string label = "key";
    std::string symbol = "keyboard";  // system symbol name of the button's glyph
    Kind kind = Kind::key;
    std::optional<KeyChord> chord;  // absent for dictation and for keys not yet pressable
    std::optional<std::string> note;
    bool glyphOnly = false;  // presentation flag for the phone, passed through

    static ShortcutAction fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ShortcutAction&) const = default;
};

template <>
struct EnumNames<ShortcutAction::Kind> {
    static constexpr std::array<std::pair<ShortcutAction::Kind, std::string_view>, 2> table{{
        {ShortcutAction::Kind::key, "key"},
        {ShortcutAction::Kind::dictate, "dictate"},
    }};
};

}  // namespace quib
