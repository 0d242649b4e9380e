#pragma once

#include <string>
#include <vector>

#include "QuibHost/Panel/SettingsViewModel.hpp"

namespace quib {

// The settings window as lines of text, for the control tool, in the panel's format (MenuDump):
// the `list` section holds a label per row and the warning of an unresolved one, then a divider;
// `bar` the two buttons and the count; `detail` the selected target's name, or the placeholder.
// The last line is `end`.
class SettingsDump {
public:
    static std::vector<std::string> lines(const SettingsViewModel& model);
};

}  // namespace quib
