#include <atomic>
#include <thread>

#include "Runtime/AtomicFile.hpp"
#include "TargetStoreFixture.hpp"

namespace target_store_tests {

TEST_F(TargetStore, LoadsTheSavedListAndTakesTheStoredActiveIdUnchecked) {
    save({target("A"), target("B", Kind::tmux)});
    (void)settings->setString(quib::TargetStore::activeKey, "GONE");
    auto& targets = make();
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ids(targets.snapshot().saved), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(targets.activeTargetID().value(), "GONE");
    EXPECT_EQ(targets.activeSnapshot(), "GONE");
    // A stale active id finds nothing, and nothing clears it.
    EXPECT_FALSE(targets.safeActiveTarget());
    EXPECT_EQ(stored(), *QuibCoder::line(std::vector<QuibTarget>{target("A"), target("B", Kind::tmux)}));
}

TEST_F(TargetStore, WithoutAStoredActiveIdTheFirstTargetIsActiveButNotStoredAsSuch) {
    auto& targets = makeWith({target("A"), target("B")});
    EXPECT_EQ(targets.activeTargetID().value(), "A");
    EXPECT_EQ(targets.safeActiveTarget(), target("A"));
    EXPECT_FALSE(settings->contains(quib::TargetStore::activeKey));
}

// The list counts as a first run when nothing usable was stored; panes are also seeded when no
// saved target is a tmux one and seeding was never evaluated.
TEST_F(TargetStore, DecidesOnStartUpSeedingFromWhatWasStored) {
    using Seeding = quib::TargetStore::Seeding;
    EXPECT_EQ(make().startupSeeding(), (Seeding{true, true}));
    EXPECT_EQ(names(storedList()), std::vector<std::string>{"Focused"});

    save({});
    EXPECT_EQ(make().startupSeeding(), (Seeding{true, true}));

    (void)settings->setString(quib::TargetStore::defaultsKey, "[]");  // not a bytes value: nothing stored
    EXPECT_EQ(make().startupSeeding(), (Seeding{true, true}));
    EXPECT_EQ(names(storedList()), std::vector<std::string>{"Focused"});

    (void)settings->setBool(quib::TargetStore::seededPanesKey, true);
    EXPECT_EQ(makeWith({target("A")}).startupSeeding(), (Seeding{false, false}));
    EXPECT_EQ(make().startupSeeding(), (Seeding{false, false}));  // reloads what was stored back

    (void)settings->setBool(quib::TargetStore::seededPanesKey, false);
    EXPECT_EQ(makeWith({target("A")}).startupSeeding(), (Seeding{false, true}));
    EXPECT_EQ(makeWith({target("A"), target("T", Kind::tmux)}).startupSeeding(), (Seeding{false, false}));
}

TEST_F(TargetStore, RemovingTheActiveTargetHandsOverToTheFirstRemainingOne) {
    auto& targets = makeWith({target("A"), target("B"), target("C")});
    onMain([&] { targets.setActive("B"); });
    EXPECT_EQ(settings->string(quib::TargetStore::activeKey), "B");

    onMain([&] { targets.remove({"B", "NOPE"}); });
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(targets.activeTargetID().value(), "A");
    EXPECT_EQ(settings->string(quib::TargetStore::activeKey), "A");
    EXPECT_EQ(stored(), *QuibCoder::line(std::vector<QuibTarget>{target("A"), target("C")}));

    onMain([&] { targets.remove({"C"}); });  // not the active one
    EXPECT_EQ(targets.activeTargetID().value(), "A");

    onMain([&] { targets.remove({"A"}); });
    EXPECT_EQ(targets.activeTargetID().value(), std::nullopt);
    EXPECT_EQ(targets.activeSnapshot(), std::nullopt);
    EXPECT_FALSE(settings->contains(quib::TargetStore::activeKey));
    EXPECT_EQ(stored(), "[]\n");
}

TEST_F(TargetStore, SetOrderPutsTheNamedTargetsFirstAndRefusesARepeatedId) {
    auto& targets = makeWith({target("A"), target("B"), target("C"), target("D")});
    onMain([&] { targets.setOrder({"C", "NOPE", "A"}); });
    const std::vector<std::string> reordered{"C", "A", "B", "D"};
    EXPECT_EQ(ids(targets.targets().value()), reordered);
    EXPECT_EQ(ids(targets.snapshot().saved), reordered);
    EXPECT_EQ(stored(), *QuibCoder::line(std::vector<QuibTarget>{target("C"), target("A"), target("B"), target("D")}));

    onMain([&] { targets.setOrder({"D", "D"}); });
    EXPECT_EQ(ids(targets.targets().value()), reordered);
}

TEST_F(TargetStore, PinsAWindowAndClearingThePinAlwaysClearsItsTitle) {
    auto& targets = makeWith({target("A"), target("B")});
    onMain([&] { targets.setPinnedWindow(0x2a00007, "Inbox", "B"); });
    EXPECT_EQ(targets.target("B")->pinnedWindowID, 0x2a00007u);
    EXPECT_EQ(targets.target("B")->pinnedWindowTitle, "Inbox");
    EXPECT_EQ(targets.safeTarget("B")->pinnedWindowTitle, "Inbox");

    onMain([&] { targets.setPinnedWindow(std::nullopt, "Still passed", "B"); });
    EXPECT_EQ(targets.target("B")->pinnedWindowID, std::nullopt);
    EXPECT_EQ(targets.target("B")->pinnedWindowTitle, std::nullopt);

    const auto before = stored();
    onMain([&] { targets.setPinnedWindow(7, "Other", "NOPE"); });
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(targets.target(std::nullopt), std::nullopt);
}

TEST_F(TargetStore, UpsertReplacesInPlaceOrAppends) {
    auto& targets = makeWith({target("A"), target("B")});
    QuibTarget renamed = target("A");
    renamed.name = "  untrimmed  ";
    onMain([&] {
        targets.upsert(renamed);
        targets.upsert(target("C"));
    });
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(targets.target("A")->name, "  untrimmed  ");
    EXPECT_EQ(stored(), *QuibCoder::line(std::vector<QuibTarget>{renamed, target("B"), target("C")}));
}

// A phone's first use of a provisional target hands it out as saved at once and saves it once
// the main executor has run.
TEST_F(TargetStore, ProvisionalTargetsAreAdoptedUnderTheSameIdOnFirstUse) {
    auto& targets = makeWith({target("A")});
    onMain([&] { targets.publishProvisional({provisional("pane:%3"), provisional("pane:%4")}); });
    EXPECT_EQ(ids(targets.snapshot().provisional), (std::vector<std::string>{"pane:%3", "pane:%4"}));

    const auto found = targets.safeTarget("pane:%3");
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->isProvisional);
    EXPECT_EQ(found->name, "Target pane:%3");
    EXPECT_EQ(ids(targets.targets().value()), std::vector<std::string>{"A"});  // not yet

