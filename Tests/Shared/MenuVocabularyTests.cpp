#include "Shared/MenuVocabulary.hpp"

#include <gtest/gtest.h>

#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

KeyChord commandKey(const std::string& key) { return KeyChord(key, false, false, false, true); }

MenuCommand command(const std::string& menu, const std::string& title, KeyChord chord) {
    return MenuCommand{menu, title, std::move(chord)};
}

std::vector<std::string> actionIDs(const std::optional<ShortcutProfile>& profile) {
    std::vector<std::string> ids;
    if (profile)
        for (const auto& action : profile->actions) ids.push_back(action.id);
    return ids;
}

// The action with this id, or an action with an empty id when the profile has none.
ShortcutAction action(const std::optional<ShortcutProfile>& profile, const std::string& id) {
    if (profile)
        for (const auto& action : profile->actions)
            if (action.id == id) return action;
    return {};
}

// The title of the command a want was matched to, and the note's closing full stop.
std::optional<std::string> matchedTitle(const std::optional<ShortcutProfile>& profile, const std::string& id) {
    const auto note = action(profile, id).note;
    if (!note) return std::nullopt;
    return note->substr(note->find("\u25B8 ") + 4);
}

TEST(MenuCommand, CodingRequiresAllThreeKeys) {
    const MenuCommand save = command("File", "Save", commandKey("s"));
    const auto encoded = QuibCoder::encode(save);
    ASSERT_TRUE(encoded.ok());
    EXPECT_EQ(*encoded, R"({"menu":"File","title":"Save","chord":{"key":"s","control":false,"option":false,)"
                        R"("shift":false,"command":true,"repeatCount":1}})");
    EXPECT_EQ(QuibCoder::decode<MenuCommand>(*encoded).valueOr({}), save);
    EXPECT_FALSE(QuibCoder::decode<MenuCommand>(R"({"title":"Save","chord":{}})").ok());
    EXPECT_FALSE(QuibCoder::decode<MenuCommand>(R"({"menu":"File","chord":{}})").ok());
    EXPECT_FALSE(QuibCoder::decode<MenuCommand>(R"({"menu":"File","title":"Save"})").ok());
    EXPECT_FALSE(QuibCoder::decode<MenuCommand>(R"({"menu":"File","title":7,"chord":{}})").ok());
}

TEST(MenuCommand, NormalisedTitleIgnoresCaseSpacingAndOneTrailingEllipsis) {
    const auto normalised = [](const std::string& title) {
        return command("File", title, commandKey("s")).normalisedTitle();
    };
    EXPECT_EQ(normalised("Save   As..."), "save as");
    EXPECT_EQ(normalised(" Save As\u2026"), "save as");
    EXPECT_EQ(normalised("Save As \u2026\n"), "save as");
    EXPECT_EQ(normalised("\tÉDITER\u00A0Tout "), "éditer tout");
    // Only one ellipsis goes, the single character first.
    EXPECT_EQ(normalised("Wait......"), "wait...");
    EXPECT_EQ(normalised("More...\u2026"), "more");
    EXPECT_EQ(normalised("   "), "");
}

TEST(MenuVocabulary, WantsAreTheTwentyThreeInPriorityOrder) {
    std::vector<std::string> ids;
    for (const auto& want : MenuVocabulary::wants()) ids.push_back(want.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"run",      "stop",    "build", "test",     "reload",       "back",
                                             "forward",  "save",    "find",  "find-all", "open-quickly", "palette",
                                             "terminal", "sidebar", "new",   "next-tab", "previous-tab", "address",
                                             "undo",     "redo",    "copy",  "paste",    "close"}));
    EXPECT_EQ(MenuVocabulary::limit, 12u);
    EXPECT_EQ(MenuVocabulary::minimumUseful, 3u);
    const auto& undo = MenuVocabulary::wants()[18];
    EXPECT_TRUE(undo.matchesLongerTitles);
    EXPECT_FALSE(undo.glyphOnly);
    EXPECT_TRUE(MenuVocabulary::wants()[20].glyphOnly);
}

