#include "Shared/MacWindow.hpp"

#include <algorithm>
#include <functional>
#include <string_view>

#include "Runtime/UnicodeText.hpp"

namespace quib {

std::string MacWindow::displayTitle() const {
    const auto points = unicode::codePoints(title);
    const bool blank = std::all_of(points.begin(), points.end(), [](char32_t c) { return unicode::isWhiteSpace(c); });
    return blank ? appName : title;
}

MacWindow MacWindow::fromJson(const Json& json) {
    const JsonReader r(json);
    MacWindow w;
    w.id = r.value<std::uint32_t>("id", 0);
    w.title = r.value<std::string>("title", "");
    w.appName = r.value<std::string>("appName", "");
    w.isMinimized = r.value("isMinimized", false);
    w.isOnScreen = r.value("isOnScreen", true);
    w.isFrontmost = r.value("isFrontmost", false);
    w.isPinned = r.value("isPinned", false);
    w.width = r.value<std::int64_t>("width", 0);
    w.height = r.value<std::int64_t>("height", 0);
    w.preview = r.optional<Bytes>("preview");
    w.canRaise = r.value("canRaise", true);
    return w;
}

Json MacWindow::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("title", title)
        .put("appName", appName)
        .put("isMinimized", isMinimized)
        .put("isOnScreen", isOnScreen)
        .put("isFrontmost", isFrontmost)
        .put("isPinned", isPinned)
        .put("width", width)
        .put("height", height)
        .put("preview", preview)
        .put("canRaise", canRaise)
        .take();
}

}  // namespace quib

std::size_t std::hash<quib::MacWindow>::operator()(const quib::MacWindow& w) const noexcept {
    std::size_t seed = 0;
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::uint32_t>{}(w.id));
    mix(std::hash<std::string>{}(w.title));
    mix(std::hash<std::string>{}(w.appName));
    mix(w.isMinimized);
    mix(w.isOnScreen);
    mix(w.isFrontmost);
    mix(w.isPinned);
    mix(std::hash<std::int64_t>{}(w.width));
    mix(std::hash<std::int64_t>{}(w.height));
    mix(w.preview.has_value());
    if (w.preview) {
        const std::string_view bytes(reinterpret_cast<const char*>(w.preview->data()), w.preview->size());
        mix(std::hash<std::string_view>{}(bytes));
    }
    mix(w.canRaise);
    return seed;
}
