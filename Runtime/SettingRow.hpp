#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace quib {

// One setting of the user defaults, as the settings table declares it: its key, what it holds,
// what of that is taken, what is used when nothing acceptable is stored, and the line logged
// when a stored value is not taken.
struct SettingRow {
    // A switch: a stored value other than true or false is logged, and `fallback` used.
    struct Flag {
        bool fallback;
    };
    // A whole number from `lowest` to `highest`; anything else is logged, and `fallback` used.
    struct Whole {
        std::int64_t lowest;
        std::int64_t highest;
        std::int64_t fallback;
    };
    // A number that `accepts` takes, as the row's rule words say; anything else is logged, and
    // `fallback` used. A fallback that is not a number leaves the choice to the reader, as the
    // row's fallback words say.
    struct Real {
        bool (*accepts)(double);
        double fallback;
    };
    // A text, which its reader checks as the row's rule words say.
    struct Text {};
    // A list of texts; the reader uses `fallback` when the key holds anything else.
    struct TextList {
        std::span<const std::string_view> fallback;
    };
    // A mark the host keeps for itself: true, or absent (anything else reads as absent, unlogged).
    struct Mark {};
    // A record the host stores as bytes; its reader sets aside what does not decode.
    struct Record {};
    using Rule = std::variant<Flag, Whole, Real, Text, TextList, Mark, Record>;

    // The line logged for a number or a switch that breaks its rule.
    static constexpr std::string_view usualIgnored = "{key} {value} ignored: {rule}; using {fallback}";

    std::string_view key;
    std::string_view about;  // what it is, in a few words
    Rule rule;
    // What is taken, in words; none where the rule itself says it (switches, whole numbers).
    std::string_view ruleWords = {};
    // What is used when nothing acceptable is stored, in words; none where the rule gives it.
    std::string_view fallbackWords = {};
    // The line logged when a stored value is not taken, with {key}, {value}, {rule}, {fallback}
    // and, for records, {why} and {aside} (where the value went) in it; none when nothing is logged.
    std::string_view ignored = {};

    // "switch", "whole number", "number", "text", "list of texts", "mark", "record".
    std::string_view typeText() const;
    // "must be a whole number from 1025 to 65535", or the rule words.
    std::string ruleText() const;
    // "61413", "false", or the fallback words.
    std::string fallbackText() const;
    // The ignored line with its blanks filled; empty when the row logs nothing.
    std::string ignoredLine(std::string_view value, std::string_view why = {}, std::string_view aside = {}) const;
};

}  // namespace quib
