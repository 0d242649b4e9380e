#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Shared/Json.hpp"

namespace quib {

// One key press: a key name, four modifier flags and a repeat count that is always 1 to 4.
// Encoded with all six keys; decoded tolerantly (missing key name "escape", missing flags
// false, missing repeat count 1, a present repeat count clamped to 1...4). The names the host
// can press are those of keyCodes(), lower case; any other name travels unchanged but cannot
// be pressed.
struct KeyChord {
    static constexpr std::int64_t minRepeatCount = 1;
    static constexpr std::int64_t maxRepeatCount = 4;

    std::string key = "escape";
    bool control = false;
    bool option = false;
    bool shift = false;
    bool command = false;
    std::int64_t repeatCount = 1;

    // A bare Escape.
    KeyChord() = default;
    // Stores the repeat count clamped to 1...4; the key name is not checked.
    explicit KeyChord(std::string key, bool control = false, bool option = false, bool shift = false,
                      bool command = false, std::int64_t repeatCount = 1);

    static std::int64_t clampedRepeatCount(std::int64_t count);

    // Every key name the host can press, with its virtual key code: 73 names, no two sharing a
    // code. Built once, on first use.
    static const std::unordered_map<std::string, std::uint16_t>& keyCodes();
    // The key name that has this virtual key code; none when no name has it.
    static std::optional<std::string> keyForVirtualKey(std::uint16_t code);

    // n for a function key's name: "f" and a whole number from 1 to 12, as a plain decimal
    // parse reads it ("f5", "f05", "f+5"); none for every other name ("F5", "f13", "f").
    static std::optional<int> functionKeyNumber(std::string_view name);

    // The virtual key code of this chord's key, looked up exactly as spelled.
    std::optional<std::uint16_t> macVirtualKey() const;
    // The name tmux's send-keys takes for this chord ("C-c", "M-Left", "BTab"); none with
    // Command held or for a key tmux has no name for.
    std::optional<std::string> tmuxName() const;
    // The compact glyph form: "⌘C", "⌃⇧⇥", "esc ×2".
    std::string display() const;
    // The form read out in messages: "Control C", "Shift Tab", "Escape, twice" (for any repeat).
    std::string spoken() const;

    static KeyChord fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const KeyChord&) const = default;
};

}  // namespace quib

template <>
struct std::hash<quib::KeyChord> {
    std::size_t operator()(const quib::KeyChord& chord) const noexcept;
};
