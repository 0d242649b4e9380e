#include <gtest/gtest.h>

#include "QuibHost/Panel/MenuFrame.hpp"
#include "QuibHost/Panel/MenuHeader.hpp"

#include <set>

namespace quib {
namespace {

// A state that shows every slot: both permissions missing and a request waiting.
MenuViewState everySlotShown() {
    MenuViewState state;
    state.pendingApprovals.push_back(ApprovalRequest{});
    return state;
}

// Each slot holds one text naming it, unless it is one of `empty`.
MenuSectionBuilder naming(std::vector<MenuSection> empty = {}) {
    return [empty](MenuSection section, const MenuViewState&) -> std::vector<MenuItem> {
        if (std::find(empty.begin(), empty.end(), section) != empty.end()) return {};
        return {{.kind = MenuItemKind::text, .text = std::string(nameOf(section))}};
    };
}

// The sections shown, each followed by "|" when a divider follows it.
std::vector<std::string> layout(const MenuViewModel& model) {
    std::vector<std::string> shown;
    for (const auto& section : model.sections) {
        shown.emplace_back(nameOf(section.id));
        if (section.dividerAfter) shown.emplace_back("|");
    }
    return shown;
}

TEST(MenuFrame, ShowsTheNineSlotsInOrderEachUnderItsConditionWithItsDivider) {
    auto state = everySlotShown();
    EXPECT_EQ(layout(buildMenuView(state, naming())),
              (std::vector<std::string>{"header", "accessibilityBanner", "screenRecordingBanner", "approvals", "|",
                                        "pairing", "|", "away", "|", "devices", "|", "target", "|", "controls"}));

    // Granted permissions and no waiting request: the pairing section follows the header and
    // carries the first divider.
    state.accessibilityGranted = true;
    state.screenRecordingGranted = true;
    state.pendingApprovals.clear();
    EXPECT_EQ(
        layout(buildMenuView(state, naming())),
        (std::vector<std::string>{"header", "pairing", "|", "away", "|", "devices", "|", "target", "|", "controls"}));
    state.screenRecordingGranted = false;
    EXPECT_EQ(layout(buildMenuView(state, naming()))[1], "screenRecordingBanner");
}

TEST(MenuFrame, AnEmptySlotShowsNothingAndNoDivider) {
    const auto model =
        buildMenuView(everySlotShown(), naming({MenuSection::approvals, MenuSection::pairing, MenuSection::controls}));
    EXPECT_EQ(layout(model), (std::vector<std::string>{"header", "accessibilityBanner", "screenRecordingBanner", "away",
                                                       "|", "devices", "|", "target", "|"}));
    EXPECT_EQ(model.section(MenuSection::pairing), nullptr);
}

TEST(MenuHeader, NamesTheHostWhileListeningAndSaysWhenItIsNot) {
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = "Studio <Mac> & Co";
    auto model = buildMenuView(state);
    ASSERT_NE(model.section(MenuSection::header), nullptr);
    const auto& listening = model.section(MenuSection::header)->items;
    ASSERT_EQ(listening.size(), 4u);
    EXPECT_EQ(listening[0].kind, MenuItemKind::symbol);
    EXPECT_EQ(listening[0].symbol, "cursorarrow.click");
    EXPECT_EQ(listening[0].font, TextStyle::title3);
    EXPECT_EQ(listening[1].text, "Quib");
    EXPECT_EQ(listening[1].font, TextStyle::headline);
    EXPECT_EQ(listening[2].text, "Listening as Studio <Mac> & Co");
    EXPECT_EQ(listening[2].font, TextStyle::caption);
    EXPECT_EQ(listening[2].tone, Tone::secondary);
    EXPECT_EQ(listening[3].kind, MenuItemKind::dot);
    EXPECT_EQ(listening[3].tone, Tone::green);
    EXPECT_FALSE(model.section(MenuSection::header)->dividerAfter);
    EXPECT_EQ(model.title, "Quib");

    state.isListening = false;
    model = buildMenuView(state);
    const auto& silent = model.section(MenuSection::header)->items;
    EXPECT_EQ(silent[2].text, "Not listening");
    EXPECT_EQ(silent[3].tone, Tone::red);
}

TEST(MenuHeader, TheMenuBarItemWearsAClockWhilePhonesAreConnected) {
    MenuViewState state;
    EXPECT_EQ(buildMenuView(state).menuBarSymbol, "cursorarrow.click");
    state.connectedDevices.push_back({"W-1", "Ada's phone", false, false});
    EXPECT_EQ(buildMenuView(state).menuBarSymbol, "cursorarrow.click.badge.clock");
}

TEST(MenuBanners, EachMissingPermissionShowsItsBannerTheInputOneFirst) {
    MenuViewState state;
    auto model = buildMenuView(state);
    ASSERT_GE(model.sections.size(), 3u);
    EXPECT_EQ(model.sections[1].id, MenuSection::accessibilityBanner);
    EXPECT_EQ(model.sections[2].id, MenuSection::screenRecordingBanner);
    const auto& input = model.sections[1].items;
    ASSERT_EQ(input.size(), 3u);
    EXPECT_EQ(input[0].kind, MenuItemKind::label);
    EXPECT_EQ(input[0].text, "A desktop display is needed");
    EXPECT_EQ(input[0].symbol, "exclamationmark.triangle.fill");
    EXPECT_EQ(input[0].font, TextStyle::captionBold);
    EXPECT_EQ(input[0].tone, Tone::orange);
    EXPECT_EQ(input[1].text, "Without it, clicks and typing are silently ignored.");
    EXPECT_EQ(input[1].font, TextStyle::caption2);
    EXPECT_EQ(input[1].tone, Tone::secondary);
    EXPECT_EQ(input[2].text, "Log what is missing");
    EXPECT_EQ(input[2].action, MenuAction(MenuControl::OpenAccessibilitySettings{}));
    EXPECT_TRUE(input[2].small);
    for (const auto& item : input) EXPECT_EQ(item.fill, Fill::banner);
    const auto& screen = model.sections[2].items;
    EXPECT_EQ(screen[0].text, "An X display with Composite, DAMAGE and XFIXES is needed");
    EXPECT_EQ(screen[0].symbol, "rectangle.on.rectangle");
    EXPECT_EQ(screen[1].text, "Only for mirroring a window to your phone. Quib must be restarted on one.");
    EXPECT_EQ(screen[2].action, MenuAction(MenuControl::OpenScreenRecordingSettings{}));

    // Granted, and nothing waiting: the pairing section follows the header.
    state.accessibilityGranted = state.screenRecordingGranted = true;
    model = buildMenuView(state);
    EXPECT_EQ(model.sections[1].id, MenuSection::pairing);
    EXPECT_TRUE(model.sections[1].dividerAfter);
}

TEST(MenuPairing, ShowsTheCodeAsStoredBesideTheButtonThatRotatesIt) {
    MenuViewState state;
    state.pairingCode = "k7 <P>";
    const auto model = buildMenuView(state);
    const auto& items = model.section(MenuSection::pairing)->items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].text, "PAIRING CODE");
    EXPECT_EQ(items[1].kind, MenuItemKind::code);
    EXPECT_EQ(items[1].text, "k7 <P>");
    EXPECT_EQ(items[1].font, TextStyle::title2Monospaced);
    EXPECT_EQ(items[2].kind, MenuItemKind::button);
    EXPECT_EQ(items[2].text, "");
    EXPECT_EQ(items[2].symbol, "arrow.triangle.2.circlepath");
    EXPECT_EQ(items[2].help, "Rotate the code and disconnect every paired phone");
    EXPECT_EQ(items[2].action, MenuAction(MenuControl::RotatePairingCode{}));
    EXPECT_EQ(items[2].place, Placement::end);
    EXPECT_TRUE(items[2].borderless);
}

