#include "QuibHost/Panel/TargetEditorActions.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Tests/Support/TargetEditorHost.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using Kind = QuibTarget::Kind;
using testing::TargetEditorHost;

QuibTarget appTarget(std::string name = "New target") {
    QuibTarget t;
    t.id = "T1";
    t.name = std::move(name);
    t.kind = Kind::app;
    t.bundleID = "org.example.Notes";
    t.tmuxTarget = "%3";
    return t;
}

// Each control writes the whole target once with its one field changed, and nothing checks it:
// "—" stores the empty text, a kind switch keeps the app and the pane for the way back.
TEST(TargetEditorActions, EachControlWritesOneFieldOnce) {
    TargetEditorHost host;
    auto& editor = host.edit(appTarget());
    host.writes.clear();
    host.onMain([&] {
        ASSERT_TRUE(editor.setName("").ok());
        ASSERT_TRUE(editor.setSymbol("not a symbol at all").ok());
        ASSERT_TRUE(editor.setBundleID("").ok());
        ASSERT_TRUE(editor.pickRunningApp("org.gnome.Terminal").ok());
        ASSERT_TRUE(editor.setKind(Kind::tmux).ok());
        ASSERT_TRUE(editor.pickPane("").ok());
        ASSERT_TRUE(editor.pickPane("%9").ok());
        ASSERT_TRUE(editor.setKind(Kind::app).ok());
        ASSERT_TRUE(editor.setAllowAutoSubmit(false).ok());
    });
    ASSERT_EQ(host.writes.size(), 9u);
    EXPECT_EQ(host.writes[0].name, "");
    EXPECT_EQ(host.writes[1].symbol, "not a symbol at all");
    EXPECT_EQ(host.writes[2].bundleID, std::optional<std::string>(""));
    EXPECT_EQ(host.writes[5].tmuxTarget, std::optional<std::string>(""));
    auto expected = appTarget("");
    expected.symbol = "not a symbol at all";
    expected.bundleID = "org.gnome.Terminal";
    expected.tmuxTarget = "%9";
    expected.allowAutoSubmit = false;
    EXPECT_EQ(host.stored(), expected);
    // Only the kind changed between these two writes.
    auto beforeSwitch = host.writes[3];
    beforeSwitch.kind = Kind::tmux;
    EXPECT_EQ(host.writes[4], beforeSwitch);

    // Disabled while Return may not be pressed: nothing is written and the value stays.
    host.onMain([&] { EXPECT_FALSE(editor.setSubmitOnSend(false).ok()); });
    EXPECT_EQ(host.writes.size(), 9u);
    EXPECT_TRUE(host.stored().submitOnSend);
}

// A write the store refuses leaves the stored target, shows it again and is logged once.
TEST(TargetEditorActions, ARefusedWriteShowsTheStoredValueAgain) {
    TargetEditorHost host;
    auto& editor = host.edit(appTarget("Notes"));
    std::vector<std::string> shownNames;
    Subscription shown;
    host.onMain([&] {
        shown = editor.model().subscribe(
            [&](const TargetEditorModel& model) {
                shownNames.push_back(model.control(MenuItemKind::field, TargetEditorModel::name)->text);
            },
            {.skipCurrent = true});
        EXPECT_FALSE(editor.setName(std::string(TargetStore::longestName + 1, 'x')).ok());
    });
    EXPECT_EQ(host.stored().name, "Notes");
    EXPECT_EQ(shownNames, std::vector<std::string>{"Notes"});
    std::size_t logged = 0;
    for (const auto& line : host.log->lines()) logged += line.find("not saving an edit") != std::string::npos;
    EXPECT_EQ(logged, 1u);
}

// Apps with an installed, named entry, by name ignoring case; equal names keep the workspace's
// order and an app listed twice stays twice.
TEST(TargetEditorActions, RefreshListsNamedRunningAppsSortedStably) {
    TargetEditorHost host;
    host.install("zed.desktop", "Type=Application\nName=zed\n");
    host.install("b.desktop", "Type=Application\nName=Beta\n");
    host.install("a.desktop", "Type=Application\nName=alpha\n");
    host.install("c.desktop", "Type=Application\nName=BETA\n");
    host.install("nameless.desktop", "Type=Application\n");
    host.workspace->running = {{"zed", 1},  {"c", 2},        {std::nullopt, 3}, {"b", 4},
                               {"gone", 5}, {"nameless", 6}, {"a", 7},          {"zed", 8}};
    auto& editor = host.edit(appTarget());
    host.onMain([&] { editor.appeared(); });
    EXPECT_EQ(editor.runningApps(), (std::vector<RunningAppChoice>{
                                        {"alpha", "a"}, {"BETA", "c"}, {"Beta", "b"}, {"zed", "zed"}, {"zed", "zed"}}));
}

TEST(TargetEditorActions, PaneListingsRunOnTheTmuxQueueAndTheLastAnswerWins) {
    TargetEditorHost host;
    auto& editor = host.edit(appTarget());
    host.setPanes({{"%1", "work:0.0", "bash", "/"}});
    host.onMain([&] {
        editor.refreshPanes();
        editor.refreshPanes();
    });
    ASSERT_EQ(host.tmuxQueue->tasks.size(), 2u);
    EXPECT_TRUE(editor.tmuxPanes().empty());
    // The second request is answered first; the first one's later answer is the one kept.
    host.tmuxQueue->run(1);
    host.setPanes({{"%2", "work:0.1", "claude", "/"}});
    host.tmuxQueue->run(0);
    host.pump();
    EXPECT_EQ(editor.tmuxPanes(), (std::vector<Tmux::Pane>{{"%2", "work:0.1", "claude", "/"}}));

    // Without tmux the list empties at once, and nothing is asked.
    host.uninstallTmux();
    bool listed = false;
    host.onMain([&] { editor.refreshPanes([&] { listed = true; }); });
    EXPECT_TRUE(listed);
    EXPECT_TRUE(host.tmuxQueue->tasks.empty());
    EXPECT_TRUE(editor.tmuxPanes().empty());
}

