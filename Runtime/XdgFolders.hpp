#pragma once

#include <filesystem>
#include <vector>

namespace quib {

// $XDG_CONFIG_HOME (default ~/.config) and $XDG_DATA_HOME (default ~/.local/share).
std::filesystem::path xdgConfigHome();
std::filesystem::path xdgDataHome();
// The absolute folders of $XDG_DATA_DIRS in order (default /usr/local/share, /usr/share);
// relative ones are ignored.
std::vector<std::filesystem::path> xdgDataDirs();

}  // namespace quib
