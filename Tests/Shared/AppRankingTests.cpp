#include "Shared/AppRanking.hpp"

#include <gtest/gtest.h>

#include <set>

#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using Days = std::chrono::duration<std::int64_t, std::ratio<86400>>;

TEST(AppRanking, CuratedAppsAreFoundIgnoringCaseWithTheirOwnSpelling) {
    const auto& curated = AppRanking::curated();
    ASSERT_EQ(curated.size(), 19u);
    EXPECT_EQ(curated.front().name, "Claude");
    EXPECT_EQ(curated.back().bundleID, "company.thebrowser.Browser");
    std::set<std::string> keys;
    for (const auto& app : curated) {
        EXPECT_TRUE(keys.insert(unicode::lower(app.bundleID)).second) << app.bundleID;
        EXPECT_EQ(AppRanking::known(app.bundleID), &app);
    }

    const auto* terminal = AppRanking::known("COM.APPLE.TERMINAL");
    ASSERT_TRUE(terminal);
    EXPECT_EQ(*terminal, (AppRanking::Known{"Terminal", "com.apple.Terminal", "terminal"}));
    EXPECT_FALSE(AppRanking::known("com.apple.Terminal.beta"));
    EXPECT_FALSE(AppRanking::known(""));
    EXPECT_EQ(AppRanking::symbol("org.example.unknown"), "app");
    EXPECT_EQ(AppRanking::symbol("com.openai.codex"), "chevron.left.forwardslash.chevron.right");
    EXPECT_EQ(AppRanking::symbol("com.anthropic.claudefordesktop"), "sparkle");
}

TEST(AppRanking, ScoresUseAndRecencyThenAddsTheBonusesInOrder) {
    const WallTime now = std::chrono::sys_days(std::chrono::year(2025) / 3 / 14);
    auto score = [&](std::int64_t uses, std::optional<WallTime> lastUsed, bool running = false, bool docked = false,
                     bool curated = false) { return AppRanking::score(uses, lastUsed, running, docked, curated, now); };
    EXPECT_DOUBLE_EQ(score(0, std::nullopt), 0.0);
    EXPECT_DOUBLE_EQ(score(-5, now), 0.0);
    EXPECT_DOUBLE_EQ(score(1023, now), 10.0);
    EXPECT_DOUBLE_EQ(score(100000, now), 10.0);
    EXPECT_DOUBLE_EQ(score(3, now - Days(14)), 1.0);
    EXPECT_DOUBLE_EQ(score(1023, now + Days(1)), 10.0);
    EXPECT_DOUBLE_EQ(score(1023, now - Days(200), true, false, true), 5.7);
    EXPECT_DOUBLE_EQ(score(7, std::nullopt), 0.06);
    EXPECT_DOUBLE_EQ(score(0, std::nullopt, true, true, true), 7.0);
    EXPECT_DOUBLE_EQ(score(1023, now, true, true, true), 17.0);
    // Dates at the ends of the clock's range neither overflow nor escape the floor and cap.
    EXPECT_DOUBLE_EQ(score(1023, WallTime::min()), 0.2);
    EXPECT_DOUBLE_EQ(score(1023, WallTime::max()), 10.0);
}

}  // namespace
}  // namespace quib