    main->runPending();
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", "pane:%3"}));
    EXPECT_FALSE(targets.target("pane:%3")->isProvisional);
    EXPECT_EQ(ids(targets.provisionalTargets().value()), std::vector<std::string>{"pane:%4"});
    EXPECT_EQ(ids(targets.snapshot().provisional), std::vector<std::string>{"pane:%4"});
    EXPECT_EQ(targets.safeTarget("pane:%3"), *targets.target("pane:%3"));
    EXPECT_EQ(targets.activeTargetID().value(), "A");
    EXPECT_EQ(stored(), *QuibCoder::line(targets.targets().value()));

    // Withdrawn meanwhile, or never offered: nothing changes.
    onMain([&] {
        EXPECT_EQ(targets.promote("pane:%9"), std::nullopt);
        EXPECT_EQ(targets.promote("A"), target("A"));
    });
    EXPECT_EQ(targets.targets().value().size(), 2u);
    EXPECT_EQ(targets.safeTarget("NOPE"), std::nullopt);
}

TEST_F(TargetStore, AProvisionalListEqualToTheCurrentOneIsNotPublished) {
    auto& targets = make();
    int published = 0;
    auto subscription =
        targets.provisionalTargets().subscribe([&](const auto&) { ++published; }, {.skipCurrent = true});
    onMain([&] {
        targets.publishProvisional({provisional("pane:%3")});
        targets.publishProvisional({provisional("pane:%3")});
    });
    EXPECT_EQ(published, 1);
}

