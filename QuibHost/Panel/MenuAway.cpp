#include "QuibHost/Panel/MenuAway.hpp"

#include "Shared/OverlayAddress.hpp"

namespace quib {
namespace {

using Kind = RemoteReachService::Status::Kind;

MenuItem note(std::string text) {
    return {.kind = MenuItemKind::text, .text = std::move(text), .font = TextStyle::caption2, .tone = Tone::secondary};
}

void appendStatus(std::vector<MenuItem>& items, const MenuViewState& state) {
    switch (state.reachStatus.kind) {
        case Kind::off:
            items.push_back(
                note("Direct internet access is off. Local network and configured VPN routes remain available."));
            return;
        case Kind::working:
            items.push_back({.kind = MenuItemKind::progress, .small = true});
            items.push_back({.kind = MenuItemKind::text,
                             .text = "Asking your router for a way in…",
                             .font = TextStyle::caption2,
                             .tone = Tone::secondary,
                             .place = Placement::beside});
            return;
        case Kind::reachable:
            items.push_back({.kind = MenuItemKind::label,
                             .text = "Remote address available",
                             .symbol = "checkmark.circle.fill",
                             .font = TextStyle::caption2,
                             .tone = Tone::green});
            if (state.reachDetail)
                items.push_back({.kind = MenuItemKind::code,
                                 .text = *state.reachDetail,
                                 .font = TextStyle::monospaced10,
                                 .tone = Tone::secondary});
            items.push_back(
                note("Each approved phone holds its own 256-bit key. Revoking one stops it, and the pairing "
                     "code does not open this port."));
            return;
        case Kind::blocked:
            items.push_back({.kind = MenuItemKind::label,
                             .text = state.reachStatus.reason,
                             .symbol = "exclamationmark.triangle.fill",
                             .font = TextStyle::caption2,
                             .tone = Tone::orange});
            items.push_back(
                {.kind = MenuItemKind::button, .text = "Try again", .action = MenuControl::RetryAway{}, .small = true});
            return;
    }
}

}  // namespace

std::vector<MenuItem> MenuAway::pushLine(const std::string& summary) {
    const bool asleep = summary.empty() || summary == "Not set up";
    return {{.kind = MenuItemKind::label,
             .text = "Asleep: " + summary,
             .symbol = asleep ? "moon.zzz" : "bell.badge",
             .font = TextStyle::caption2,
             .tone = Tone::secondary}};
}

std::vector<MenuItem> MenuAway::items(const MenuViewState& state) {
    std::vector<MenuItem> items{sectionTitle("AWAY FROM HOME")};
    items.push_back({.kind = MenuItemKind::toggle,
                     .text = "Reachable on cellular",
                     .font = TextStyle::caption,
                     .action = MenuControl::SetAwayEnabled{!state.awayEnabled},
                     .on = state.awayEnabled,
                     .small = true});
    bool overlay = false;
    for (const auto& candidate : state.candidates) {
        if (!OverlayAddress::contains(candidate.host)) continue;
        overlay = true;
        items.push_back({.kind = MenuItemKind::code,
                         .text = "VPN · " + candidate.display(),
                         .font = TextStyle::caption2Monospaced,
                         .key = candidate.id()});
    }
    if (overlay) items.push_back(note(std::string(overlayHint)));
    appendStatus(items, state);
    for (auto& item : pushLine(state.push)) items.push_back(std::move(item));
    return items;
}

}  // namespace quib
