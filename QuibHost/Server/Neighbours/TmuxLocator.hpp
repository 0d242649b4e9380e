#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace quib {

// Finds the tmux program. Looked up afresh on every call, so installing tmux while the host runs
// counts at once.
class TmuxLocator {
public:
    // Where tmux is looked for, in this order.
    static constexpr std::array<std::string_view, 3> standardPaths = {"/opt/homebrew/bin/tmux", "/usr/local/bin/tmux",
                                                                      "/usr/bin/tmux"};

    // The first of `paths` that is an executable file (symbolic links followed), or none.
    static std::optional<std::filesystem::path> executable(std::span<const std::string_view> paths = standardPaths);
    static bool isAvailable() { return executable().has_value(); }
};

}  // namespace quib
