#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "Shared/Json.hpp"

namespace quib {

// The JSON shape of the message enumerations: one object with exactly one key, the case name,
// whose value is always an object (labelled payload values under their labels, one unlabelled
// payload under "_0", nothing for cases without payload).
struct MessageCase {
    std::string_view name;
    const Json& payload;
};

// Finds the one case name among the keys of `root`; other keys are ignored. Fails unless
// exactly one case name is present and its value is an object.
MessageCase messageCase(const Json& root, std::span<const std::string_view> caseNames);

// {"<name>": payload}
Json messageJson(std::string_view caseName, Json payload = Json::object());

inline constexpr std::string_view kUnlabelledPayloadKey = "_0";

}  // namespace quib