// Every fixed text of the header, the banners, the approvals, the pairing code and the devices,
// hover help and symbols included, as the panel shows it in some state.
TEST(MenuViewTexts, EveryFixedTextShowsAsWritten) {
    const std::vector<std::string> table{
        "cursorarrow.click",
        "Quib",
        "Listening as ",
        "Not listening",
        "A desktop display is needed",
        "exclamationmark.triangle.fill",
        "Without it, clicks and typing are silently ignored.",
        "Log what is missing",
        "An X display with Composite, DAMAGE and XFIXES is needed",
        "rectangle.on.rectangle",
        "Only for mirroring a window to your phone. Quib must be restarted on one.",
        "WAITING ON YOU",
        " — ",
        "Deny",
        "Approve",
        "denies in ",
        " s",
        "PAIRING CODE",
        "arrow.triangle.2.circlepath",
        "Rotate the code and disconnect every paired phone",
        "DEVICES",
        "No phone connected",
        "iphone",
        "Waiting for approval",
        "Hearing this computer",
        "headphones",
        "Revoke",
        "iphone.slash",
        "REVOKED DEVICES",
        "Approve again",
    };
    MenuViewState quiet;
    MenuViewState busy;
    busy.isListening = true;
    busy.pendingApprovals.push_back(ApprovalRequest{});
    busy.connectedDevices = {{"W-1", "", false, false}, {"A-1", "", true, true}};
    busy.approvedDevices = {{"A-2", "", {}}};
    busy.revokedDevices = {{"X-1", "", {}}};
    std::set<std::string> shown;
    for (const auto& state : {quiet, busy}) {
        for (const auto& section : buildMenuView(state).sections) {
            for (const auto& item : section.items) {
                for (const auto* text : {&item.text, &item.symbol, &item.help})
                    if (!text->empty()) shown.insert(*text);
            }
        }
    }
    for (const auto& text : table) {
        const bool found = std::any_of(shown.begin(), shown.end(),
                                       [&](const std::string& each) { return each.find(text) != std::string::npos; });
        EXPECT_TRUE(found) << text;
    }
}

}  // namespace
}  // namespace quib
