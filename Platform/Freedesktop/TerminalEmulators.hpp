#pragma once

#include <string_view>

#include "Platform/Freedesktop/DesktopEntries.hpp"

namespace quib {

// Whether a window belongs to a terminal emulator, where copy and paste take Shift besides
// Control (Control-C and Control-V mean interrupt and a literal character there).
namespace TerminalEmulators {

// A window of this X class and instance is a terminal's when the installed app that owns such
// windows is a terminal emulator, or when the class is one of the well-known terminals' (for
// terminals installed without a desktop entry, or whose entry does not say so).
bool ownsWindow(const DesktopEntries& apps, std::string_view windowClass, std::string_view instance);

// The class is one of the well-known terminals', in any letter case.
bool isKnownClass(std::string_view windowClass);

// A terminal of this class pastes only the PRIMARY selection with its default keys (Shift+Insert,
// the middle button), unless the user configured it otherwise: xterm and urxvt.
bool pastesPrimaryOnly(std::string_view windowClass);

}  // namespace TerminalEmulators
}  // namespace quib
