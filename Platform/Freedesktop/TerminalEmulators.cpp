#include "Platform/Freedesktop/TerminalEmulators.hpp"

#include <algorithm>
#include <array>

#include "Runtime/AsciiText.hpp"

namespace quib::TerminalEmulators {
namespace {

constexpr std::array<std::string_view, 16> knownClasses{
    "XTerm",          "UXTerm",        "URxvt",       "Gnome-terminal",
    "Xfce4-terminal", "Mate-terminal", "Lxterminal",  "konsole",
    "Tilix",          "Terminator",    "kitty",       "Alacritty",
    "foot",           "st-256color",   "terminology", "org.wezfurlong.wezterm",
};

}  // namespace

bool isKnownClass(std::string_view windowClass) {
    return std::ranges::any_of(
        knownClasses, [windowClass](std::string_view known) { return ascii::equalIgnoringCase(known, windowClass); });
}

bool pastesPrimaryOnly(std::string_view windowClass) {
    constexpr std::array<std::string_view, 3> primaryOnly{"XTerm", "UXTerm", "URxvt"};
    return std::ranges::any_of(
        primaryOnly, [windowClass](std::string_view known) { return ascii::equalIgnoringCase(known, windowClass); });
}

bool ownsWindow(const DesktopEntries& apps, std::string_view windowClass, std::string_view instance) {
    if (isKnownClass(windowClass)) return true;
    const auto installed = apps.installed();
    const auto owner = DesktopEntries::owner(installed, windowClass, instance);
    return owner && owner->isTerminalEmulator();
}

}  // namespace quib::TerminalEmulators
