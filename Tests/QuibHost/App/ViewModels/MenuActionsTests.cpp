#include <gtest/gtest.h>

#include "QuibHost/App/ViewModels/MenuActions.hpp"
#include "Tests/QuibHost/App/ViewModels/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;

// The same things known to both hosts before the control is worked: a waiting phone, an
// approved one, a saved target and a request waiting for an answer.
void prepare(PanelHost& host) {
    host.onMain([&] { host.registry->approve("A-1", "Grace's phone"); });
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

}  // namespace
}  // namespace quib
