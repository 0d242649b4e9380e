#include <gtest/gtest.h>

#include "QuibHost/Panel/MenuAway.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;
using Kind = RemoteReachService::Status::Kind;

std::vector<MenuItem> away(const MenuViewState& state) {
    return buildMenuView(state).section(MenuSection::away)->items;
}

std::vector<std::string> texts(const std::vector<MenuItem>& items) {
    std::vector<std::string> shown;
    for (const auto& item : items) shown.push_back(item.kind == MenuItemKind::symbol ? item.symbol : item.text);
    return shown;
}

QuibCandidate candidate(std::string host) { return {std::move(host), 61413, QuibCandidate::Reach::local, "interface"}; }

// Only overlay addresses give a row, in the controller's order, and only they bring the hint;
// the rows and the hint show while away access is off.
TEST(MenuAway, OverlayCandidatesGiveRowsAndTheHintWhateverTheSwitch) {
    MenuViewState state;
    state.candidates = {candidate("100.63.0.1"),       candidate("100.64.0.1"),      candidate("100.128.0.1"),
                        candidate("192.168.1.4"),      candidate("100.127.255.254"), candidate("studio.local"),
                        candidate("fd7a:115c:a1e0::5")};
    const auto items = away(state);
    EXPECT_EQ(texts(items),
              (std::vector<std::string>{"AWAY FROM HOME", "Reachable on cellular", "VPN · 100.64.0.1:61413",
                                        "VPN · 100.127.255.254:61413", "VPN · [fd7a:115c:a1e0::5]:61413",
                                        std::string(MenuAway::overlayHint),
                                        "Direct internet access is off. Local network and configured VPN routes "
                                        "remain available.",
                                        "Asleep: "}));
    EXPECT_EQ(items[1].kind, MenuItemKind::toggle);
    EXPECT_EQ(items[1].on, false);
    EXPECT_EQ(items[1].action, MenuAction(MenuControl::SetAwayEnabled{true}));
    EXPECT_EQ(items[2].kind, MenuItemKind::code);
    EXPECT_EQ(items[2].font, TextStyle::caption2Monospaced);

    state.candidates = {candidate("100.63.0.1"), candidate("192.168.1.4"), candidate("host.example")};
    state.awayEnabled = true;
    const auto none = away(state);
    EXPECT_EQ(none.size(), 4u);  // title, switch, status, push line
    EXPECT_EQ(none[1].on, true);
    EXPECT_EQ(none[1].action, MenuAction(MenuControl::SetAwayEnabled{false}));
    for (const auto& item : none) EXPECT_EQ(item.text.find("Tailscale"), std::string::npos);
}

TEST(MenuAway, TheStatusBlockFollowsRemoteReach) {
    MenuViewState state;
    state.reachStatus = {Kind::working, ""};
    auto items = away(state);
    EXPECT_EQ(items[2].kind, MenuItemKind::progress);
    EXPECT_EQ(items[3].text, "Asking your router for a way in…");

    state.reachStatus = {Kind::reachable, ""};
    items = away(state);
    EXPECT_EQ(texts(items)[2], "Remote address available");
    EXPECT_EQ(items[2].symbol, "checkmark.circle.fill");
    EXPECT_EQ(items[2].tone, Tone::green);
    EXPECT_EQ(texts(items)[3],
              "Each approved phone holds its own 256-bit key. Revoking one stops it, and the pairing code does not "
              "open this port.");
    state.reachDetail = "PCP · 203.0.113.5:61423";
    items = away(state);
    EXPECT_EQ(items[3].text, "PCP · 203.0.113.5:61423");
    EXPECT_EQ(items[3].kind, MenuItemKind::code);
    EXPECT_EQ(items[3].font, TextStyle::monospaced10);

    state.reachStatus = {Kind::blocked, "The router would not open a port."};
    items = away(state);
    EXPECT_EQ(items[2].text, "The router would not open a port.");
    EXPECT_EQ(items[2].symbol, "exclamationmark.triangle.fill");
    EXPECT_EQ(items[2].tone, Tone::orange);
    EXPECT_EQ(items[3].text, "Try again");
    EXPECT_EQ(items[3].action, MenuAction(MenuControl::RetryAway{}));
}

TEST(MenuAway, ThePushLineSleepsOnlyWhileNothingIsSetUp) {
    for (const std::string summary : {"No phones registered", "relay answered 500", "2 phones", "1 phone"})
        EXPECT_EQ(MenuAway::pushLine(summary)[0].symbol, "bell.badge") << summary;
    for (const std::string summary : {"Not set up", ""})
        EXPECT_EQ(MenuAway::pushLine(summary)[0].symbol, "moon.zzz") << summary;
    EXPECT_EQ(MenuAway::pushLine("2 phones")[0].text, "Asleep: 2 phones");
}

// Turning the switch stores it before the away listener reads it; "Try again" asks once; each
// appearance of the panel asks for the push summary once.
TEST(MenuAway, TheControlsReachRemoteReachAndThePushSender) {
    PanelHost host;
    auto& source = host.source();
    EXPECT_FALSE(source.current().section(MenuSection::away)->items[1].on.value());
    host.perform(MenuControl::SetAwayEnabled{true});
    host.perform(MenuControl::SetAwayEnabled{false});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"reach on", "reach off"}));

    host.perform(MenuControl::RetryAway{});
    host.perform(MenuControl::RetryAway{});
    EXPECT_EQ(host.reach->refreshes, 2);

    int asked = 0;
    host.onMain([&] {
        source.appeared([&] { ++asked; });
        source.appeared([&] { ++asked; });
    });
    for (int i = 0; i < 200 && asked < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        host.main->runPending();
    }
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(source.current().section(MenuSection::away)->items.back().text, "Asleep: Not set up");
}

}  // namespace
}  // namespace quib
