#pragma once

#include <cstddef>
#include <functional>
#include <cstdint>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// One key press: a key name, four modifier flags and a repeat count that is always 1 to 4.
// Encoded with all six keys; decoded tolerantly (missing key name "escape", missing flags
// false, missing repeat count 1, a present repeat count clamped to 1...4).
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

    static KeyChord fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const KeyChord&) const = default;
};

}  // namespace quib

template <>
struct std::hash<quib::KeyChord> {
    std::size_t operator()(const quib::KeyChord& chord) const noexcept;
};
