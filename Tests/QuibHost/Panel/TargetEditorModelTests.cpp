#include "QuibHost/Panel/TargetEditorModel.hpp"

#include <gtest/gtest.h>

#include <set>

namespace quib {
namespace {

using Kind = QuibTarget::Kind;
using Lines = std::vector<std::string>;

QuibTarget target(Kind kind) {
    QuibTarget t;
    t.id = "T1";
    t.name = "Work";
    t.kind = kind;
    t.symbol = "terminal";
    return t;
}

TargetEditorModel::Input input(QuibTarget t, bool tmuxAvailable = true) {
    return {.target = std::move(t),
            .runningApps = {{"Files", "org.gnome.Nautilus"}, {"Terminal", "org.gnome.Terminal"}},
            .tmuxPanes = {{"%1", "work:0.0", "claude", "/src"}, {"%7", "work:1.0", "bash", ""}},
            .tmuxAvailable = tmuxAvailable};
}

Lines section(const TargetEditorModel& model, std::size_t index) {
    const auto all = model.lines();
    const std::string prefix = "editor" + std::to_string(index + 1) + "\t";
    Lines out;
    for (const auto& line : all)
        if (line.starts_with(prefix)) out.push_back(line.substr(prefix.size()));
    return out;
}

// The whole form of an app target as the control tool prints it: the name, the symbol with its
// help, the kinds with the target's selected, then the app's controls and the Return switches.
TEST(TargetEditorModel, AnAppTargetShowsEveryControlInOrder) {
    auto t = target(Kind::app);
    t.bundleID = "org.gnome.Terminal";
    t.submitOnSend = false;
    const auto model = TargetEditorModel::build(input(t));
    EXPECT_EQ(section(model, 0),
              (Lines{"field\tWork\tenabled=1\tlabel=Name",
                     "field\tterminal\thelp=Any symbol name the phone knows, e.g. sparkle, terminal, "
                     "brain\tenabled=1\tlabel=Symbol",
                     "picker\t\tenabled=1\tlabel=Delivery", "choice\tRaise app, then paste\tselected=1\tkey=app",
                     "choice\ttmux send-keys\tkey=tmux", "choice\tWhatever is focused\tkey=frontmost"}));
    EXPECT_EQ(section(model, 1),
              (Lines{"text\tApplication\tfont=headline", "field\torg.gnome.Terminal\tenabled=1\tlabel=Application ID",
                     "picker\t\tenabled=1\tlabel=Pick a running app", "choice\t—",
                     "choice\tFiles  (org.gnome.Nautilus)\tkey=org.gnome.Nautilus",
                     "choice\tTerminal  (org.gnome.Terminal)\tselected=1\tkey=org.gnome.Terminal",
                     "button\tChoose an app…\tenabled=1",
                     "value\tTerminal app\thelp=Chosen from the app's application ID, and pinnable per target from "
                     "the phone.\tlabel=Buttons"}));
    EXPECT_EQ(section(model, 2),
              (Lines{"switch\tAllow pressing Return\thelp=Off for a pane sitting at a shell prompt: text still "
                     "arrives, but nothing submits it\ton=1\tenabled=1",
                     "switch\tPress Return after sending\ton=0\tenabled=1"}));
    EXPECT_EQ(model.lines().back(), "end");
}

// No identifier and the empty one both select "—"; an identifier no running app has selects
// nothing, and the field shows it as it is.
TEST(TargetEditorModel, TheRunningAppPickerSelectsTheStoredIdentifier) {
    for (const auto& [bundleID, field, selected] :
         std::vector<std::tuple<std::optional<std::string>, std::string, std::string>>{
             {std::nullopt, "", "—"},
             {"", "", "—"},
             {"org.gnome.Nautilus", "org.gnome.Nautilus", "Files  (org.gnome.Nautilus)"},
             {"com.example.Gone", "com.example.Gone", ""}}) {
        auto t = target(Kind::app);
        t.bundleID = bundleID;
        const auto model = TargetEditorModel::build(input(t));
        EXPECT_EQ(model.control(MenuItemKind::field, TargetEditorModel::bundleIdentifier)->text, field);
        std::string chosen;
        for (const auto& row : model.rows(TargetEditorModel::runningApp))
            if (row.selected) chosen = row.text;
        EXPECT_EQ(chosen, selected) << bundleID.value_or("none");
    }
}

// The pinned built-in profile, else the guess for the identifier through the desktop's aliases.
TEST(TargetEditorModel, ButtonsNameThePinnedProfileElseTheGuessedOne) {
    const std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, std::string>> cases{
        {"browser", "org.gnome.Terminal", "Browser"},
        {"menu:org.gnome.Terminal", "org.gnome.Terminal", "Terminal app"},
        {std::nullopt, "org.gnome.Terminal", "Terminal app"},
        {std::nullopt, "firefox-esr", "Browser"},
        {std::nullopt, std::nullopt, "App"},
        {"", "org.example.Notes", "App"},
    };
    for (const auto& [profileID, bundleID, name] : cases) {
        auto t = target(Kind::app);
        t.profileID = profileID;
        t.bundleID = bundleID;
        EXPECT_EQ(TargetEditorModel::build(input(t)).control(MenuItemKind::value, TargetEditorModel::buttons)->text,
                  name)
            << profileID.value_or("none") << " " << bundleID.value_or("none");
    }
}

TEST(TargetEditorModel, APaneTargetListsThePanesAndKeepsASavedPaneThatIsNotRunning) {
    struct Case {
        std::optional<std::string> saved;
        Lines lastRows;  // after "—" and the two listed panes
        std::string selected;
        std::string paneID;
    };
    const std::vector<Case> cases{
        {"%7", {}, "work:1.0  bash", "%7"},
        {"%9", {"%9 (not running)"}, "%9 (not running)", "%9"},
        // An address is not an identifier, so no listed pane has it.
        {"work:0.1", {"work:0.1 (not running)"}, "work:0.1 (not running)", "work:0.1"},
        {"", {}, "—", ""},
        {std::nullopt, {}, "—", "—"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.saved.value_or("none"));
        auto t = target(Kind::tmux);
        t.tmuxTarget = each.saved;
        const auto model = TargetEditorModel::build(input(t));
        const auto rows = model.rows(TargetEditorModel::pane);
        Lines texts;
        std::string selected;
        for (const auto& row : rows) {
            texts.push_back(row.text);
            if (row.selected) selected = row.text;
        }
        Lines expected{"—", "work:0.0  claude", "work:1.0  bash"};
        expected.insert(expected.end(), each.lastRows.begin(), each.lastRows.end());
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(rows.back().key, each.lastRows.empty() ? "%7" : *each.saved);
        EXPECT_EQ(selected, each.selected);
        EXPECT_EQ(model.control(MenuItemKind::value, TargetEditorModel::paneID)->text, each.paneID);
        EXPECT_NE(model.control(MenuItemKind::button, TargetEditorModel::refreshPanes), nullptr);
    }
}

TEST(TargetEditorModel, WithoutTmuxOrForTheFrontmostAppTheSecondSectionIsOneNote) {
    auto pane = target(Kind::tmux);
    pane.tmuxTarget = "%1";
    EXPECT_EQ(
        section(TargetEditorModel::build(input(pane, false)), 1),
        (Lines{
            "text\ttmux\tfont=headline",
            "text\ttmux not found in /opt/homebrew/bin, /usr/local/bin or /usr/bin.\ttone=secondary\tfont=caption"}));
    EXPECT_EQ(section(TargetEditorModel::build(input(target(Kind::frontmost))), 1),
              (Lines{"text\tText is pasted into whatever already has keyboard focus. Useful as a catch-all "
                     "button.\ttone=secondary\tfont=caption"}));
}

// The second switch is disabled, not changed, while Return may not be pressed.
TEST(TargetEditorModel, PressReturnIsDisabledButKeepsItsValueWhileReturnIsNotAllowed) {
    auto t = target(Kind::frontmost);
    t.allowAutoSubmit = false;
    t.submitOnSend = true;
    const auto model = TargetEditorModel::build(input(t));
    const auto* press = model.control(MenuItemKind::toggle, TargetEditorModel::pressReturn);
    EXPECT_FALSE(press->enabled);
    EXPECT_EQ(press->on, true);
    EXPECT_EQ(model.control(MenuItemKind::toggle, TargetEditorModel::allowReturn)->on, false);
}

// Every fixed text of the editor, hover help included, as it shows in some state.
TEST(SettingsViewTexts, EveryEditorTextShowsAsWritten) {
    const std::vector<std::string> table{
        "Name",
        "Symbol",
        "Any symbol name the phone knows, e.g. sparkle, terminal, brain",
        "Delivery",
        "Raise app, then paste",
        "tmux send-keys",
        "Whatever is focused",
        "Application",
        "Application ID",
        "Pick a running app",
        "—",
        "  (",
        "Choose an app…",
        "Buttons",
        "Chosen from the app's application ID, and pinnable per target from the phone.",
        "tmux",
        "Pane",
        " (not running)",
        "Pane id",
        "Refresh panes",
        "tmux not found in /opt/homebrew/bin, /usr/local/bin or /usr/bin.",
        "Text is pasted into whatever already has keyboard focus. Useful as a catch-all button.",
        "Allow pressing Return",
        "Off for a pane sitting at a shell prompt: text still arrives, but nothing submits it",
        "Press Return after sending",
    };
    std::set<std::string> shown;
    auto pane = target(Kind::tmux);
    pane.tmuxTarget = "%9";
    for (const auto& [t, tmux] : std::vector<std::pair<QuibTarget, bool>>{
             {target(Kind::app), true}, {pane, true}, {pane, false}, {target(Kind::frontmost), true}}) {
        for (const auto& items : TargetEditorModel::build(input(t, tmux)).sections)
            for (const auto& item : items)
                for (const auto* text : {&item.text, &item.label, &item.help})
                    if (!text->empty()) shown.insert(*text);
    }
    for (const auto& text : table) {
        const bool found =
            std::ranges::any_of(shown, [&](const auto& each) { return each.find(text) != std::string::npos; });
        EXPECT_TRUE(found) << text;
    }
}

}  // namespace
}  // namespace quib
