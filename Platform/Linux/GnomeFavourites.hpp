#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/DockedApps.hpp"

namespace quib {

// The apps pinned to GNOME Shell's dash: `gsettings get org.gnome.shell favorite-apps`, which
// prints an array of strings ("['firefox-esr.desktop', 'org.gnome.Terminal.desktop']", or
// "@as []" when there are none). IDs are kept lower-cased and without ".desktop". Without
// gsettings or GNOME Shell's settings, or with output that is no such array, none are pinned.
class GnomeFavourites final : public DockedApps {
public:
    // How long gsettings may take.
    static constexpr std::chrono::seconds timeout{5};

    // Runs `gsettings`; none: the one found on $PATH at each call.
    explicit GnomeFavourites(std::optional<std::filesystem::path> gsettings = std::nullopt)
        : gsettings_(std::move(gsettings)) {}

    std::set<std::string> dockedIDs() const override;

    // The strings of an array as gsettings prints it: items in single or double quotes, where a
    // backslash takes the next character as it is. None when the text is no such array.
    static std::optional<std::vector<std::string>> parseStrings(std::string_view text);

private:
    std::optional<std::filesystem::path> gsettings_;
};

}  // namespace quib
