// Targets managed from a phone and the tmux panes it picks from.

#include "ApprovedPhone.hpp"
#include "HostServerFixture.hpp"

#include "Shared/Json.hpp"
#include "Tests/Support/ScratchFolder.hpp"

#include <algorithm>

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

QuibTarget paneTarget(const std::string& id, const std::string& name, const std::string& pane) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::tmux;
    target.tmuxTarget = pane;
    return target;
}

std::string line(const std::string& name, const Json& payload) { return Json{{name, payload}}.dump() + "\n"; }
std::string wrapped(const std::string& name, const Json& value) { return line(name, Json{{"_0", value}}); }

Json list(const std::vector<QuibTarget>& targets) {
    Json out = Json::array();
    for (const auto& target : targets) out.push_back(target.toJson());
    return out;
}

}  // namespace

TEST_F(HostServer, AddingATargetResolvesItsPaneAddressFirstAndAnswersWithAToast) {
    ScratchFolder folder("panes");
    ASSERT_TRUE(tmuxServer.startSession("work", folder.path, 2));
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());

    phone.write(wrapped("addTarget", paneTarget("T-1", "Work", "work:0.1").toJson()));
    EXPECT_EQ(phone.expect("toast")["_0"], "Added Work");
    phone.write(wrapped("addTarget", paneTarget("T-2", "Gone", "work:0.5").toJson()));
    EXPECT_EQ(phone.expect("toast")["_0"], "Added Gone");
    const auto added = targets->recorded().added;
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0], paneTarget("T-1", "Work", tmuxServer.idOf("work:0.1")));
    EXPECT_EQ(added[1], paneTarget("T-2", "Gone", "work:0.5"));  // left for the store to refuse
    EXPECT_TRUE(eventually([&] { return server->lastActivity().value() == "Added Gone"; }));
}

TEST_F(HostServer, EditsAnswerSavedAndRefusalsComeBackAsErrors) {
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    targets->refuseNext({"Change the kind on the computer"});
    phone.write(wrapped("updateTarget", paneTarget("T-1", "Work", "%1").toJson()));
    EXPECT_EQ(phone.expect("error")["_0"], "Change the kind on the computer");
    phone.write(wrapped("updateTarget", paneTarget("T-1", "Work", "%1").toJson()));
    EXPECT_EQ(phone.expect("toast")["_0"], "Saved Work");
    EXPECT_TRUE(eventually([&] { return server->lastActivity().value() == "Edited Work"; }));
    EXPECT_EQ(targets->recorded().updated.size(), 2u);
    EXPECT_TRUE(targets->recorded().added.empty());
}

TEST_F(HostServer, AddingSeveralTargetsReportsTheAddedAndCountsTheRefusals) {
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    const auto three = list({paneTarget("A", "A", "%1"), paneTarget("B", "B", "%2"), paneTarget("C", "C", "%3")});

    targets->refuseNext({"First", "Second"});
    phone.write(wrapped("addTargets", three));
    EXPECT_EQ(phone.expect("toast")["_0"], "Added C");
    EXPECT_EQ(phone.expect("error")["_0"], "First (+1 more)");

    targets->refuseNext({"Only"});
    phone.write(wrapped("addTargets", three));
    EXPECT_EQ(phone.expect("toast")["_0"], "Added 2: B, C");
    EXPECT_EQ(phone.expect("error")["_0"], "Only");
    EXPECT_TRUE(eventually([&] { return server->lastActivity().value() == "Added B, C"; }));

    // Nothing added: no toast before the error.
    targets->refuseNext({"Nope"});
    phone.write(wrapped("addTargets", list({paneTarget("A", "A", "%1")})));
    EXPECT_EQ(phone.expect("error")["_0"], "Nope");
    EXPECT_FALSE(phone.saw("toast"));
}

TEST_F(HostServer, RemovesAKnownTargetAndReordersWithoutAReply) {
    targets->setSnapshot({{paneTarget("T-1", "Work", "%1")}, {}});
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    phone.write(line("removeTarget", Json{{"id", "T-9"}}));
    EXPECT_EQ(phone.expect("error")["_0"], "That target no longer exists");
    phone.write(line("removeTarget", Json{{"id", "T-1"}}));
    EXPECT_EQ(phone.expect("toast")["_0"], "Removed Work");
    EXPECT_TRUE(eventually([&] { return server->lastActivity().value() == "Removed Work"; }));

    phone.write(line("reorderTargets", Json{{"ids", {"T-2", "T-1"}}}));
    ASSERT_TRUE(eventually([&] { return !targets->recorded().ordered.empty(); }));
    phone.settle();
    EXPECT_FALSE(phone.saw("toast") || phone.saw("error"));
    const auto calls = targets->recorded();
    EXPECT_EQ(calls.removed, (std::vector<std::set<std::string>>{{"T-1"}}));
    EXPECT_EQ(calls.ordered, (std::vector<std::vector<std::string>>{{"T-2", "T-1"}}));
}

// The same listing goes to the phone and, afterwards, to the store.
TEST_F(HostServer, APaneRequestListsThePanesAndReconcilesTheStoreWithThem) {
    ScratchFolder folder("panes");
    ASSERT_TRUE(tmuxServer.startSession("work", folder.path, 2));
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    phone.write(R"({"requestPanes":{}})"
                "\n");
    const Json panes = phone.expect("panes")["_0"];
    ASSERT_EQ(panes.size(), 2u);
    EXPECT_EQ(panes[0]["spec"], "work:0.0");
    EXPECT_EQ(panes[0]["id"], tmuxServer.idOf("work:0.0"));
    EXPECT_EQ(panes[1]["spec"], "work:0.1");
    EXPECT_EQ(panes[1]["id"], tmuxServer.idOf("work:0.1"));
    ASSERT_TRUE(eventually([&] { return !targets->recorded().reconciled.empty(); }));
    const auto reconciled = targets->recorded().reconciled.front();
    ASSERT_EQ(reconciled.size(), 2u);
    EXPECT_EQ(reconciled[1].id, panes[1]["id"]);
    EXPECT_EQ(reconciled[1].path, panes[1]["path"]);
}

TEST_F(HostServer, WithoutTmuxAPaneRequestGetsNoPanesAndLeavesTheStoreAlone) {
    remakeServer(Tmux({"/nonexistent/tmux"}));
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    EXPECT_FALSE(server->status("D-A").tmuxAvailable);
    phone.write(R"({"requestPanes":{}})"
                "\n");
    EXPECT_EQ(phone.expect("panes")["_0"], Json::array());
    // The listing and the reconciling it would queue on the main loop are done.
    targets->tmuxQueue().sync([] {});
    main->runPending();
    EXPECT_TRUE(targets->recorded().reconciled.empty());
}

}  // namespace quib::testing
