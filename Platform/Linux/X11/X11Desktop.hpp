#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/DesktopServices.hpp"
#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Permissions.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// The desktop of an X display: input posted through XTEST, the pointer, the displays and the
// trust that goes with them, the clipboard, the apps and their windows, and window capture. The
// other services are left for the caller to fill.
namespace X11Desktop {

struct Opened {
    DesktopServices services;
    std::shared_ptr<Permissions> permissions;
};

// Opens `displayName` (empty: $DISPLAY). None, with the reason logged, when no X server answers
// there or it lacks XTEST. The installed apps are those of `apps` (none: of the standard
// folders); without it, terminal emulators are told by window class only. Input is timed by
// `clock` (none: the system clock).
std::optional<Opened> open(const std::string& displayName = {}, std::shared_ptr<DesktopEntries> apps = nullptr,
                           std::shared_ptr<Clock> clock = nullptr);

}  // namespace X11Desktop
}  // namespace quib