// The lists are asked for when the editor appears and, after that, when the kind changes,
// through the picker or in the store; not before, and not for other changes.
TEST(TargetEditorActions, AChangeOfKindAfterAppearingRefreshes) {
    TargetEditorHost host;
    auto& editor = host.edit(appTarget());
    host.onMain([&] { ASSERT_TRUE(editor.setKind(Kind::tmux).ok()); });
    EXPECT_TRUE(host.tmuxQueue->tasks.empty());
    host.onMain([&] { editor.appeared(); });
    EXPECT_EQ(host.tmuxQueue->tasks.size(), 1u);
    host.onMain([&] { ASSERT_TRUE(editor.setName("Renamed").ok()); });
    EXPECT_EQ(host.tmuxQueue->tasks.size(), 1u);
    host.onMain([&] { ASSERT_TRUE(editor.setKind(Kind::frontmost).ok()); });
    EXPECT_EQ(host.tmuxQueue->tasks.size(), 2u);
    host.onMain([&] {
        auto changed = host.stored();
        changed.kind = Kind::app;
        ASSERT_EQ(host.store->upsert(changed), std::nullopt);
    });
    EXPECT_EQ(host.tmuxQueue->tasks.size(), 3u);
}

// The editor moves to another target with its lists as they were, until the next refresh.
TEST(TargetEditorActions, ListsStayWhenTheEditorMovesToAnotherTarget) {
    TargetEditorHost host;
    host.setPanes({{"%1", "work:0.0", "bash", "/"}});
    auto& editor = host.edit(appTarget());
    host.onMain([&] { editor.appeared(); });
    host.answerListings();
    auto other = appTarget("Other");
    other.id = "T2";
    host.onMain([&] {
        ASSERT_EQ(host.store->upsert(other), std::nullopt);
        editor.setBinding(host.binding(other));
    });
    EXPECT_EQ(editor.tmuxPanes().size(), 1u);
    EXPECT_EQ(host.model().control(MenuItemKind::field, TargetEditorModel::name)->text, "Other");
}

// A chosen entry names the app by its desktop-file ID; its buttons follow unless pinned, and
// only a blank name takes the entry's.
TEST(TargetEditorActions, ChoosingAnAppStoresItsIdentifierAndFillsOnlyABlankName) {
    struct Case {
        std::string name;
        std::optional<std::string> oldBundleID;
        std::optional<std::string> profileID;
        std::string file;  // below the applications folder, or outside it with "../"
        std::string keys;
        std::string bundleID;
        std::string storedName;
        std::optional<std::string> storedProfile;
    };
    const std::vector<Case> cases{
        {"New target", "org.example.Notes", std::nullopt, "org.gnome.Terminal.desktop", "Name=Terminal\n",
         "org.gnome.Terminal", "New target", "terminal"},
        {" \n\t", std::nullopt, std::nullopt, "gnome/console.desktop", "Name=Console\n", "gnome-console", "Console",
         std::nullopt},
        // From a terminal to a browser: the terminal's buttons go with it.
        {"", "org.gnome.Terminal", "terminal", "firefox-esr.desktop", "", "firefox-esr", "firefox-esr", "browser"},
        // Pinned by hand: kept.
        {"Mine", "org.gnome.Terminal", "editor", "firefox-esr.desktop", "Name=Firefox\n", "firefox-esr", "Mine",
         "editor"},
        {"", std::nullopt, std::nullopt, "../elsewhere/My.App.desktop", "Name=\n", "My.App", "My.App", std::nullopt},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.file);
        TargetEditorHost host;
        auto start = appTarget(each.name);
        start.bundleID = each.oldBundleID;
        start.profileID = each.profileID;
        const auto file = host.install(each.file, "Type=Application\n" + each.keys);
        auto& editor = host.edit(start, file);
        host.writes.clear();
        host.onMain([&] { EXPECT_TRUE(editor.chooseApp()); });
        const auto stored = host.stored();
        EXPECT_EQ(stored.bundleID, each.bundleID);
        EXPECT_EQ(stored.name, each.storedName);
        EXPECT_EQ(stored.profileID, each.storedProfile);
        EXPECT_EQ(host.writes.size(), each.name == each.storedName ? 1u : 2u);
        EXPECT_EQ(host.tmuxQueue->tasks.size(), 1u);  // refreshed
    }
}

// A cancel, a file that is not a desktop entry, and an entry of another type change nothing.
TEST(TargetEditorActions, ChoosingSomethingThatIsNoAppChangesNothing) {
    TargetEditorHost host;
    const auto link = host.install("link.desktop", "Type=Link\nName=Docs\nURL=https://example.org\n");
    const auto text = host.scratch.path / "notes.desktop";
    std::ofstream(text) << "just some words\n";
    for (const std::optional<fs::path>& chosen : {std::optional<fs::path>(), std::optional(link), std::optional(text),
                                                  std::optional(host.scratch.path / "missing.desktop")}) {
        TargetEditorHost each;
        auto& editor = each.edit(appTarget(""), chosen);
        each.writes.clear();
        each.onMain([&] { EXPECT_FALSE(editor.chooseApp()); });
        EXPECT_TRUE(each.writes.empty());
        EXPECT_EQ(each.stored(), appTarget(""));
    }
}

}  // namespace
}  // namespace quib
