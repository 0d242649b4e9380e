#include "QuibHost/Streaming/PaneMirrorMarks.hpp"

#include <algorithm>
#include <charconv>

namespace quib {
namespace {

// A run of decimal digits from the front of `rest` and the blank after it, which it then leaves
// behind.
std::optional<std::int64_t> seconds(std::string_view& rest) {
    const auto blank = rest.find(' ');
    const std::string_view digits = rest.substr(0, blank);
    if (blank == std::string_view::npos || digits.empty() ||
        !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    rest.remove_prefix(blank + 1);
    return value;
}

}  // namespace

std::vector<std::string> PaneMirrorMarks::arguments(const std::string& pane) {
    return {"display-message", "-p", "-t", pane, "-F", std::string(format)};
}

std::optional<PaneMirrorMarks> PaneMirrorMarks::parse(std::string_view line) {
    const auto activity = seconds(line);
    const auto clock = activity ? seconds(line) : std::nullopt;
    if (!clock || line.find('\n') != std::string_view::npos) return std::nullopt;
    return PaneMirrorMarks{*activity, *clock, std::string(line)};
}

// Output after the capture came at a moment later than the capture's clock was read; its second
// is that second or a later one.
bool PaneMirrorMarks::unchangedSince(const PaneMirrorMarks& captured, const PaneMirrorMarks& now) {
    return now.fields == captured.fields && now.activity == captured.activity && now.activity < captured.clock &&
           now.clock >= captured.clock;
}

}  // namespace quib
