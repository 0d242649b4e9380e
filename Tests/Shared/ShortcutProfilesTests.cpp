#include "Shared/ShortcutProfiles.hpp"

#include <gtest/gtest.h>

#include <set>

#include "Runtime/UnicodeText.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

std::vector<std::string> idsOf(const std::vector<ShortcutProfile>& profiles) {
    std::vector<std::string> ids;
    for (const auto& profile : profiles) ids.push_back(profile.id);
    return ids;
}

const ShortcutAction& action(const ShortcutProfile& profile, std::string_view id) {
    const auto found = std::ranges::find(profile.actions, id, &ShortcutAction::id);
    if (found == profile.actions.end()) throw std::runtime_error("no action " + std::string(id) + " in " + profile.id);
    return *found;
}

QuibTarget target(QuibTarget::Kind kind, std::optional<std::string> bundleID, std::optional<std::string> profileID) {
    QuibTarget made;
    made.kind = kind;
    made.bundleID = std::move(bundleID);
    made.profileID = std::move(profileID);
    return made;
}

TEST(ShortcutProfiles, NineProfilesInOrderHoldingNinetyOneActions) {
    EXPECT_EQ(idsOf(ShortcutProfiles::all()), (std::vector<std::string>{"claude", "codex", "shell", "app", "browser",
                                                                        "editor", "xcode", "chat", "terminal"}));
    EXPECT_EQ(idsOf(ShortcutProfiles::paneProfiles()), (std::vector<std::string>{"claude", "codex", "shell"}));
    EXPECT_EQ(ShortcutProfiles::choices(QuibTarget::Kind::tmux), ShortcutProfiles::paneProfiles());
    EXPECT_EQ(ShortcutProfiles::choices(QuibTarget::Kind::frontmost), ShortcutProfiles::choices(QuibTarget::Kind::app));
    EXPECT_EQ(ShortcutProfiles::choices(QuibTarget::Kind::app), ShortcutProfiles::appProfiles());

    std::vector<std::size_t> counts;
    std::size_t total = 0;
    for (const auto& profile : ShortcutProfiles::all()) {
        counts.push_back(profile.actions.size());
        total += profile.actions.size();
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{10, 9, 8, 8, 12, 12, 11, 9, 12}));
    EXPECT_EQ(total, 91u);
}

