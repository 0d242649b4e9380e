#include "QuibHost/App/SessionCaveat.hpp"

#include <cstdlib>

namespace quib {

std::optional<std::string> SessionCaveat::of(const Environment& environment) {
    const Environment read = environment ? environment : [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
    };
    const auto type = read("XDG_SESSION_TYPE");
    const auto wayland = read("WAYLAND_DISPLAY");
    if ((type && *type == "wayland") || (wayland && !wayland->empty())) return std::string(waylandText);
    return std::nullopt;
}

}  // namespace quib
