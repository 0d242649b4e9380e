#include <gtest/gtest.h>

#include "QuibHost/App/ViewModels/MenuFrame.hpp"
#include "QuibHost/App/ViewModels/MenuHeader.hpp"

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
    EXPECT_EQ(layout(buildMenuView(state, naming())),
              (std::vector<std::string>{"header", "pairing", "|", "away", "|", "devices", "|", "target", "|",
                                        "controls"}));
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
    EXPECT_EQ(listening[1].text, "Fennic");
    EXPECT_EQ(listening[1].font, TextStyle::headline);
    EXPECT_EQ(listening[2].text, "Listening as Studio <Mac> & Co");
    EXPECT_EQ(listening[2].font, TextStyle::caption);
    EXPECT_EQ(listening[2].tone, Tone::secondary);
    EXPECT_EQ(listening[3].kind, MenuItemKind::dot);
    EXPECT_EQ(listening[3].tone, Tone::green);
    EXPECT_FALSE(model.section(MenuSection::header)->dividerAfter);
    EXPECT_EQ(model.title, "Fennic");

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

}  // namespace
}  // namespace quib
