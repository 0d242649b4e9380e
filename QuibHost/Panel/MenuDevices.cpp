#include "QuibHost/Panel/MenuDevices.hpp"

#include <algorithm>
#include <set>

#include "Runtime/HostWords.hpp"

namespace quib {
namespace {

MenuItem phone(std::string_view symbol, const std::string& id) {
    return {.kind = MenuItemKind::symbol,
            .text = std::string(symbol),
            .symbol = std::string(symbol),
            .font = TextStyle::caption,
            .key = id};
}

MenuItem button(std::string text, MenuAction action, const std::string& id) {
    return {.kind = MenuItemKind::button,
            .text = std::move(text),
            .action = std::move(action),
            .key = id,
            .place = Placement::end,
            .borderless = true,
            .small = true};
}

void appendConnected(std::vector<MenuItem>& items, const HostServer::ConnectedDevice& device) {
    const bool waiting = !device.approved;
    const bool hearing = device.approved && device.isHearing;
    items.push_back(phone("iphone", device.id));
    items.push_back({.kind = MenuItemKind::text,
                     .text = device.name,
                     .font = TextStyle::caption,
                     .key = device.id,
                     .place = Placement::beside});
    if (waiting) {
        items.push_back({.kind = MenuItemKind::text,
                         .text = "Waiting for approval",
                         .font = TextStyle::caption2,
                         .tone = Tone::orange,
                         .key = device.id,
                         .place = Placement::under});
    } else if (hearing) {
        items.push_back({.kind = MenuItemKind::label,
                         .text = std::string(said<"Hearing ", HostWords::thisComputer>),
                         .symbol = "headphones",
                         .font = TextStyle::caption2,
                         .tone = Tone::secondary,
                         .key = device.id,
                         .place = Placement::under});
    }
    if (waiting) items.push_back(button("Approve", MenuControl::ApproveDevice{device.id, device.name}, device.id));
    else items.push_back(button("Revoke", MenuControl::RevokeDevice{device.id}, device.id));
}

void appendStored(std::vector<MenuItem>& items, const DeviceRegistry::Device& device, bool revoked) {
    items.push_back(phone("iphone.slash", device.id));
    items.push_back({.kind = MenuItemKind::text,
                     .text = device.name,
                     .font = TextStyle::caption,
                     .tone = revoked ? Tone::primary : Tone::secondary,
                     .key = device.id,
                     .place = Placement::beside});
    if (revoked)
        items.push_back(button("Approve again", MenuControl::ApproveDevice{device.id, device.name}, device.id));
    else items.push_back(button("Revoke", MenuControl::RevokeDevice{device.id}, device.id));
}

}  // namespace

std::vector<HostServer::ConnectedDevice> MenuDevices::connected(const MenuViewState& state) {
    std::vector<HostServer::ConnectedDevice> distinct;
    std::set<std::string> seen;
    for (const auto& device : state.connectedDevices)
        if (seen.insert(device.id).second) distinct.push_back(device);
    return distinct;
}

DeviceRegistry::DeviceList MenuDevices::offlineApproved(const MenuViewState& state) {
    DeviceRegistry::DeviceList offline;
    for (const auto& device : state.approvedDevices) {
        const bool online = std::any_of(state.connectedDevices.begin(), state.connectedDevices.end(),
                                        [&](const auto& entry) { return entry.id == device.id; });
        if (!online) offline.push_back(device);
    }
    return offline;
}

std::vector<MenuItem> MenuDevices::items(const MenuViewState& state) {
    std::vector<MenuItem> items{sectionTitle("DEVICES")};
    const auto connected = MenuDevices::connected(state);
    const auto offline = offlineApproved(state);
    if (connected.empty() && offline.empty())
        items.push_back({.kind = MenuItemKind::text,
                         .text = "No phone connected",
                         .font = TextStyle::caption,
                         .tone = Tone::secondary});
    for (const auto& device : connected) appendConnected(items, device);
    for (const auto& device : offline) appendStored(items, device, false);
    if (!state.revokedDevices.empty()) {
        items.push_back(sectionTitle("REVOKED DEVICES"));
        for (const auto& device : state.revokedDevices) appendStored(items, device, true);
    }
    if (state.lastError)
        items.push_back(
            {.kind = MenuItemKind::text, .text = *state.lastError, .font = TextStyle::caption2, .tone = Tone::red});
    return items;
}

}  // namespace quib
