#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Shared/Json.hpp"

namespace quib {

// One window of an app as the phone's window list shows it. Decoded tolerantly (`isOnScreen`
// and `canRaise` default to true, everything else to false, zero or empty).
struct MacWindow {
    std::uint32_t id = 0;  // the window server's number
    std::string title;
    std::string appName;
    bool isMinimized = false;
    bool isOnScreen = true;
    bool isFrontmost = false;
    bool isPinned = false;
    std::int64_t width = 0;        // points
    std::int64_t height = 0;       // points
    std::optional<Bytes> preview;  // JPEG bytes
    bool canRaise = true;

    // The title, unchanged, unless it is empty or only whitespace; then the app's name.
    std::string displayTitle() const;

    static MacWindow fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const MacWindow&) const = default;
};

}  // namespace quib

template <>
struct std::hash<quib::MacWindow> {
    std::size_t operator()(const quib::MacWindow& window) const noexcept;
};
