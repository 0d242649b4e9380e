#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"
#include "Shared/ShortcutProfile.hpp"

namespace quib {

// The shortcut profile read from an app's menu bar, and how reading went. Decoded tolerantly;
// an outcome text that names no outcome reads as `unreadable`.
struct MenuProfilePayload {
    enum class Outcome { read, notRunning, unreadable, nothingUseful };

    std::string bundleID;
    Outcome outcome = Outcome::unreadable;
    std::optional<ShortcutProfile> profile;
    std::string note;  // a sentence for the user explaining the outcome

    static MenuProfilePayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const MenuProfilePayload&) const = default;
};

template <>
struct EnumNames<MenuProfilePayload::Outcome> {
    static constexpr std::array<std::pair<MenuProfilePayload::Outcome, std::string_view>, 4> table{{
        {MenuProfilePayload::Outcome::read, "read"},
        {MenuProfilePayload::Outcome::notRunning, "notRunning"},
        {MenuProfilePayload::Outcome::unreadable, "unreadable"},
        {MenuProfilePayload::Outcome::nothingUseful, "nothingUseful"},
    }};
};

}  // namespace quib