TEST(MenuVocabulary, ProfileIdsAreLowerCasedAndRecognised) {
    EXPECT_EQ(MenuVocabulary::profileID("Org.Example.Editor"), "menu:org.example.editor");
    EXPECT_TRUE(MenuVocabulary::isDiscovered("menu:org.example.editor"));
    EXPECT_FALSE(MenuVocabulary::isDiscovered("editor"));
    EXPECT_FALSE(MenuVocabulary::isDiscovered("Menu:x"));
    EXPECT_FALSE(MenuVocabulary::isDiscovered(std::nullopt));
}

// Three matches make a profile of six actions: the three, then Tab, Delete and dictation.
TEST(MenuVocabulary, ThreeMatchesMakeAProfileOfSixAndTwoMakeNone) {
    const std::vector<MenuCommand> two{command("File", "Save", commandKey("s")),
                                       command("Edit", "Copy", commandKey("c"))};
    EXPECT_FALSE(MenuVocabulary::profile("Editor", "Org.Example.Editor", two));

    auto three = two;
    three.push_back(command("Edit", "Paste", commandKey("v")));
    const auto profile = MenuVocabulary::profile("Editor", "Org.Example.Editor", three);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->id, "menu:org.example.editor");
    EXPECT_EQ(profile->name, "Editor menus");
    EXPECT_TRUE(profile->commands.empty());
    EXPECT_TRUE(profile->bundleIDs.empty());
    EXPECT_EQ(actionIDs(profile), (std::vector<std::string>{"save", "copy", "paste", "tab", "delete", "dictate"}));
    EXPECT_EQ(profile->actions[0], (ShortcutAction{"save", "save", "square.and.arrow.down", ShortcutAction::Kind::key,
                                                   commandKey("s"), "Editor's own key for File \u25B8 Save.", true}));
    EXPECT_EQ(profile->actions[3], (ShortcutAction{"tab", "tab", "arrow.right.to.line", ShortcutAction::Kind::key,
                                                   KeyChord("tab"), "Tab: the next field, or a completion.", false}));
    EXPECT_EQ(profile->actions[4], (ShortcutAction{"delete", "delete", "delete.backward", ShortcutAction::Kind::key,
                                                   KeyChord("delete"), "Backspace: one character per tap.", false}));
    EXPECT_EQ(profile->actions[5],
              (ShortcutAction{"dictate", "talk", "mic.fill", ShortcutAction::Kind::dictate, std::nullopt,
                              "This phone's microphone. Transcribed here; only text is sent.", false}));
}

TEST(MenuVocabulary, LongerTitlesMatchOnlyForWantsThatAllowThemAndOnlyFailingAnExactTitle) {
    const auto profile = MenuVocabulary::profile(
        "Editor", "e",
        {command("Edit", "Undone", commandKey("u")), command("Edit", "Undo Typing", commandKey("z")),
         command("Edit", "Redo Typing", KeyChord("z", false, false, true, true)),
         command("Edit", "Copy Path", KeyChord("c", false, true, false, true)),
         command("Edit", "Copy", commandKey("c"))});
    EXPECT_EQ(actionIDs(profile), (std::vector<std::string>{"undo", "redo", "copy", "tab", "delete", "dictate"}));
    EXPECT_EQ(matchedTitle(profile, "undo"), "Undo Typing.");
    EXPECT_EQ(matchedTitle(profile, "redo"), "Redo Typing.");
    EXPECT_EQ(matchedTitle(profile, "copy"), "Copy.");

    // An exact title anywhere beats a longer one in the wanted menu.
    const auto exact = MenuVocabulary::profile(
        "Editor", "e",
        {command("Edit", "Undo Typing", commandKey("z")), command("History", "Undo", KeyChord("z", true)),
         command("File", "Save", commandKey("s")), command("Edit", "Paste", commandKey("v"))});
    EXPECT_EQ(matchedTitle(exact, "undo"), "Undo.");
}