// What a slip in a table would break: a button id twice, a chord the host cannot press, an
// identifier that can never match, a profile without the phone's dictation at its end.
TEST(ShortcutProfiles, EveryTableIsConsistent) {
    const auto& dictate = ShortcutProfiles::claudeCode().actions.back();
    EXPECT_EQ(dictate.kind, ShortcutAction::Kind::dictate);
    EXPECT_EQ(*QuibCoder::encode(dictate),
              R"({"id":"dictate","label":"talk","symbol":"mic.fill","kind":"dictate",)"
              R"("note":"This phone's microphone. Transcribed here; only text is sent.","glyphOnly":false})");
    for (const auto& profile : ShortcutProfiles::all()) {
        SCOPED_TRACE(profile.id);
        EXPECT_EQ(profile.actions.back(), dictate);
        std::set<std::string> ids;
        for (const auto& button : profile.actions) {
            EXPECT_TRUE(ids.insert(button.id).second) << button.id << " twice";
            if (button.chord) {
                EXPECT_TRUE(button.chord->macVirtualKey()) << button.id << ": " << button.chord->key;
            }
            EXPECT_EQ(button.kind == ShortcutAction::Kind::dictate, button.id == "dictate") << button.id;
        }
        for (const auto& listed : profile.bundleIDs) EXPECT_EQ(listed, unicode::lower(listed));
        for (const auto& command : profile.commands) EXPECT_EQ(command, unicode::lower(command));
        const bool isPane =
            std::ranges::find(ShortcutProfiles::paneProfiles(), profile) != ShortcutProfiles::paneProfiles().end();
        EXPECT_TRUE(isPane ? profile.bundleIDs.empty() : profile.commands.empty());
    }
    EXPECT_TRUE(ShortcutProfiles::app().bundleIDs.empty());
}

TEST(ShortcutProfiles, ButtonsWhereATypoIsLikely) {
    const auto& voice = action(ShortcutProfiles::codex(), "voice");
    EXPECT_EQ(voice.kind, ShortcutAction::Kind::key);
    EXPECT_FALSE(voice.chord);
    const auto encoded = QuibCoder::encode(voice);
    EXPECT_NE(encoded->find(R"("note":"Codex has a voice toggle in its keymap (toggle_voice_mute))"),
              std::string::npos);
    EXPECT_EQ(encoded->find("\"chord\""), std::string::npos);

    EXPECT_EQ(action(ShortcutProfiles::browser(), "previous-tab").chord, KeyChord("tab", true, false, true, false));
    EXPECT_EQ(action(ShortcutProfiles::editor(), "terminal").chord, KeyChord("`", true));
    EXPECT_EQ(action(ShortcutProfiles::editor(), "palette").chord, KeyChord("p", false, false, true, true));
    EXPECT_EQ(action(ShortcutProfiles::claudeCode(), "rewind").chord,
              KeyChord("escape", false, false, false, false, 2));
    EXPECT_EQ(action(ShortcutProfiles::codex(), "edit-previous").chord->repeatCount, 2);
    EXPECT_EQ(action(ShortcutProfiles::chat(), "newline").chord, KeyChord("enter", false, false, true));
    EXPECT_EQ(action(ShortcutProfiles::claudeCode(), "mode").note,
              "Cycles permission modes — accept edits, plan, and back.");
    EXPECT_EQ(action(ShortcutProfiles::terminalApp(), "interrupt").label, "^C");
    EXPECT_EQ(action(ShortcutProfiles::xcode(), "stop").chord, KeyChord(".", false, false, false, true));
    EXPECT_NE(std::ranges::find(ShortcutProfiles::shell().commands, "tmux"), ShortcutProfiles::shell().commands.end());
    EXPECT_EQ(ShortcutProfiles::terminalApp().name, "Terminal app");
}

TEST(ShortcutProfiles, GuessesFromThePanesProgram) {
    EXPECT_EQ(ShortcutProfiles::guessForCommand(std::nullopt).id, "shell");
    for (const char* command : {"", "top", "claude-code", "/usr/bin/claude", "zsh", "tmux"})
        EXPECT_EQ(ShortcutProfiles::guessForCommand(command).id, "shell") << command;
    EXPECT_EQ(ShortcutProfiles::guessForCommand("CODEX").id, "codex");
    EXPECT_EQ(ShortcutProfiles::guessForCommand("Claude").id, "claude");
}

TEST(ShortcutProfiles, GuessesFromTheBundleIdentifierExactlyThenByVariant) {
    const std::vector<std::pair<std::optional<std::string_view>, std::string>> cases{
        {std::nullopt, "app"},
        {"", "app"},
        {"COM.APPLE.DT.XCODE", "xcode"},
        {"com.apple.dt.xcodebeta", "app"},  // neither "." nor "-" after the listed identifier
        {"org.alacritty.nightly", "terminal"},
        {"org.alacritty", "terminal"},
        {"com.microsoft.vscode-insiders", "editor"},
        {"com.microsoft.vscodeinsiders", "editor"},
        {"com.google.chrome.canary", "browser"},
        {"com.google.Chrome", "browser"},
        {"com.anthropic.claudefordesktop", "chat"},
        {"com.apple.terminal", "terminal"},
        {"com.apple.finder", "app"},
        {"com.apple", "app"},
        {"com.apple.", "app"},
    };
    for (const auto& [bundleID, expected] : cases)
        EXPECT_EQ(ShortcutProfiles::guessForBundleID(bundleID).id, expected) << bundleID.value_or("(none)");
}

TEST(ShortcutProfiles, FindsOnlyBuiltInProfilesByExactId) {
    ASSERT_TRUE(ShortcutProfiles::profile("terminal"));
    EXPECT_EQ(*ShortcutProfiles::profile("terminal"), ShortcutProfiles::terminalApp());
    for (std::optional<std::string_view> id :
         {std::optional<std::string_view>(), std::optional<std::string_view>("Terminal"),
          std::optional<std::string_view>("terminalApp"), std::optional<std::string_view>("menu:com.apple.safari")})
        EXPECT_FALSE(ShortcutProfiles::profile(id)) << id.value_or("(none)");
}

TEST(ShortcutProfiles, ResolvesTheStoredBuiltInProfileElseByKind) {
    using Kind = QuibTarget::Kind;
    EXPECT_EQ(
        ShortcutProfiles::resolved(target(Kind::app, "com.apple.safari", "menu:com.apple.safari"), std::nullopt).id,
        "browser");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::app, "com.apple.safari", "editor"), std::nullopt).id, "editor");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::app, std::nullopt, std::nullopt), std::nullopt).id, "app");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::frontmost, "com.apple.safari", std::nullopt), "codex").id, "app");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::tmux, std::nullopt, "claude"), "zsh").id, "claude");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::tmux, std::nullopt, std::nullopt), "codex").id, "codex");
    EXPECT_EQ(ShortcutProfiles::resolved(target(Kind::tmux, std::nullopt, "Claude"), std::nullopt).id, "shell");
}

}  // namespace
}  // namespace quib