TEST_F(TargetStore, UndecodableSavedBytesAreCopiedBesideTheLogBeforeTheListStartsAfresh) {
    (void)settings->setBytes(quib::TargetStore::defaultsKey, bytesOf("not json\n"));
    auto& targets = make();
    const fs::path backup = scratch.path / "Quib" / "targets-2027-01-15T08-00-00Z.json";
    EXPECT_EQ(quib::testing::fileContents(backup), "not json\n");
    // Started afresh: the undecodable bytes gave way to a first run's list.
    EXPECT_EQ(names(targets.targets().value()), std::vector<std::string>{"Focused"});
    EXPECT_EQ(storedList(), targets.targets().value());
    EXPECT_FALSE(settings->contains("quib.targets.v1.unreadable"));
    EXPECT_EQ(targets.startupSeeding().firstRun, true);
    EXPECT_TRUE(log->contains("saved targets did not decode (The given data was not valid JSON.); raw JSON copied to " +
                              backup.string() + " before reseeding"));
}

// The data folder is a regular file, so no backup can be written: the bytes stay in the settings.
TEST_F(TargetStore, UndecodableBytesThatCannotBeBackedUpAreKeptInASideSetting) {
    const Bytes list = bytesOf("{\"not\": \"a list\"}\n");
    (void)settings->setBytes(quib::TargetStore::defaultsKey, list);
    std::ofstream(scratch.path / "data") << "a file, not a folder";
    auto& targets = make(scratch.path / "data");
    EXPECT_EQ(names(targets.targets().value()), std::vector<std::string>{"Focused"});
    EXPECT_EQ(settings->bytes("quib.targets.v1.unreadable"), list);
    EXPECT_EQ(storedList(), targets.targets().value());
    const auto lines = log->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("raw JSON copied to the setting quib.targets.v1.unreadable before reseeding"),
              std::string::npos)
        << lines[0];
}

// Catches crashes and torn values under the sanitizers while the list changes on the main
// executor; it says nothing about data races, which these sanitizers do not see.
TEST_F(TargetStore, ReadersOnOtherThreadsSeeWholeTargetsWhileTheListChanges) {
    auto& targets = makeWith({target("A"), target("B")});
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int n = 0; n < 4; ++n) {
        readers.emplace_back([&] {
            while (!done) {
                for (const char* id : {"A", "B", "C", "pane:%7"}) {
                    auto found = targets.safeTarget(id);
                    if (found &&
                        (found->id != id || found->name != "Target " + std::string(id) || found->isProvisional))
                        ++torn;
                }
                if (auto active = targets.safeActiveTarget(); active && active->name != "Target " + active->id) ++torn;
                (void)targets.snapshot();
            }
        });
    }
    for (int round = 0; round < 300; ++round) {
        onMain([&] {
            targets.upsert(target("C"));
            targets.setOrder({"C", "B"});
            targets.publishProvisional({provisional("pane:%7")});
            targets.setActive(round % 2 ? "B" : "C");
            targets.remove({"C"});
            targets.remove({"pane:%7"});
        });
    }
    done = true;
    for (auto& reader : readers) reader.join();
    main->runPending();
    EXPECT_EQ(torn, 0);
}

using Outcome = quib::TargetStore::AddOutcome;

// Each attempt passes every check before the one it fails.
TEST_F(TargetStore, RefusesWithTheFirstCheckThatFailsAndChangesNothing) {
    installApp("org.example.editor");
    auto& targets = makeWith({app("A", "Editor", "org.example.editor"), pane("P", "Agent", "%1")});
    const auto before = stored();
    onMain([&] {
        EXPECT_EQ(targets.update(pane("GONE", "Other", "%5")), Outcome::refused("That target no longer exists"));
        EXPECT_EQ(targets.update(app("P", "Agent", "org.example.editor")),
                  Outcome::refused("Change the kind on the computer"));
        EXPECT_EQ(targets.add(pane("N", " \n\t", "%2")), Outcome::refused("A target needs a name"));
        EXPECT_EQ(targets.add(app("N", "Mail", "")), Outcome::refused("An app target needs an application ID"));
        EXPECT_EQ(targets.add(app("N", "Mail", std::nullopt)),
                  Outcome::refused("An app target needs an application ID"));
        EXPECT_EQ(targets.add(app("N", "Mail", "no.such.app")), Outcome::refused("no.such.app is not installed"));
        EXPECT_EQ(targets.add(pane("N", "Shell", "")), Outcome::refused("A tmux target needs a pane"));
        EXPECT_EQ(targets.add(pane("N", "Shell", "work:0.5")), Outcome::refused("No tmux pane matches work:0.5"));
        EXPECT_EQ(targets.add(pane("N", "Shell", "%1")), Outcome::refused("Agent already points at %1"));
        EXPECT_EQ(targets.add(named("N", "Desk", Kind::frontmost)),
                  Outcome::refused("A frontmost target has to be added on the computer"));
        EXPECT_EQ(targets.add(pane("N", " AGENT ", "%2")), Outcome::refused("There is already a target called AGENT"));
    });
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"A", "P"}));
    EXPECT_EQ(stored(), before);
}

