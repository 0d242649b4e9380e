#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// The rounded-corner radius of a mirrored window as a fraction of its picture's width, which
// every video frame carries so that the phone rounds the picture like the window. The radius in
// points is the setting "quib.windowCornerRadius", read at every call, when 0 < r < 40; else
// the one the desktop gives its windows, which may be none (square corners, as on X11).
class WindowCorner {
public:
    static constexpr auto radiusKey = setting<"quib.windowCornerRadius">;
    // The corners of a desktop that rounds its windows the usual way.
    static constexpr double defaultRadius = 16.8;

    explicit WindowCorner(std::shared_ptr<Settings> settings) : settings_(std::move(settings)) {}

    // For a window of `width` × `height` points whose picture shows `shownWidth` points of its
    // width, on a desktop whose windows have corners of `desktopRadius`: the radius over the
    // shown width. None when there is no radius, or the window is so small (a side not above
    // four radii) that it is not rounded.
    std::optional<double> radiusFraction(double width, double height, double shownWidth,
                                         std::optional<double> desktopRadius) const;

private:
    std::optional<double> radius(std::optional<double> desktopRadius) const;

    std::shared_ptr<Settings> settings_;
};

}  // namespace quib