// The earlier title wins over the earlier command, and the wanted menus over the rest.
TEST(MenuVocabulary, ExactTitlesAreTriedInOrderOverTheWantedMenusFirst) {
    const auto profile = MenuVocabulary::profile(
        "Browser", "b",
        {command("Tools", "Find", commandKey("g")), command("Bookmarks", "Reload Page", KeyChord("r", true)),
         command("View", "Reload", KeyChord("r", false, true, false, true)),
         command("View", "Reload This Page", commandKey("r")), command("Edit", "Find", commandKey("f")),
         command("Window", "Close Tab", commandKey("w"))});
    EXPECT_EQ(matchedTitle(profile, "reload"), "Reload This Page.");
    EXPECT_EQ(matchedTitle(profile, "find"), "Find.");
    EXPECT_EQ(action(profile, "find").chord, commandKey("f"));

    // With no Find in a wanted menu, the one in Tools is taken; the palette has no wanted menu.
    const auto elsewhere =
        MenuVocabulary::profile("Code", "c",
                                {command("Tools", "Find", commandKey("g")),
                                 command("View", "Command Palette\u2026", KeyChord("p", false, false, true, true)),
                                 command("File", "Save", commandKey("s"))});
    EXPECT_EQ(action(elsewhere, "find").chord, commandKey("g"));
    EXPECT_EQ(matchedTitle(elsewhere, "palette"), "Command Palette\u2026.");
}

TEST(MenuVocabulary, AChordGoesToTheEarlierWantOnly) {
    const auto profile = MenuVocabulary::profile(
        "IDE", "i",
        {command("Product", "Run", commandKey("r")), command("View", "Reload Page", commandKey("r")),
         command("View", "Refresh", KeyChord("r", false, false, true, true)), command("File", "Save", commandKey("s")),
         command("Edit", "Copy", commandKey("c"))});
    // Reload is not matched to Refresh instead.
    EXPECT_EQ(actionIDs(profile), (std::vector<std::string>{"run", "save", "copy", "tab", "delete", "dictate"}));
}

TEST(MenuVocabulary, OnlyChordsWithCommandControlOptionOrAFunctionKeyAreUseful) {
    const auto profile = MenuVocabulary::profile(
        "IDE", "i",
        {command("Debug", "Start Debugging", KeyChord("f5")),
         command("Debug", "Stop Debugging", KeyChord("f5", false, false, true)),
         command("Window", "Next Tab", KeyChord("tab", false, false, true)), command("Edit", "Copy", KeyChord("c")),
         command("View", "Back", KeyChord("left", false, true))});
    EXPECT_EQ(actionIDs(profile), (std::vector<std::string>{"run", "stop", "back", "tab", "delete", "dictate"}));
    EXPECT_FALSE(
        MenuVocabulary::profile("IDE", "i",
                                {command("Debug", "Start Debugging", KeyChord("f13")),
                                 command("Debug", "Build", KeyChord("F5")), command("Edit", "Copy", commandKey("c"))}));
}

TEST(MenuVocabulary, TwelveButtonsAtMostFromTheEarliestWants) {
    const std::vector<std::string> titles{"Run",
                                          "Stop",
                                          "Build",
                                          "Test",
                                          "Reload",
                                          "Back",
                                          "Forward",
                                          "Save",
                                          "Find",
                                          "Find in Files",
                                          "Open Quickly",
                                          "Command Palette",
                                          "Toggle Terminal",
                                          "Copy"};
    std::vector<MenuCommand> commands;
    for (std::size_t i = 0; i < titles.size(); ++i)
        commands.push_back(command("Menu", titles[i], KeyChord(std::string(1, static_cast<char>('a' + i)), true)));
    const auto profile = MenuVocabulary::profile("IDE", "i", commands);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->actions.size(), 15u);
    EXPECT_EQ(profile->actions[11].id, "palette");
    EXPECT_EQ(profile->actions[12].id, "tab");
}

TEST(MenuVocabulary, NotesTakeABareApostropheAfterAnS) {
    const std::vector<MenuCommand> commands{command("File", "Save", commandKey("s")),
                                            command("Edit", "Copy", commandKey("c")),
                                            command("Edit", "Paste", commandKey("v"))};
    EXPECT_EQ(action(MenuVocabulary::profile("Notes", "n", commands), "save").note,
              "Notes' own key for File \u25B8 Save.");
    EXPECT_EQ(action(MenuVocabulary::profile("LIVES", "n", commands), "copy").note,
              "LIVES' own key for Edit \u25B8 Copy.");
    EXPECT_EQ(action(MenuVocabulary::profile("Bars Editor", "n", commands), "paste").note,
              "Bars Editor's own key for Edit \u25B8 Paste.");
}

}  // namespace
}  // namespace quib
