#include <gtest/gtest.h>

#include <set>

#include "QuibHost/Panel/MenuAway.hpp"
#include "QuibHost/Panel/MenuControls.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;

std::vector<MenuItem> itemsOf(const MenuViewState& state, MenuSection section) {
    return buildMenuView(state).section(section)->items;
}

QuibTarget target(std::string id, std::string name) {
    QuibTarget made;
    made.id = std::move(id);
    made.name = std::move(name);
    return made;
}

TEST(MenuTarget, ThePickerListsTheSavedTargetsAndSelectsOnlyARowThatExists) {
    MenuViewState state;
    auto items = itemsOf(state, MenuSection::target);
    ASSERT_EQ(items.size(), 2u);  // an empty list: the title and an empty picker
    EXPECT_EQ(items[0].text, "ACTIVE TARGET");
    EXPECT_EQ(items[1].kind, MenuItemKind::picker);

    state.targets = {target("T1", "Editor"), target("T2", "build")};
    state.unresolvedTargetIDs = {"T2"};
    state.activeTargetID = "gone";
    items = itemsOf(state, MenuSection::target);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2].text, "Editor");
    EXPECT_EQ(items[3].text, "build (pane missing)");
    EXPECT_EQ(items[3].action, MenuAction(MenuControl::UseTarget{"T2"}));
    EXPECT_EQ(items[3].key, "T2");
    for (const auto& item : items) EXPECT_FALSE(item.selected);

    state.activeTargetID = "T2";
    state.lastActivity = "one\ntwo\nthree";
    items = itemsOf(state, MenuSection::target);
    EXPECT_TRUE(items[3].selected);
    EXPECT_FALSE(items[2].selected);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[4].text, "one\ntwo\nthree");
    EXPECT_EQ(items[4].lines, 2);
    EXPECT_EQ(items[4].tone, Tone::secondary);
}

// Choosing a row only makes it active; an active target that names no row is left alone.
TEST(MenuTarget, ChoosingARowOnlyMakesItActive) {
    PanelHost host;
    host.store->setSnapshot({.saved = {target("T1", "Editor")}, .provisional = {}});
    host.onMain([&] { host.store->setActive(std::string("gone")); });
    host.main->runPending();
    const auto before = host.store->activations().size();
    (void)host.source().current();
    EXPECT_EQ(host.store->activations().size(), before);
    host.calls.clear();
    host.perform(MenuControl::UseTarget{"T1"});
    EXPECT_EQ(host.store->activations().back(), std::optional<std::string>("T1"));
    EXPECT_TRUE(host.calls.empty());
}

TEST(MenuControls, SwitchesFollowTheHostStateAndOnlyTheInstalledHostOffersLaunchAtLogin) {
    MenuViewState state;
    state.injectionPaused = true;
    state.loginItemError = "cannot write";
    auto items = itemsOf(state, MenuSection::controls);
    std::vector<std::string> shown;
    for (const auto& item : items) shown.push_back(item.text);
    EXPECT_EQ(shown, (std::vector<std::string>{"Pause injection", "Let phones listen", MenuControls::installHint(),
                                               "Reveal delivery log…", "Reveal image inbox…", "Settings…", "Quit"}));
    EXPECT_EQ(items[0].on, true);
    EXPECT_EQ(items[0].action, MenuAction(MenuControl::SetInjectionPaused{false}));
    EXPECT_EQ(items[1].on, false);
    EXPECT_EQ(items[1].action, MenuAction(MenuControl::SetAudioAllowed{true}));
    EXPECT_EQ(items[2].kind, MenuItemKind::markdown);
    EXPECT_EQ(items[6].place, Placement::end);
    EXPECT_EQ(items[6].action, MenuAction(MenuControl::Quit{}));

    state.loginItemOffered = true;
    state.launchAtLogin = true;
    items = itemsOf(state, MenuSection::controls);
    EXPECT_EQ(items[2].text, "Launch at login");
    EXPECT_EQ(items[2].action, MenuAction(MenuControl::SetLaunchAtLogin{false}));
    EXPECT_EQ(items[3].text, "cannot write");
    EXPECT_EQ(items[3].tone, Tone::orange);
}

