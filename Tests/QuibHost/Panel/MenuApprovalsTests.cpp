#include <gtest/gtest.h>

#include "QuibHost/Panel/MenuApprovals.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "QuibHost/Panel/TextElision.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;

ApprovalRequest request(std::string id, std::int64_t expiresAt = 0) {
    ApprovalRequest made;
    made.id = id;
    made.targetName = "Claude in api";
    made.title = "Run " + id;
    made.detail = "make " + id;
    made.expiresAtEpochMillis = expiresAt;
    return made;
}

void pend(PanelHost& host, std::vector<ApprovalRequest> requests) {
    host.onMain([&] { host.approvals->setPending(std::move(requests)); });
}

// The key of each card, once per card, in order.
std::vector<std::string> cards(const MenuViewModel& model) {
    std::vector<std::string> keys;
    const auto* section = model.section(MenuSection::approvals);
    if (!section) return keys;
    for (const auto& item : section->items)
        if (!item.key.empty() && (keys.empty() || keys.back() != item.key)) keys.push_back(item.key);
    return keys;
}

// The countdown of the only card.
std::string countdownOf(const MenuViewModel& model) { return model.section(MenuSection::approvals)->items.back().text; }

TEST(MenuApprovals, OneCardARequestInTheBrokersOrderUntilTheLastGoes) {
    PanelHost host;
    pend(host, {request("R-1"), request("R-2"), request("R-3")});
    auto model = host.source().current();
    EXPECT_EQ(cards(model), (std::vector<std::string>{"R-1", "R-2", "R-3"}));
    const auto& section = *model.section(MenuSection::approvals);
    EXPECT_TRUE(section.dividerAfter);
    EXPECT_EQ(section.items[0].text, "WAITING ON YOU");
    EXPECT_EQ(section.items[0].font, TextStyle::caption2Bold);

    // A card: the heading, the detail, Deny, Approve (the first card's is the default) and the
    // countdown, all on the yellow box.
    const std::vector<MenuItem> card(section.items.begin() + 1, section.items.begin() + 6);
    EXPECT_EQ(card[0].text, "Claude in api — Run R-1");
    EXPECT_EQ(card[0].font, TextStyle::captionBold);
    EXPECT_EQ(card[0].lines, 2);
    EXPECT_EQ(card[1].kind, MenuItemKind::code);
    EXPECT_EQ(card[1].text, "make R-1");
    EXPECT_EQ(card[1].font, TextStyle::monospaced11);
    EXPECT_EQ(card[1].lines, 4);
    EXPECT_EQ(card[2].text, "Deny");
    EXPECT_EQ(card[2].action, MenuAction(MenuControl::AnswerRequest{"R-1", ApprovalDecision::deny}));
    EXPECT_EQ(card[3].text, "Approve");
    EXPECT_EQ(card[3].action, MenuAction(MenuControl::AnswerRequest{"R-1", ApprovalDecision::approve}));
    EXPECT_TRUE(card[3].isDefault);
    EXPECT_EQ(card[4].place, Placement::end);
    for (const auto& item : card) EXPECT_EQ(item.fill, Fill::card);
    int defaults = 0;
    for (const auto& item : section.items) defaults += item.isDefault ? 1 : 0;
    EXPECT_EQ(defaults, 1);

    // Answering the middle one takes only its card away; the last one going takes the section
    // and its divider, and the pairing section carries the first divider.
    pend(host, {request("R-1"), request("R-3")});
    EXPECT_EQ(cards(host.source().current()), (std::vector<std::string>{"R-1", "R-3"}));
    pend(host, {});
    model = host.source().current();
    EXPECT_EQ(model.section(MenuSection::approvals), nullptr);
    EXPECT_TRUE(model.section(MenuSection::pairing)->dividerAfter);
}

