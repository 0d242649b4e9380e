// The store's first contents, its agent panes, and the targets it offers without saving them.
// Panes that tmux must report are real, in the test's own tmux server; running apps come from
// the simulated desktop and the first app targets from a fake catalog.

#include "Runtime/UnicodeText.hpp"
#include "Shared/ShortcutProfiles.hpp"
#include "TargetStoreFixture.hpp"

namespace target_store_tests {

Tmux::Pane listed(const std::string& id, const std::string& spec, const std::string& command) {
    return {id, spec, command, "/"};
}

QuibTarget focused(const std::string& id) {
    QuibTarget t = named(id, "Focused", Kind::frontmost);
    t.submitOnSend = false;
    t.allowAutoSubmit = true;
    t.symbol = "cursorarrow.rays";
    return t;
}

QuibTarget offeredPane(const std::string& id, const std::string& name, const std::string& symbol) {
    QuibTarget t = pane("pane:" + id, name, id);
    t.symbol = symbol;
    t.isProvisional = true;
    return t;
}

QuibTarget offeredApp(const std::string& bundleID, const std::string& name, const std::string& symbol,
                      std::optional<std::string> profileID = std::nullopt) {
    QuibTarget t = app("app:" + unicode::lower(bundleID), name, bundleID);
    t.symbol = symbol;
    t.profileID = std::move(profileID);
    t.isProvisional = true;
    return t;
}

TEST_F(TargetStore, AFirstStartSeedsAgentPanesThenTheAppsThenTheFrontmostApp) {
    ASSERT_TRUE(tmuxServer.startSession("work", scratch.path, 3));
    ASSERT_TRUE(tmuxServer.runAs("work:0.0", "claude"));
    ASSERT_TRUE(tmuxServer.runAs("work:0.1", "claude"));
    seeds->apps = {{"Terminal", "org.gnome.Terminal"}, {"Kitty", "kitty"}};
    auto& targets = make();

    const auto list = targets.targets().value();
    ASSERT_EQ(names(list),
              (std::vector<std::string>{"claude (work:0.0)", "claude (work:0.1)", "Terminal", "Kitty", "Focused"}));
    EXPECT_EQ(seeds->limits, std::vector<std::size_t>{5});
    for (std::size_t n : {0u, 1u}) {
        QuibTarget expected = pane(list[n].id, list[n].name, tmuxServer.idOf("work:0." + std::to_string(n)));
        expected.symbol = "sparkle";
        EXPECT_EQ(list[n], expected);
        EXPECT_EQ(list[n].id.size(), 36u) << "a UUID";
    }
    EXPECT_NE(list[0].id, list[1].id);
    EXPECT_EQ(list[4], focused(list[4].id));
    EXPECT_EQ(list[4].id.size(), 36u);
    EXPECT_EQ(targets.activeTargetID().value(), list[0].id);
    EXPECT_EQ(settings->string(quib::TargetStore::activeKey), list[0].id);
    EXPECT_EQ(settings->boolean(quib::TargetStore::seededPanesKey), true);
    EXPECT_TRUE(targets.unresolvedTargetIDs().value().empty());
    EXPECT_EQ(storedList(), list);
    EXPECT_EQ(targets.snapshot().saved, list);
}

// Without tmux, pane seeding is evaluated again at the next start; without well-known apps the
// frontmost app is all there is.
TEST_F(TargetStore, WithoutTmuxOnlyTheAppsAreSeededAndSeedingIsLeftUndecided) {
    tmux = quib::Tmux(std::vector<fs::path>{});
    seeds->apps = {{"Terminal", "org.gnome.Terminal"}};
    auto& targets = make();
    EXPECT_EQ(names(targets.targets().value()), (std::vector<std::string>{"Terminal", "Focused"}));
    // Phones resolve the terminal's own buttons from the target alone.
    EXPECT_EQ(ShortcutProfiles::resolved(targets.targets().value().front(), std::nullopt).id, "terminal");
    EXPECT_EQ(targets.activeTargetID().value(), targets.targets().value().front().id);
    EXPECT_FALSE(settings->contains(quib::TargetStore::seededPanesKey));

    seeds->apps.clear();
    (void)settings->setBytes(quib::TargetStore::defaultsKey, bytesOf("[]\n"));
    EXPECT_EQ(names(make().targets().value()), std::vector<std::string>{"Focused"});
}

// After an undecodable list, the active id that was stored stays, unless agent panes were
// seeded on that first run: then the first of them is active.
TEST_F(TargetStore, AnUndecodableListsActiveIdStaysUnlessAgentPanesAreSeeded) {
    ASSERT_TRUE(tmuxServer.startSession("work", scratch.path, 2));
    const auto restart = [&] {
        (void)settings->setBytes(quib::TargetStore::defaultsKey, bytesOf("not json\n"));
        (void)settings->setString(quib::TargetStore::activeKey, "OLD");
        return &make();
    };
    auto* targets = restart();
    EXPECT_EQ(names(targets->targets().value()), std::vector<std::string>{"Focused"});
    EXPECT_EQ(targets->activeTargetID().value(), "OLD");

    ASSERT_TRUE(tmuxServer.runAs("work:0.1", "claude"));
    targets = restart();
    EXPECT_EQ(names(targets->targets().value()), (std::vector<std::string>{"claude (work)", "Focused"}));
    EXPECT_EQ(targets->activeTargetID().value(), targets->targets().value().front().id);
}

// A list that holds no tmux target gets the agent panes once, in front, the active target kept.
TEST_F(TargetStore, AnExistingListWithoutPanesGetsAgentPanesInFrontOnce) {
    ASSERT_TRUE(tmuxServer.startSession("work", scratch.path, 2));
    ASSERT_TRUE(tmuxServer.runAs("work:0.1", "codex"));
    save({target("A"), target("B")});
    (void)settings->setString(quib::TargetStore::activeKey, "B");
    auto& targets = make();
    const auto list = targets.targets().value();
    EXPECT_EQ(names(list), (std::vector<std::string>{"codex (work)", "Target A", "Target B"}));
    EXPECT_EQ(list[0].symbol, "chevron.left.forwardslash.chevron.right");
    EXPECT_EQ(targets.activeTargetID().value(), "B");
    EXPECT_EQ(settings->boolean(quib::TargetStore::seededPanesKey), true);
    EXPECT_TRUE(seeds->limits.empty()) << "not a first run";

    onMain([&] { targets.remove({list[0].id}); });
    EXPECT_EQ(names(make().targets().value()), (std::vector<std::string>{"Target A", "Target B"}));
}

TEST_F(TargetStore, SeedsAtMostTwelveAgentPanesNamedByTheirSessionOrElseTheirAddress) {
    const auto seeded = quib::TargetStore::seedPaneTargets(
        {listed("%1", "work:0.0", "claude"), listed("%2", "work:1.0", "claude"), listed("%3", "work:1.1", "zsh"),
         listed("%4", "play:0.0", "codex"), listed("%5", "tools:0.0", "vim"), listed("%6", "play:1.0", "Claude")});
    EXPECT_EQ(names(seeded),
              (std::vector<std::string>{"claude (work:0.0)", "claude (work:1.0)", "codex (play)", "Claude (play)"}));

    std::vector<Tmux::Pane> many;
    for (int n = 0; n < 13; ++n)
        many.push_back(listed("%" + std::to_string(n), "s" + std::to_string(n) + ":0.0", "claude"));
    const auto twelve = quib::TargetStore::seedPaneTargets(many);
    ASSERT_EQ(twelve.size(), 12u);
    EXPECT_EQ(twelve.back().tmuxTarget, "%11");
    EXPECT_EQ(twelve.back().name, "claude (s11)");

    EXPECT_EQ(quib::TargetStore::paneSymbol("claude"), "sparkle");
    EXPECT_EQ(quib::TargetStore::paneSymbol("codex"), "chevron.left.forwardslash.chevron.right");
    EXPECT_EQ(quib::TargetStore::paneSymbol("bash"), "terminal");
    EXPECT_EQ(quib::TargetStore::paneSymbol(""), "terminal");
}

// Panes a saved target holds are not offered; two offered panes of one program in one session
// share their name.
TEST_F(TargetStore, OffersTheAgentPanesNoSavedTargetHolds) {
    auto& targets = makeWith({pane("P", "Agent", "%1")});
    onMain([&] {
        targets.applyProvisional(
            {listed("%1", "work:0.0", "claude"), listed("%2", "work:0.1", "claude"), listed("%3", "work:0.2", "bash"),
             listed("%4", "work:1.0", "claude"), listed("%5", "play:0.0", "codex")},
            {});
    });
    const std::vector<QuibTarget> expected{
        offeredPane("%2", "claude (work)", "sparkle"), offeredPane("%4", "claude (work)", "sparkle"),
        offeredPane("%5", "codex (play)", "chevron.left.forwardslash.chevron.right")};
    EXPECT_EQ(targets.provisionalTargets().value(), expected);
    EXPECT_EQ(targets.snapshot().provisional, expected);
    EXPECT_EQ(ids(targets.targets().value()), std::vector<std::string>{"P"});
    EXPECT_EQ(storedList(), targets.targets().value()) << "provisional targets are never stored";
}

TEST_F(TargetStore, RunningAppsAreOfferedOnlyWhenTheyShowInMenusAndAreNotTheHost) {
    installApp("quib-host", "Name=Quib\n");
    installApp("org.example.Menuless", "Name=Menuless\nNoDisplay=true\n");
    installApp("org.example.Nameless");
    installApp("org.example.Editor", "Name=Editor\n");
    desktop->start("quib-host");
    (void)desktop->startUnlisted();
    desktop->start("org.example.Menuless");
    desktop->start("org.example.Missing");
    desktop->start("org.example.Nameless");
    desktop->start("org.example.Editor");
    EXPECT_EQ(quib::TargetStore::runningAppCandidates(*desktop, *apps),
              (std::vector<quib::TargetStore::AppCandidate>{{"Editor", "org.example.Editor", nullptr}}));
}

// The well-known app comes first under its own name, symbol and profile; apps saved in any
// letter case are left out.
TEST_F(TargetStore, OffersAWellKnownRunningAppFirstThenOthersUpToThree) {
    installApp("org.gnome.Terminal", "Name=GNOME Terminal\n");
    for (const char* id : {"org.example.Editor", "org.example.Mail", "org.example.Viewer", "org.example.Player"})
        installApp(id, "Name=" + std::string(id).substr(12) + "\n");
    for (const char* id :
         {"org.example.Editor", "org.example.Mail", "org.example.Viewer", "org.gnome.Terminal", "org.example.Player"})
        desktop->start(id);
    auto& targets = makeWith({app("S", "Mail", "ORG.EXAMPLE.MAIL")});
    onMain([&] { targets.refreshProvisional(); });
    settle();
    EXPECT_EQ(targets.provisionalTargets().value(),
              (std::vector<QuibTarget>{offeredApp("org.gnome.Terminal", "Terminal", "terminal", "terminal"),
                                       offeredApp("org.example.Editor", "Editor", "macwindow"),
                                       offeredApp("org.example.Viewer", "Viewer", "macwindow")}));
}

// The same panes and apps wake nobody; a promoted pane is saved under its offered id and is not
// offered again.
TEST_F(TargetStore, ARefreshPublishesOnlyChangesAndAPromotedPaneIsNotOfferedAgain) {
    ASSERT_TRUE(tmuxServer.startSession("work", scratch.path, 2));
    ASSERT_TRUE(tmuxServer.runAs("work:0.0", "claude"));
    installApp("org.example.Editor", "Name=Editor\n");
    desktop->start("org.example.Editor");
    auto& targets = makeWith({target("A")});
    const std::string agent = "pane:" + tmuxServer.idOf("work:0.0");
    ASSERT_EQ(ids(targets.targets().value()), (std::vector<std::string>{targets.targets().value()[0].id, "A"}));
    onMain([&] { targets.remove({targets.targets().value()[0].id}); });  // the seeded pane

    int published = 0;
    auto subscription =
        targets.provisionalTargets().subscribe([&](const auto&) { ++published; }, {.skipCurrent = true});
    const auto refresh = [&] {
        onMain([&] { targets.refreshProvisional(); });
        settle();
    };
    refresh();
    refresh();
    EXPECT_EQ(published, 1);
    EXPECT_EQ(ids(targets.provisionalTargets().value()), (std::vector<std::string>{agent, "app:org.example.editor"}));

    ASSERT_TRUE(targets.safeTarget(agent));
    main->runPending();
    refresh();
    EXPECT_EQ(published, 2);
    EXPECT_EQ(ids(targets.provisionalTargets().value()), std::vector<std::string>{"app:org.example.editor"});
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", agent}));
    EXPECT_FALSE(targets.target(agent)->isProvisional);
}

}  // namespace target_store_tests