// Only a path in the prefix's own bin folder is the installed host.
TEST(LoginItem, OnlyTheInstalledExecutableIsOffered) {
    EXPECT_TRUE(LoginItem::isInstalledAt("/usr/local/bin/quib-host", "/usr/local"));
    EXPECT_TRUE(LoginItem::isInstalledAt("/opt/quib/bin/quib-host", "/opt/quib/"));
    EXPECT_FALSE(LoginItem::isInstalledAt("/usr/localx/bin/quib-host", "/usr/local"));
    EXPECT_FALSE(LoginItem::isInstalledAt("/home/dev/build/quib-host", "/usr/local"));
    EXPECT_FALSE(LoginItem::isInstalledAt("/usr/local/bin/../../home/quib-host", "/usr/local"));
    EXPECT_FALSE(LoginItem::isInstalledAt("usr/local/bin/quib-host", "/usr/local"));
}

// Pausing lets go of held buttons before phones hear of it; resuming only tells them.
TEST(MenuControls, PauseReleasesButtonsBeforeTheStatusGoesOut) {
    PanelHost host;
    host.perform(MenuControl::SetInjectionPaused{true});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"injector paused", "release buttons", "broadcast status"}));
    host.calls.clear();
    host.perform(MenuControl::SetInjectionPaused{false});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"injector on", "broadcast status"}));

    host.perform(MenuControl::SetAudioAllowed{false});
    EXPECT_FALSE(host.state->audioAllowed().value());
    EXPECT_EQ(host.settings->boolean(HostState::audioAllowedKey), false);
    EXPECT_EQ(host.command({{"command", "listen"}, {"enabled", true}})["ok"], true);
    EXPECT_TRUE(host.state->audioAllowed().value());

    host.perform(MenuControl::Quit{});
    EXPECT_EQ(host.quits, 1);
    EXPECT_EQ(host.command({{"command", "quit"}})["ok"], true);
    EXPECT_EQ(host.quits, 2);
    host.perform(MenuControl::OpenSettings{});  // none given: nothing happens
}

class FailingRevealer final : public FileRevealer {
public:
    Result<void> reveal(const std::filesystem::path&) override { return fail("no program opens folders"); }
};

// The reveal buttons have no answer to show: what the desktop could not do is logged.
TEST(MenuControls, ARevealThatShowsNothingIsLogged) {
    testing::ScratchFolder scratch("reveal-failure");
    auto clock = std::make_shared<FakeClock>();
    auto revealer = std::make_shared<FailingRevealer>();
    MenuActions actions({.log = std::make_shared<DeliveryLog>(
                             DeliveryLog::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer}),
                         .inbox = std::make_shared<AttachmentInbox>(
                             AttachmentInbox::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer})});
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    actions.perform(MenuControl::RevealDeliveryLog{});
    actions.perform(MenuControl::RevealImageInbox{});
    Logger::setSink(previous);
    EXPECT_EQ(sink->lines().size(), 2u);
    EXPECT_TRUE(sink->contains("reveal: no program opens folders"));
    EXPECT_EQ(testing::modeOf(scratch.path / "Quib" / "deliveries.log"), 0600u);  // made all the same
}

