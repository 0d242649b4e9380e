#include "Platform/Linux/GnomeUsage.hpp"

#include <pugixml.hpp>

#include <charconv>
#include <cmath>
#include <limits>

#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace {

// The file is a few kilobytes; anything far larger is not GNOME's, and is not read.
constexpr std::uintmax_t largestFile = 8 << 20;

// Beyond this many seconds since 1970 a date no longer fits the wall clock's range.
constexpr double latestSeconds = 9e9;

std::optional<double> numberIn(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::int64_t countOf(std::string_view score) {
    const auto value = numberIn(score);
    if (!value || *value <= 0) return 0;
    if (*value >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(std::floor(*value));
}

std::optional<WallTime> dateOf(std::string_view lastSeen) {
    const auto seconds = numberIn(lastSeen);
    if (!seconds || *seconds <= 0 || *seconds >= latestSeconds) return std::nullopt;
    return WallTime(std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(*seconds)));
}

}  // namespace

std::filesystem::path GnomeUsage::defaultPath() { return xdgDataHome() / "gnome-shell" / "application_state"; }

AppUsage::Table GnomeUsage::uses() const {
    const auto text = readRegularFile(file_, largestFile);
    if (!text) return {};
    return parse(*text);
}

AppUsage::Table GnomeUsage::parse(std::string_view xml) {
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) return {};
    const pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) != "application-state") return {};
    Table table;
    for (const pugi::xml_node context : root.children("context")) {
        for (const pugi::xml_node app : context.children("application")) {
            const std::string key = DesktopEntry::key(app.attribute("id").value());
            if (key.empty()) continue;
            Use& use = table[key];
            use.count = std::max(use.count, countOf(app.attribute("score").value()));
            const auto date = dateOf(app.attribute("last-seen").value());
            if (date && (!use.lastUsed || *date > *use.lastUsed)) use.lastUsed = date;
        }
    }
    return table;
}

}  // namespace quib
