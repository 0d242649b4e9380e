#pragma once

#include <string>

#include "Shared/Json.hpp"

namespace quib {

// One tmux pane as the phone's pane picker shows it. Decoded strictly: all four keys required.
struct TmuxPane {
    std::string id;       // "%<n>"
    std::string spec;     // session:window.pane
    std::string command;  // the command running in the pane
    std::string path;     // its working directory

    // The last two components of the working directory, without a leading slash.
    std::string shortPath() const;

    static TmuxPane fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const TmuxPane&) const = default;
};

}  // namespace quib
