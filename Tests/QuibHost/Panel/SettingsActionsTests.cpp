#include <gtest/gtest.h>

#include <regex>

#include "QuibHost/Panel/SettingsActions.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/SettingsHost.hpp"

namespace quib {
namespace {

using testing::SettingsHost;

QuibTarget app(const std::string& id) {
    QuibTarget target = SettingsActions::newTarget(id);
    target.name = "Target " + id;
    return target;
}

QuibTarget pane(const std::string& id, const std::string& paneID) {
    QuibTarget target;
    target.id = id;
    target.name = "Pane " + id;
    target.kind = QuibTarget::Kind::tmux;
    target.tmuxTarget = paneID;
    return target;
}

// "plus" twice: two targets named alike under two fresh upper-case UUIDs, appended, stored with
// exactly the new target's fields, the second one selected, neither made active.
TEST(SettingsActions, PlusAppendsANewTargetThatIsStoredButNotMadeActive) {
    SettingsHost host({app("A")});
    host.onMain([&] { host.store->setActive("A"); });
    std::optional<std::string> first;
    std::optional<std::string> second;
    host.onMain([&] {
        first = host.actions->add();
        second = host.actions->add();
    });
    ASSERT_TRUE(first && second);
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(*first, uuid)) << *first;
    EXPECT_TRUE(std::regex_match(*second, uuid)) << *second;
    EXPECT_NE(*first, *second);
    EXPECT_EQ(host.ids(), (std::vector<std::string>{"A", *first, *second}));
    EXPECT_EQ(host.store->activeTargetID().value(), "A");

    const Json stored = host.stored();
    ASSERT_TRUE(stored.is_array() && stored.size() == 3) << stored.dump();
    EXPECT_EQ(stored[2], (Json{{"id", *second},
                               {"name", "New target"},
                               {"kind", "app"},
                               {"submitOnSend", true},
                               {"allowAutoSubmit", true},
                               {"symbol", "app.dashed"},
                               {"isProvisional", false}}));