// The seconds left are the remaining milliseconds, from the clock rounded half away from zero
// to the millisecond, truncated to whole seconds and never below nought.
TEST(MenuApprovals, TheCountdownTruncatesTheMillisecondsLeft) {
    PanelHost host;
    ApprovalClock::use(host.clock);
    const WallTime start = host.clock->wallNow();
    const std::int64_t now = ApprovalClock::millis(start);
    struct Case {
        std::int64_t left;
        std::chrono::nanoseconds extra;
        const char* shown;
    };
    const std::vector<Case> cases{
        {1999, {}, "denies in 1 s"},
        {1500, {}, "denies in 1 s"},
        {999, {}, "denies in 0 s"},
        {400, {}, "denies in 0 s"},
        {-5000, {}, "denies in 0 s"},
        {1000, std::chrono::microseconds(500), "denies in 0 s"},  // the clock reads 1 ms later
        {1001, std::chrono::microseconds(499), "denies in 1 s"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.left);
        host.clock->setWallTime(start + each.extra);
        auto waiting = request("R-1", now + each.left);
        pend(host, {waiting});
        EXPECT_EQ(countdownOf(host.source().current()), each.shown);
        // What the expiry does is what the line says.
        waiting.onExpiry = ApprovalDecision::approve;
        pend(host, {waiting});
        EXPECT_EQ(countdownOf(host.source().current()), "approves" + std::string(each.shown).substr(6));
    }
    ApprovalClock::use(nullptr);
}

// Every character is one unit wide.
double oneEach(std::string_view) { return 1; }

TEST(TextElision, CutsALongTextInTheMiddleToFitItsLines) {
    std::string tenLines;
    for (char line = 'a'; line < 'a' + 10; ++line) tenLines += std::string(20, line) + (line < 'j' ? "\n" : "");
    const std::string cut = elideMiddle(tenLines, 4, 20, oneEach);
    EXPECT_EQ(cut.front(), 'a');
    EXPECT_EQ(cut.back(), 'j');
    EXPECT_NE(cut.find("…"), std::string::npos);
    EXPECT_LE(wrapLines(cut, 20, oneEach).size(), 4u);
    // As much as fits: one more character would not.
    EXPECT_GE(wrapLines(cut, 20, oneEach).size(), 3u);

    // A text that fits stays whole; one long line wraps before the character that overflows;
    // a character is never split.
    EXPECT_EQ(elideMiddle("short", 4, 20, oneEach), "short");
    EXPECT_EQ(wrapLines("abcdefg", 3, oneEach), (std::vector<std::string>{"abc", "def", "g"}));
    EXPECT_EQ(wrapLines("", 3, oneEach), (std::vector<std::string>{""}));
    const std::string wide = elideMiddle(std::string(30, 'x') + "éééééééééé", 1, 9, oneEach);
    EXPECT_EQ(wide, "xxxx…éééé");
    EXPECT_EQ(elideMiddle("anything", 0, 9, oneEach), "");
}

// Words stay whole, both where a line wraps and where the middle is cut; only a word wider than
// the line, or a text without two words that fit, is cut between characters.
TEST(TextElision, CutsAtWordsAndLines) {
    EXPECT_EQ(wrapLines("run the command now", 10, oneEach), (std::vector<std::string>{"run the ", "command ", "now"}));
    EXPECT_EQ(wrapLines("a verylongword", 5, oneEach), (std::vector<std::string>{"a ", "veryl", "ongwo", "rd"}));
    EXPECT_EQ(wrapLines("ab  cd", 4, oneEach), (std::vector<std::string>{"ab  ", "cd"}))
        << "blanks at a break take no room";

    std::string commands;
    for (int n = 1; n <= 10; ++n) commands += "rm -rf build/obj/" + std::to_string(n) + (n < 10 ? "\n" : "");
    const std::string cut = elideMiddle(commands, 4, 20, oneEach);
    EXPECT_LE(wrapLines(cut, 20, oneEach).size(), 4u);
    EXPECT_TRUE(cut.starts_with("rm -rf build/obj/1\n")) << cut;
    EXPECT_TRUE(cut.ends_with("rm -rf build/obj/10")) << cut;
    const auto ellipsis = cut.find("…");
    ASSERT_NE(ellipsis, std::string::npos);
    // The cut falls where a word begins on both sides.
    EXPECT_TRUE(ellipsis == 0 || cut[ellipsis - 1] == ' ' || cut[ellipsis - 1] == '\n') << cut;
    const std::string after = cut.substr(ellipsis + std::string_view("…").size());
    EXPECT_TRUE(commands.find("\n" + after) != std::string::npos || commands.find(" " + after) != std::string::npos)
        << cut;
}

}  // namespace
}  // namespace quib