TEST_F(TargetStore, AddsAndEditsTargetsThatPassTheChecks) {
    installApp("org.example.editor");
    installApp("firefox-esr");
    auto& targets = makeWith({named("F", "Focused", Kind::frontmost), pane("P", "Agent", "%9")});
    onMain([&] { targets.reconcile({}, false, false, false); });
    ASSERT_EQ(targets.unresolvedTargetIDs().value(), std::set<std::string>{"P"});

    onMain([&] {
        // Trimmed, and found by a bundle identifier in another case.
        EXPECT_EQ(targets.add(app("N", "\n Editor  ", "ORG.EXAMPLE.EDITOR")),
                  Outcome::added(app("N", "Editor", "ORG.EXAMPLE.EDITOR")));
        // An edit keeping its own name; the frontmost target can be renamed, but not to a name in use.
        EXPECT_EQ(targets.update(pane("P", "Agent", "%9")), Outcome::added(pane("P", "Agent", "%9")));
        EXPECT_EQ(targets.update(named("F", "Desk", Kind::frontmost)),
                  Outcome::added(named("F", "Desk", Kind::frontmost)));
        EXPECT_EQ(targets.update(named("F", "editor", Kind::frontmost)),
                  Outcome::refused("There is already a target called editor"));
        // The caller's identifier is kept, even one already in use.
        EXPECT_EQ(targets.add(pane("N", "Twin", "%8")), Outcome::added(pane("N", "Twin", "%8")));
        // A desktop ID that the phones' own guess does not know stores its product's profile.
        EXPECT_EQ(targets.add(app("W", "Web", "firefox-esr")).target()->profileID, "browser");
    });
    EXPECT_TRUE(targets.unresolvedTargetIDs().value().empty());
    EXPECT_TRUE(targets.unresolvedSnapshot().empty());
    QuibTarget web = app("W", "Web", "firefox-esr");
    web.profileID = "browser";
    const std::vector<QuibTarget> expected{named("F", "Desk", Kind::frontmost), pane("P", "Agent", "%9"),
                                           app("N", "Editor", "ORG.EXAMPLE.EDITOR"), pane("N", "Twin", "%8"), web};
    EXPECT_EQ(targets.targets().value(), expected);
    EXPECT_EQ(stored(), *QuibCoder::line(expected));
}

