#pragma once

#include <optional>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// Text to deliver. "text" is required; "targetID" and "submit" are optional.
struct TextPayload {
    std::string text;
    std::optional<std::string> targetID;  // absent: the active target
    std::optional<bool> submit;           // absent: the target's own setting decides

    static TextPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const TextPayload&) const = default;
};

}  // namespace quib
