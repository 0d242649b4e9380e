#pragma once

#include <string>
#include <vector>

#include "Shared/Json.hpp"
#include "Shared/ShortcutAction.hpp"

namespace quib {

// A named, ordered set of shortcut buttons and the tmux process names or app bundle
// identifiers it suits. Decoded tolerantly (missing id "app", name "App", arrays empty);
// one action that fails to decode fails the whole profile.
struct ShortcutProfile {
    std::string id = "app";
    std::string name = "App";
    std::vector<std::string> commands;    // lower-case process names of tmux panes
    std::vector<std::string> bundleIDs;   // lower-case bundle identifiers
    std::vector<ShortcutAction> actions;  // in display order

    static ShortcutProfile fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ShortcutProfile&) const = default;
};

}  // namespace quib