TEST_F(TargetStore, ReconcilingRewritesAddressesToIdentifiersAndMarksTheRest) {
    auto& targets = makeWith({pane("A", "a", "work:0.1"), pane("B", "b", "%7"), pane("C", "c", "%3"),
                              pane("D", "d", "work:9.9"), pane("E", "e", std::nullopt), target("X")});
    const std::vector<quib::Tmux::Pane> panes{
        {"%3", "work:0.0", "zsh", "/"}, {"%4", "work:0.1", "vim", "/"}, {"%5", "work:0.1", "claude", "/"}};
    (void)settings->remove(quib::TargetStore::seededPanesKey);  // set by start-up seeding
    onMain([&] { targets.reconcile(panes, false, false, false); });
    EXPECT_EQ(targets.target("A")->tmuxTarget, "%5");  // the later pane at an address wins
    EXPECT_EQ(targets.target("B")->tmuxTarget, "%7");
    EXPECT_EQ(targets.target("D")->tmuxTarget, "work:9.9");
    EXPECT_EQ(targets.unresolvedTargetIDs().value(), (std::set<std::string>{"B", "D", "E"}));
    EXPECT_EQ(targets.unresolvedSnapshot(), (std::set<std::string>{"B", "D", "E"}));
    EXPECT_EQ(stored(), *QuibCoder::line(targets.targets().value()));
    EXPECT_FALSE(settings->contains(quib::TargetStore::seededPanesKey));

    // Picking a live pane again resolves the stale target, and the next listing agrees.
    onMain([&] { targets.upsert(pane("B", "b", "%4")); });
    EXPECT_EQ(targets.unresolvedTargetIDs().value(), (std::set<std::string>{"D", "E"}));
    onMain([&] { targets.reconcile(panes, false, false, false); });
    EXPECT_EQ(targets.unresolvedTargetIDs().value(), (std::set<std::string>{"D", "E"}));

    onMain([&] { targets.reconcile({}, false, false, true); });
    EXPECT_EQ(targets.unresolvedTargetIDs().value(), (std::set<std::string>{"A", "B", "C", "D", "E"}));
    EXPECT_EQ(settings->boolean(quib::TargetStore::seededPanesKey), true);
}

// Listing runs on the store's tmux queue; its result is applied on the main executor.
TEST_F(TargetStore, RefreshingListsPanesAndReconcilesUnlessTmuxIsMissing) {
    ASSERT_TRUE(tmuxServer.startSession("work", scratch.path, 2));
    auto& targets = makeWith({pane("A", "a", "work:0.1"), pane("B", "b", "%999")});
    onMain([&] { targets.refreshTmux(); });
    ASSERT_TRUE(targets.tmuxQueue().sync([] {}));
    main->runPending();
    EXPECT_EQ(targets.target("A")->tmuxTarget, tmuxServer.idOf("work:0.1"));
    EXPECT_EQ(targets.unresolvedTargetIDs().value(), std::set<std::string>{"B"});

    tmux = quib::Tmux({"/nonexistent/tmux"});
    auto& without = makeWith({pane("A", "a", "work:0.1")});
    onMain([&] { without.refreshTmux(); });
    ASSERT_TRUE(without.tmuxQueue().sync([] {}));
    main->runPending();
    EXPECT_EQ(without.target("A")->tmuxTarget, "work:0.1");
    EXPECT_TRUE(without.unresolvedTargetIDs().value().empty());
}

}  // namespace target_store_tests

