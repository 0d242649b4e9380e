#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// A place where text, keys and images go: an app, a tmux pane, or whatever app is frontmost.
struct QuibTarget {
    enum class Kind { app, tmux, frontmost };

    std::string id;
    std::string name;
    Kind kind = Kind::frontmost;
    std::optional<std::string> bundleID;
    // A value beginning with "%" is a tmux pane identifier, anything else a session:window.pane address.
    std::optional<std::string> tmuxTarget;
    bool submitOnSend = true;
    bool allowAutoSubmit = true;
    std::string symbol = "square.dashed";
    std::optional<std::string> profileID;
    std::optional<std::uint32_t> pinnedWindowID;
    std::optional<std::string> pinnedWindowTitle;
    bool isProvisional = false;

    // True when the tmux target is a pane identifier, which survives renames and moves.
    bool hasStableTmuxID() const;

    // Decoding fills every missing or null key with its default; a wrong type fails.
    static QuibTarget fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const QuibTarget&) const = default;
};

template <>
struct EnumNames<QuibTarget::Kind> {
    static constexpr std::array<std::pair<QuibTarget::Kind, std::string_view>, 3> table{{
        {QuibTarget::Kind::app, "app"},
        {QuibTarget::Kind::tmux, "tmux"},
        {QuibTarget::Kind::frontmost, "frontmost"},
    }};
};

}  // namespace quib
