#include <gtest/gtest.h>

#include "QuibHost/Panel/MenuActions.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;

// The same things known to both hosts before the control is worked: a waiting phone, an
// approved one, a saved target and a request waiting for an answer.
void prepare(PanelHost& host) {
    host.onMain([&] { ASSERT_TRUE(host.registry->approve("A-1", "Grace's phone").ok()); });
    // The server republishes its own list after the registry's change; the one set here lands
    // after that, and stays.
    (void)host.server->inspect();
    host.main->runPending();
    host.server->connectedDevices().set({{"W-1", "Ada's phone", false, false}});
    QuibTarget work;
    work.id = "T1";
    work.name = "Work";
    host.store->setSnapshot({.saved = {work}, .provisional = {}});
    ApprovalRequest request;
    request.id = "R-1";
    host.approvals->setPending({request});
    host.main->runPending();
    host.calls.clear();
}

struct SameCalls {
    Json request;
    MenuAction action;
};

// Each control of the panel and the command that stands in for it reach the host's objects the
// same way: same calls, same order, same arguments.
TEST(MenuActions, AControlAndItsCommandMakeTheSameCalls) {
    const std::vector<SameCalls> cases{
        {{{"command", "approve"}, {"device", "W-1"}}, MenuControl::ApproveDevice{"W-1", "Ada's phone"}},
        {{{"command", "revoke"}, {"device", "A-1"}}, MenuControl::RevokeDevice{"A-1"}},
        {{{"command", "code"}, {"rotate", true}}, MenuControl::RotatePairingCode{}},
        {{{"command", "pause"}}, MenuControl::SetInjectionPaused{true}},
        {{{"command", "resume"}}, MenuControl::SetInjectionPaused{false}},
        {{{"command", "away"}, {"enabled", true}}, MenuControl::SetAwayEnabled{true}},
        {{{"command", "away"}, {"enabled", false}}, MenuControl::SetAwayEnabled{false}},
        {{{"command", "use"}, {"target", "T1"}}, MenuControl::UseTarget{"T1"}},
        {{{"command", "reveal"}, {"item", "log"}}, MenuControl::RevealDeliveryLog{}},
        {{{"command", "reveal"}, {"item", "inbox"}}, MenuControl::RevealImageInbox{}},
        {{{"command", "answer"}, {"request", "R-1"}, {"decision", "deny"}},
         MenuControl::AnswerRequest{"R-1", ApprovalDecision::deny}},
        {{{"command", "answer"}, {"request", "R-1"}, {"decision", "approve"}},
         MenuControl::AnswerRequest{"R-1", ApprovalDecision::approve}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.request.dump());
        PanelHost tool;
        PanelHost panel;
        prepare(tool);
        prepare(panel);
        const auto before = tool.observed();
        EXPECT_EQ(tool.command(each.request)["ok"], true);
        panel.perform(each.action);
        EXPECT_EQ(tool.observed(), panel.observed());
        EXPECT_NE(tool.observed(), before);
    }
}

// Each control makes its own calls and no other: approving stores the phone before the note
// names it; revoking, rotating, and answering leave the rest alone; a banner's button asks once,
// saying in the log what is missing, and changes no permission flag.
TEST(MenuActions, EachControlMakesOnlyItsOwnCalls) {
    PanelHost host;
    prepare(host);
    std::vector<std::string> order;
    auto approved =
        host.registry->approved().subscribe([&](const auto&) { order.push_back("approve"); }, {.skipCurrent = true});
    auto noted = host.server->lastActivity().subscribe(
        [&](const auto& text) { order.push_back("note " + text.value_or("")); }, {.skipCurrent = true});
    host.perform(MenuControl::ApproveDevice{"W-1", "Ada's phone"});
    EXPECT_EQ(order, (std::vector<std::string>{"approve", "note Approved Ada's phone"}));
    EXPECT_TRUE(host.registry->isApproved("W-1"));

    order.clear();
    host.perform(MenuControl::RevokeDevice{"A-1"});
    EXPECT_TRUE(host.registry->isRevoked("A-1"));
    EXPECT_EQ(order, (std::vector<std::string>{"approve"}));  // the lists changed; nothing was noted
    host.calls.clear();
    const auto code = host.state->pairingCode().value();
    host.perform(MenuControl::RotatePairingCode{});
    EXPECT_NE(host.state->pairingCode().value(), code);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"start server"}));

    host.perform(MenuControl::AnswerRequest{"R-1", ApprovalDecision::deny});
    ASSERT_EQ(host.approvals->decided().size(), 1u);
    EXPECT_EQ(host.approvals->decided()[0].decision, ApprovalDecision::deny);
    EXPECT_FALSE(host.approvals->decided()[0].reason || host.approvals->decided()[0].by);

    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    host.perform(MenuControl::OpenAccessibilitySettings{});
    host.perform(MenuControl::OpenScreenRecordingSettings{});
    // The commands that stand in for the buttons do the same.
    EXPECT_EQ(host.command({{"command", "open"}, {"item", "accessibility"}})["ok"], true);
    EXPECT_EQ(host.command({{"command", "open"}, {"item", "screen-recording"}})["ok"], true);
    Logger::setSink(previous);
    ASSERT_EQ(sink->lines().size(), 4u);
    for (std::size_t i : {0u, 2u})
        EXPECT_NE(sink->lines()[i].find(host.permissions->accessibilityHelp()), std::string::npos);
    for (std::size_t i : {1u, 3u})
        EXPECT_NE(sink->lines()[i].find(host.permissions->screenRecordingHelp()), std::string::npos);
    EXPECT_FALSE(host.state->accessibilityGranted().value());
    EXPECT_FALSE(host.state->screenRecordingGranted().value());
    EXPECT_EQ(host.calls, (std::vector<std::string>{"start server"}));
}

}  // namespace
}  // namespace quib