namespace target_store_tests {

// Nine targets with names of a megabyte once made every list sent to phones too large to send:
// every text, the count and the stored list have limits, met by adding, editing and upserting
// alike, and a batch of additions is checked against the targets added before it.
TEST_F(TargetStore, TextsCountAndListSizeAreLimitedWhoeverChangesTheList) {
    auto& targets = makeWith({pane("P", "Agent", "%1")});
    const std::string longName(quib::TargetStore::longestName + 1, 'n');
    const std::string longText(quib::TargetStore::longestField + 1, 'x');
    QuibTarget longSymbol = pane("S", "Shell", "%2");
    longSymbol.symbol = longText;
    onMain([&] {
        EXPECT_EQ(targets.add(pane("N", longName, "%2")), Outcome::refused("That name is longer than 200 characters"));
        // Two hundred characters of two bytes each are within the limit.
        std::string accented;
        for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
        EXPECT_TRUE(targets.add(pane("E", accented, "%3")).target());
        EXPECT_EQ(targets.add(longSymbol), Outcome::refused("That target's symbol is longer than 4096 bytes"));
        EXPECT_EQ(targets.update(pane("P", longName, "%1")),
                  Outcome::refused("That name is longer than 200 characters"));
        EXPECT_EQ(targets.upsert(pane("Q", "Other", "%4" + longText)), "That target's pane is longer than 4096 bytes");
    });
    EXPECT_EQ(ids(targets.targets().value()), (std::vector<std::string>{"P", "E"}));

    std::vector<QuibTarget> batch;
    for (std::size_t n = 0; n < quib::TargetStore::mostTargets; ++n)
        batch.push_back(pane("B" + std::to_string(n), "Pane " + std::to_string(n), "%" + std::to_string(100 + n)));
    batch.push_back(pane("DUP", "pane 7", "%99"));
    std::vector<Outcome> outcomes;
    onMain([&] { outcomes = targets.addAll(batch); });
    ASSERT_EQ(outcomes.size(), batch.size());
    EXPECT_TRUE(outcomes[497].target());
    EXPECT_EQ(outcomes[498], Outcome::refused("There are already 500 targets \u2014 remove some first"));
    EXPECT_EQ(outcomes.back(), Outcome::refused("There is already a target called pane 7"));
    EXPECT_EQ(targets.targets().value().size(), 500u);
    EXPECT_EQ(storedList().size(), 500u);
    onMain([&] { EXPECT_EQ(targets.upsert(target("Z")), "There are already 500 targets \u2014 remove some first"); });
}

// A batch once wrote the whole list once per target, taking minutes for thousands; and a list
// longer than the JSON reader's usual limits was refused at the next start and set aside.
TEST_F(TargetStore, ABatchIsStoredOnceAndALongStoredListIsReadBackWhole) {
    const fs::path file = scratch.path / "defaults.json";
    int writes = 0;
    const auto counting = [&] {
        return Settings::atPath(file, [&](const fs::path& at, std::string_view text) {
            ++writes;
            return writeFileAtomically(at, text);
        });
    };
    std::vector<QuibTarget> old;
    for (int n = 0; n < 13000; ++n)
        old.push_back(pane("O" + std::to_string(n), "Old " + std::to_string(n), "%" + std::to_string(n)));
    settings = counting();
    save(old);
    settings = counting();
    auto& crowded = make();
    ASSERT_EQ(crowded.targets().value().size(), 13000u);
    writes = 0;
    onMain([&] {
        EXPECT_EQ(crowded.addAll({pane("A", "a", "%90000")}).front(),
                  Outcome::refused("There are already 500 targets \u2014 remove some first"));
    });
    EXPECT_EQ(writes, 0);

    std::set<std::string> allButOne;
    for (std::size_t n = 1; n < old.size(); ++n) allButOne.insert(old[n].id);
    onMain([&] { crowded.remove(allButOne); });
    std::vector<QuibTarget> batch;
    for (int n = 0; n < 300; ++n)
        batch.push_back(pane("B" + std::to_string(n), "New " + std::to_string(n), "%" + std::to_string(20000 + n)));
    writes = 0;
    onMain([&] { (void)crowded.addAll(batch); });
    EXPECT_EQ(writes, 1);
    settings = Settings::atPath(file);
    EXPECT_EQ(make().targets().value().size(), 301u);
}

// With the disk full the change holds in memory, the caller is told, and the list is written
// again later until it is saved.
TEST_F(TargetStore, AListThatCannotBeSavedIsReportedAndWrittenAgainLater) {
    const fs::path file = scratch.path / "defaults.json";
    bool full = false;
    settings = Settings::atPath(file, [&](const fs::path& at, std::string_view text) -> Result<void> {
        if (full) return fail("No space left on device");
        return writeFileAtomically(at, text);
    });
    const auto onDisk = [&] {
        const auto bytes = Settings::atPath(file)->bytes(quib::TargetStore::defaultsKey);
        return bytes ? ids(QuibCoder::decode<std::vector<QuibTarget>>(textOf(*bytes)).value())
                     : std::vector<std::string>{};
    };
    auto& targets = makeWith({pane("P", "Agent", "%1")});
    full = true;
    onMain([&] { EXPECT_TRUE(targets.add(pane("N", "New", "%2")).target()); });
    EXPECT_EQ(targets.saveFailure(), "No space left on device");
    EXPECT_TRUE(log->contains("The saved targets could not be saved (No space left on device)"));
    EXPECT_EQ(onDisk(), std::vector<std::string>{"P"});
    clock->advance(quib::TargetStore::retryInterval);
    main->runPending();
    EXPECT_TRUE(targets.saveFailure());
    full = false;
    clock->advance(quib::TargetStore::retryInterval);
    main->runPending();
    EXPECT_EQ(targets.saveFailure(), std::nullopt);
    EXPECT_EQ(onDisk(), (std::vector<std::string>{"P", "N"}));
}

}  // namespace target_store_tests
