#include <gtest/gtest.h>

#include "QuibHost/Panel/MenuDevices.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;

DeviceRegistry::Device stored(std::string id, std::string name) { return {std::move(id), std::move(name), {}}; }

// The section in short: titles and texts as they read, a symbol as "<name>", a button as
// "[text]", the state line of a connected phone after "/", and anything not primary or caption
// marked with its tone.
std::vector<std::string> rows(const MenuViewState& state) {
    std::vector<std::string> shown;
    for (const auto& item : MenuDevices::items(state)) {
        std::string row = item.kind == MenuItemKind::symbol   ? "<" + item.symbol + ">"
                          : item.kind == MenuItemKind::button ? "[" + item.text + "]"
                          : item.place == Placement::under    ? "/" + item.text
                                                              : item.text;
        if (item.tone != Tone::primary) row += " (" + std::string(nameOf(item.tone)) + ")";
        shown.push_back(row);
    }
    return shown;
}

TEST(MenuDevices, ListsConnectedThenOfflineApprovedThenRevokedPhones) {
    MenuViewState state;
    EXPECT_EQ(rows(state), (std::vector<std::string>{"DEVICES (secondary)", "No phone connected (secondary)"}));

    state.revokedDevices = {stored("X-1", "Old phone")};
    EXPECT_EQ(rows(state), (std::vector<std::string>{"DEVICES (secondary)", "No phone connected (secondary)",
                                                     "REVOKED DEVICES (secondary)", "<iphone.slash>", "Old phone",
                                                     "[Approve again]"}));

    // An approved phone, not connected: no "No phone connected".
    state.revokedDevices.clear();
    state.approvedDevices = {stored("A-1", "Grace's phone")};
    EXPECT_EQ(rows(state), (std::vector<std::string>{"DEVICES (secondary)", "<iphone.slash>",
                                                     "Grace's phone (secondary)", "[Revoke]"}));

    // A waiting phone, then two of one name, one listening; then the approved ones offline; a
    // phone both connected and revoked shows under both titles; the last error comes last.
    state.approvedDevices = {stored("A-1", "Grace's phone"), stored("A-2", "Tab"), stored("A-3", "Pad")};
    state.revokedDevices = {stored("W-1", "Ada's phone")};
    state.connectedDevices = {
        {"W-1", "Ada's phone", false, false}, {"A-2", "Tab", true, true}, {"A-4", "Tab", true, false}};
    state.lastError = "Port 61413 is in use";
    EXPECT_EQ(rows(state), (std::vector<std::string>{"DEVICES (secondary)",
                                                     "<iphone>",
                                                     "Ada's phone",
                                                     "/Waiting for approval (orange)",
                                                     "[Approve]",
                                                     "<iphone>",
                                                     "Tab",
                                                     "/Hearing this computer (secondary)",
                                                     "[Revoke]",
                                                     "<iphone>",
                                                     "Tab",
                                                     "[Revoke]",
                                                     "<iphone.slash>",
                                                     "Grace's phone (secondary)",
                                                     "[Revoke]",
                                                     "<iphone.slash>",
                                                     "Pad (secondary)",
                                                     "[Revoke]",
                                                     "REVOKED DEVICES (secondary)",
                                                     "<iphone.slash>",
                                                     "Ada's phone",
                                                     "[Approve again]",
                                                     "Port 61413 is in use (red)"}));
    const auto items = MenuDevices::items(state);
    EXPECT_EQ(items[4].action, MenuAction(MenuControl::ApproveDevice{"W-1", "Ada's phone"}));
    EXPECT_EQ(items[8].action, MenuAction(MenuControl::RevokeDevice{"A-2"}));
    EXPECT_EQ(items[8].key, "A-2");
    EXPECT_EQ(items[21].action, MenuAction(MenuControl::ApproveDevice{"W-1", "Ada's phone"}));
    for (const auto& item : items) {
        if (item.kind == MenuItemKind::button) {
            EXPECT_TRUE(item.borderless && item.small) << item.text;
        }
    }
    EXPECT_EQ(items.back().font, TextStyle::caption2);

    // Once the server clears its error, it goes.
    state.lastError.reset();
    EXPECT_EQ(rows(state).back(), "[Approve again]");
}

// The server may list one phone twice (two control connections): its rows are keyed by
// identifier, so it shows once, as its first entry says.
TEST(MenuDevices, APhoneListedTwiceShowsOnce) {
    MenuViewState state;
    state.connectedDevices = {{"A-1", "Pad", true, false}, {"B-1", "Tab", false, false}, {"A-1", "Pad", true, true}};
    EXPECT_EQ(rows(state), (std::vector<std::string>{"DEVICES (secondary)", "<iphone>", "Pad", "[Revoke]", "<iphone>",
                                                     "Tab", "/Waiting for approval (orange)", "[Approve]"}));
}

// The rows follow the published lists: approving a revoked phone that is not connected puts it
// among the approved phones offline, and an approved phone that connects leaves them for the
// connected rows while the others keep the registry's order.
TEST(MenuDevices, PhonesMoveBetweenGroupsAsTheListsChange) {
    PanelHost host;
    host.onMain([&] {
        ASSERT_TRUE(host.registry->approve("A-1", "Grace's phone").ok());
        ASSERT_TRUE(host.registry->approve("A-2", "Tab").ok());
        ASSERT_TRUE(host.registry->approve("A-3", "Pad").ok());
        ASSERT_TRUE(host.registry->approve("X-1", "Old phone").ok());
        ASSERT_TRUE(host.registry->revoke("X-1").ok());
    });
    auto devices = [&] { return rows(host.source().snapshot()); };
    auto again = MenuDevices::items(host.source().snapshot()).back().action;
    ASSERT_TRUE(again);
    host.perform(*again);
    EXPECT_EQ(devices(), (std::vector<std::string>{"DEVICES (secondary)", "<iphone.slash>", "Grace's phone (secondary)",
                                                   "[Revoke]", "<iphone.slash>", "Tab (secondary)", "[Revoke]",
                                                   "<iphone.slash>", "Pad (secondary)", "[Revoke]", "<iphone.slash>",
                                                   "Old phone (secondary)", "[Revoke]"}));
    host.onMain([&] { host.server->connectedDevices().set({{"A-2", "Tab", true, false}}); });
    EXPECT_EQ(devices(),
              (std::vector<std::string>{"DEVICES (secondary)", "<iphone>", "Tab", "[Revoke]", "<iphone.slash>",
                                        "Grace's phone (secondary)", "[Revoke]", "<iphone.slash>", "Pad (secondary)",
                                        "[Revoke]", "<iphone.slash>", "Old phone (secondary)", "[Revoke]"}));
}

}  // namespace
}  // namespace quib
