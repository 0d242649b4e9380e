#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quib {

// What the user must be told of the desktop session the host runs in. On a Wayland session
// (XDG_SESSION_TYPE=wayland, or WAYLAND_DISPLAY set), the X display the host drives is
// XWayland's: its input and its capture reach only the apps that run on X.
struct SessionCaveat {
    static constexpr const char* waylandText =
        "This is a Wayland session: input from phones and screen capture reach only X11 apps";

    // Reads a variable of the environment; none when it is not set.
    using Environment = std::function<std::optional<std::string>(const char* name)>;

    // The caveat for the session of `environment` (the process's when none is given).
    static std::optional<std::string> of(const Environment& environment = nullptr);
};

}  // namespace quib
