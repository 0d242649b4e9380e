#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quib {

// The six-character code the menu bar shows and the user types on the phone. The local
// listener's key is derived from it, so typing it loosely (lower case, spaces, hyphens,
// underscores) must still give the same code.
struct PairingCode {
    static constexpr int length = 6;
    // 32 symbols: A to Z without I and O, then 2 to 9. A code carries 30 bits.
    static constexpr std::string_view alphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";

    // Why typed text is not a usable code.
    struct Problem {
        enum class Kind { wrongLength, illegalCharacters, empty };

        Kind kind = Kind::empty;
        int foundLength = 0;     // wrongLength: the number of characters found
        std::string characters;  // illegalCharacters: the offending characters, formatted

        static Problem wrongLength(int found) { return {Kind::wrongLength, found, {}}; }
        static Problem illegalCharacters(std::string formatted) {
            return {Kind::illegalCharacters, 0, std::move(formatted)};
        }
        static Problem empty() { return {Kind::empty, 0, {}}; }

        // The text shown to the user.
        std::string message() const;
        bool operator==(const Problem&) const = default;
    };

    // Upper-cases the text by the Unicode rules, then drops every white-space character
    // (newlines included), "-" and "_"; everything else stays, in order.
    static std::string normalize(std::string_view text);

    // The first problem found in the normalized text (nothing is empty, then any character
    // outside the alphabet, then a length other than six), or none for a valid code.
    static std::optional<Problem> validate(std::string_view text);
    static bool isValid(std::string_view text) { return !validate(text).has_value(); }
};

}  // namespace quib