    const auto model = host.actions->model({*second});
    ASSERT_TRUE(model.selectedTarget);
    EXPECT_EQ(model.selectedTarget->id, *second);
    EXPECT_EQ(model.rows[1].name, "New target");
}

// A list at its cap takes no more: "plus" is disabled and, called anyway, changes nothing.
TEST(SettingsActions, PlusIsDisabledAtTheStoresCap) {
    std::vector<QuibTarget> full;
    for (std::size_t i = 0; i < TargetStore::mostTargets; ++i) full.push_back(app(std::to_string(i)));
    SettingsHost host(full);
    EXPECT_FALSE(host.actions->model({}).canAdd);
    std::optional<std::string> added;
    host.onMain([&] { added = host.actions->add(); });
    EXPECT_FALSE(added);
    EXPECT_EQ(host.store->targets().value().size(), TargetStore::mostTargets);

    host.onMain([&] { host.actions->remove({"0"}); });
    EXPECT_TRUE(host.actions->model({}).canAdd);
}

// "minus" with several rows is one call; a drag is one change of the published list, then one
// save.
TEST(SettingsActions, MinusAndADragEachMakeOneChange) {
    auto main = std::make_shared<MainLoop>();
    auto store = std::make_shared<testing::FakeTargetStore>(main);
    SettingsActions actions({.store = store});
    store->targets().set({app("A"), app("B"), app("C"), app("D")});
    main->runPending();
    int changes = 0;
    auto watching = store->targets().subscribe([&](const auto&) { ++changes; }, {.skipCurrent = true});

    main->post([&] {
        actions.remove({"A", "C"});
        actions.move({0, 2}, 4);
    });
    main->runPending();
    EXPECT_EQ(store->recorded().removed, (std::vector<std::set<std::string>>{{"A", "C"}}));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(store->recorded().persisted, 1u);
    std::vector<std::string> order;
    for (const auto& target : store->targets().value()) order.push_back(target.id);
    EXPECT_EQ(order, (std::vector<std::string>{"B", "D", "A", "C"}));
}

TEST(SettingsActions, ApplyMoveMovesTheSourcesBeforeTheDestination) {
    using List = std::vector<std::string>;
    const List abcd{"A", "B", "C", "D"};
    const auto move = [&](std::set<std::size_t> sources, std::size_t destination) {
        return SettingsActions::applyMove(abcd, sources, destination);
    };
    EXPECT_EQ(move({0}, 3), (List{"B", "C", "A", "D"}));
    EXPECT_EQ(move({3}, 0), (List{"D", "A", "B", "C"}));
    EXPECT_EQ(move({1, 2}, 4), (List{"A", "D", "B", "C"}));
    EXPECT_EQ(move({0, 2}, 2), (List{"B", "A", "C", "D"}));
    EXPECT_EQ(move({}, 1), abcd);
    EXPECT_EQ(move({1, 9}, 0), (List{"B", "A", "C", "D"}));
    EXPECT_EQ(move({0}, 99), (List{"B", "C", "D", "A"}));
}

// A drag is saved at once: a window opened afterwards, and a store loaded afresh, see the new
// order.
TEST(SettingsActions, ADragChangesTheSavedOrderAtOnce) {
    SettingsHost host({app("A"), app("B"), app("C"), app("D")});
    host.onMain([&] { host.actions->move({0}, 3); });
    EXPECT_EQ(host.ids(), (std::vector<std::string>{"B", "C", "A", "D"}));
    std::vector<std::string> stored;
    for (const auto& target : host.stored()) stored.push_back(target["id"].get<std::string>());
    EXPECT_EQ(stored, host.ids());
    const auto reopened = host.actions->model({});
    EXPECT_EQ(reopened.rows[0].id, "B");
    EXPECT_TRUE(reopened.rows[0].selected == false && !reopened.selectedTarget);
}

// Each showing lists the panes again; a tmux target whose pane is gone shows the warning until
// an edit clears the mark, and the next listing sets it again.
TEST(SettingsActions, EachShowingListsThePanesAndMarksGonePanes) {
    SettingsHost host({app("A"), pane("P", "%9")});
    const auto warned = [&] { return host.actions->model({}).rows[1].unresolved; };
    auto binding = host.actions->binding(pane("P", "%9"));
    for (int showing = 1; showing <= 2; ++showing) {
        SCOPED_TRACE(showing);
        host.onMain([&] {
            auto edited = binding.value();
            edited.name = "Renamed " + std::to_string(showing);
            EXPECT_EQ(binding.set(edited), std::nullopt);
        });
        EXPECT_FALSE(warned());
        host.onMain([&] { host.actions->appear(); });
        host.settle();
        EXPECT_EQ(*host.listings, showing);
        EXPECT_TRUE(warned());
        EXPECT_FALSE(host.actions->model({}).rows[0].unresolved);
    }
}

// The editor edits what the store holds now, a phone's change included; once the target is
// removed, a write through its binding is dropped (and logged once) instead of bringing it back.
TEST(TargetBinding, EditsTheStoresVersionAndNeverBringsBackARemovedTarget) {
    SettingsHost host({app("A"), app("B")});
    auto binding = host.actions->binding(app("A"));
    host.onMain([&] {
        auto fromPhone = app("A");
        fromPhone.name = "Renamed by a phone";
        (void)host.store->upsert(fromPhone);
        auto edited = binding.value();
        edited.symbol = "terminal";
        edited.id = "ELSEWHERE";
        EXPECT_EQ(binding.set(edited), std::nullopt);
    });
    EXPECT_EQ(host.ids(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(host.store->target("A")->name, "Renamed by a phone");
    EXPECT_EQ(host.store->target("A")->symbol, "terminal");

    host.onMain([&] { host.actions->remove({"A"}); });
    EXPECT_EQ(binding.value().name, "Target A");
    host.onMain([&] {
        EXPECT_EQ(binding.set(binding.value()), "That target no longer exists");
        EXPECT_TRUE(binding.set(binding.value()));
    });
    EXPECT_EQ(host.ids(), std::vector<std::string>{"B"});
    EXPECT_EQ(host.stored().size(), 1u);
    EXPECT_FALSE(host.actions->model({"A"}).selectedTarget);
    int logged = 0;
    for (const auto& line : host.log->lines()) logged += line.find("which was removed") != std::string::npos;
    EXPECT_EQ(logged, 1);
}

}  // namespace
}  // namespace quib