// The control tool's login-item is the switch: refused with the install hint where the panel
// shows the hint, and writing or removing the autostart entry where it shows the switch.
TEST(MenuControls, TheLoginItemCommandIsTheSwitch) {
    PanelHost elsewhere;
    for (const std::string change : {"on", "off"}) {
        const auto answer = elsewhere.command({{"command", "login-item"}, {"change", change}});
        EXPECT_EQ(answer["error"], MenuControls::installHint()) << change;
    }
    // Asking is answered, not refused: this host is not started at login.
    EXPECT_EQ(elsewhere.command({{"command", "login-item"}, {"change", "status"}}),
              (Json{{"launchAtLogin", false},
                    {"message", "Launch at login: off (only an installed host starts at login: make install-host)"},
                    {"ok", true}}));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.scratch.path / "autostart.desktop"));

    PanelHost installed(nullptr, LoginItem::installPrefix() / "bin" / "quib-host");
    EXPECT_TRUE(installed.source().current().section(MenuSection::controls)->items[2].kind == MenuItemKind::toggle);
    auto answer = installed.command({{"command", "login-item"}, {"change", "on"}});
    EXPECT_EQ(answer["launchAtLogin"], true);
    const auto entry = testing::fileContents(installed.scratch.path / "autostart.desktop");
    EXPECT_NE(entry.find("Exec=" + (LoginItem::installPrefix() / "bin" / "quib-host").string() + "\n"),
              std::string::npos);
    EXPECT_EQ(installed.command({{"command", "login-item"}, {"change", "status"}})["launchAtLogin"], true);
    answer = installed.command({{"command", "login-item"}, {"change", "off"}});
    EXPECT_EQ(answer["launchAtLogin"], false);
    EXPECT_FALSE(std::filesystem::exists(installed.scratch.path / "autostart.desktop"));
}

// Every fixed text of the away section, the target section and the controls, hover help and
// symbols included, as the panel shows it in some state.
TEST(MenuViewTexts, EveryFixedTextOfTheAwayTargetAndControlsShowsAsWritten) {
    const std::vector<std::string> table{
        "AWAY FROM HOME",
        "Reachable on cellular",
        "VPN · ",
        std::string(MenuAway::overlayHint),
        "Direct internet access is off. Local network and configured VPN routes remain available.",
        "Asking your router for a way in…",
        "Remote address available",
        "checkmark.circle.fill",
        "Each approved phone holds its own 256-bit key. Revoking one stops it, and the pairing code does not open "
        "this port.",
        "exclamationmark.triangle.fill",
        "Try again",
        "moon.zzz",
        "bell.badge",
        "Asleep: ",
        "ACTIVE TARGET",
        " (pane missing)",
        "Pause injection",
        "Stay connected but stop moving the cursor and typing",
        "Let phones listen",
        "Send this computer's audio to an approved phone when it asks for it",
        "Launch at login",
        "Run `make install-host` to install to " + LoginItem::installPrefix().string() + " and enable launch at login.",
        "Reveal delivery log…",
        "Every delivery, with a timestamp and a character count — never the text",
        "Reveal image inbox…",
        "Images sent from the phone. They are kept because the agent is sent their paths — a week, or 512 MB, "
        "whichever comes first",
        "Settings…",
        "Quit",
    };
    std::vector<MenuViewState> states(4);
    states[0].candidates = {{"100.64.0.1", 61413, QuibCandidate::Reach::local, ""}};
    states[1].reachStatus = {RemoteReachService::Status::Kind::working, ""};
    states[1].loginItemOffered = true;
    states[1].push = "2 phones";
    states[2].reachStatus = {RemoteReachService::Status::Kind::reachable, ""};
    states[2].targets = {target("T1", "x")};
    states[2].unresolvedTargetIDs = {"T1"};
    states[3].reachStatus = {RemoteReachService::Status::Kind::blocked, "no"};
    std::set<std::string> shown;
    for (const auto& state : states)
        for (const auto& section : buildMenuView(state).sections)
            for (const auto& item : section.items)
                for (const auto* text : {&item.text, &item.symbol, &item.help})
                    if (!text->empty()) shown.insert(*text);
    for (const auto& text : table) {
        const bool found = std::any_of(shown.begin(), shown.end(),
                                       [&](const std::string& each) { return each.find(text) != std::string::npos; });
        EXPECT_TRUE(found) << text;
    }
}

}  // namespace
}  // namespace quib
