#pragma once

#include <optional>
#include <string>

#include "Shared/Json.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// A key chord to press on a target. Decodes the "chord" form and the two older forms phones
// still send (a "key" word, or a "keyCode" with "command"/"control" flags); encodes the chord
// form only.
struct KeyPayload {
    KeyChord chord;
    std::optional<std::string> targetID;  // absent: whatever window is in front

    static KeyPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const KeyPayload&) const = default;
};

}  // namespace quib
