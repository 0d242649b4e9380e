// Agents' events and approval requests, the requests answered by stand-ins, and the side
// channels, against the real quib-host on a machine without a display. Agents connect and say
// hello like phones.

#include <initializer_list>
#include <thread>

#include <gtest/gtest.h>

#include "Shared/ApprovalClock.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

// A host with the tmux target T1 ("Work") and the given devices approved, all stored before it
// starts.
class StoredHost {
public:
    explicit StoredHost(std::initializer_list<testing::PhoneIdentity> approvedDevices) {
        testing::saveTargetsBeforeStart(home, {testing::workPane("quib-test:0.0")});
        testing::approveBeforeStart(home, approvedDevices);
        host = HostProcess::start(home);
    }

    // A connection that said hello, past its welcome.
    std::unique_ptr<PhoneClient> greeted(const std::string& deviceID, const std::string& name) {
        return testing::welcomed(*host, {deviceID, name}).phone;
    }

    // A connection from `source` (a loopback address) that has said nothing yet.
    std::unique_ptr<PhoneClient> connected(const std::string& source = "") {
        auto options = testing::phoneOptions(*host, host->pairingCode());
        options.localAddress = source;
        return testing::connectPhone(options);
    }

    TempHome home;
    std::unique_ptr<HostProcess> host;
};

Json payload(const Result<Json>& message) { return message && message->contains("_0") ? (*message)["_0"] : Json(); }

// The payload of the next message of this case, skipping others.
Json next(PhoneClient& phone, std::string_view name) { return payload(phone.receiveCase(name, 10s)); }

// The cases of every line sent to the phone up to the pong of a ping sent now.
std::vector<std::string> casesUntilPong(PhoneClient& phone) {
    std::vector<std::string> cases;
    EXPECT_TRUE(phone.sendLine(R"({"ping":{"nonce":77}})"));
    while (auto line = phone.receiveLine(10s)) {
        const Json message = Json::parse(*line);
        const std::string name = message.begin().key();
        if (name == "pong") return cases;
        cases.push_back(name);
    }
    ADD_FAILURE() << "no pong came";
    return cases;
}

bool heardAny(PhoneClient& phone, const std::vector<std::string>& names) {
    const auto cases = casesUntilPong(phone);
    return std::any_of(cases.begin(), cases.end(),
                       [&](const auto& c) { return std::find(names.begin(), names.end(), c) != names.end(); });
}

ApprovalRequest asked(const std::string& id, double timeoutSeconds = 60,
                      ApprovalDecision onExpiry = ApprovalDecision::deny, std::optional<std::string> targetID = {}) {
    return ApprovalRequest::make(id, std::move(targetID), "an agent", "Run " + id, "make test",
                                 ApprovalRequest::Kind::command, ApprovalClock::now(), timeoutSeconds, onExpiry);
}

bool ask(PhoneClient& agent, const ApprovalRequest& request) {
    return agent.send(ClientMessage{ClientMessage::RequestApproval{request}}).ok();
}

std::string line(const std::string& name, const Json& value) { return Json{{name, value}}.dump(); }

TEST(QuibHost, AgentEventsAndApprovalsReachApprovedPhonesAndTheirAnswersComeBack) {
    StoredHost stored({{"P1", "First"}, {"P2", "Second"}});
    ASSERT_TRUE(stored.host);
    auto first = stored.greeted("P1", "First");
    auto second = stored.greeted("P2", "Second");
    auto third = stored.greeted("P3", "Third");
    ASSERT_TRUE(first && second && third);

    ASSERT_TRUE(
        first->sendLine(line("agentEvent", {{"_0", {{"targetID", "T1"}, {"kind", "done"}, {"atEpochMillis", 1}}}})));
    ASSERT_TRUE(ask(*first, asked("R1", 60, ApprovalDecision::deny, "T1")));
    for (auto* phone : {first.get(), second.get()}) {
        EXPECT_EQ(next(*phone, "agentEvent")["targetID"], "T1");
        const Json request = next(*phone, "approvalRequest");
        EXPECT_EQ(request["id"], "R1");
        EXPECT_EQ(request["targetName"], "Work");
    }
    ASSERT_TRUE(first->sendLine(line("requestPendingApprovals", Json::object())));
    const Json pending = next(*first, "pendingApprovals");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0]["id"], "R1");
    const auto listed = quibctl(stored.home, {"requests"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("R1  Work  Run R1"), std::string::npos) << listed.out;

    ASSERT_TRUE(
        second->sendLine(line("approvalDecision", {{"id", "R1"}, {"decision", "deny"}, {"reason", " not now "}})));
    for (auto* phone : {first.get(), second.get()}) {
        const Json resolution = next(*phone, "approvalResolved");
        EXPECT_EQ(resolution["requestID"], "R1");
        EXPECT_EQ(resolution["decision"], "deny");
        EXPECT_EQ(resolution["reason"], "answered");
        EXPECT_EQ(resolution["byDeviceName"], "Second");
        EXPECT_EQ(resolution["note"], "not now");
    }
    EXPECT_FALSE(heardAny(*third, {"agentEvent", "approvalRequest", "approvalResolved"}));
}

TEST(QuibHost, TermsAppsAndWindowsAreAnsweredInOneChunkEach) {
    StoredHost stored({{"P1", "First"}});
    ASSERT_TRUE(stored.host);
    auto phone = stored.greeted("P1", "First");
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->sendLine(line("requestVocabulary", {{"targetID", "T1"}})));
    EXPECT_EQ(next(*phone, "vocabulary"),
              (Json{{"targetID", "T1"}, {"terms", Json::array()}, {"sequence", 0}, {"isFinal", true}}));
    ASSERT_TRUE(phone->sendLine(line("requestApps", {{"refresh", true}})));
    const Json apps = next(*phone, "apps");
    EXPECT_EQ(apps["purpose"], "suggestions");
    EXPECT_EQ(apps["isFinal"], true);
    ASSERT_TRUE(phone->sendLine(line("requestWindows", {{"targetID", "T1"}})));
    EXPECT_EQ(next(*phone, "windows")["note"], "Only an app has windows to pick from.");
}

// Each refused hello closes its connection while pending, a failed handshake of its source, so
// each comes from a loopback address of its own.
TEST(QuibHost, SideChannelsAreRefusedWithTheirReasonsAndClosed) {
    StoredHost stored({{"P1", "First"}});
    ASSERT_TRUE(stored.host);
    const std::string grant =
        "Quib needs an X display with Composite, DAMAGE and XFIXES first \u2014 see the Quib panel";
    const std::string wait = "Waiting for approval on " + stored.host->name();
    const std::vector<std::pair<Json, std::string>> cases{
        {{{"stillHello", {{"_0", {{"protocolVersion", 4}, {"deviceID", "P1"}, {"targetID", "T1"}}}}}},
         "That phone speaks protocol 4; this computer speaks 23"},
        {{{"stillHello", {{"_0", {{"deviceID", "P1"}, {"targetID", "T9"}}}}}},
         "No target with that id \u2014 it may have been removed"},
        {{{"stillHello", {{"_0", {{"deviceID", "P1"}, {"targetID", "T1"}}}}}}, grant},
        {{{"listenHello", {{"_0", {{"protocolVersion", 23}, {"deviceName", "Stranger"}, {"deviceID", "X"}}}}}},
         wait + " \u2014 open the Quib panel"},
        {{{"viewHello",
           {{"_0",
             {{"protocolVersion", 23},
              {"deviceName", "Stranger"},
              {"deviceID", "X"},
              {"maxWidth", 10},
              {"maxHeight", 10}}}}}},
         wait + " \u2014 open the Quib panel"}};
    int source = 2;
    for (const auto& [hello, text] : cases) {
        auto channel = stored.connected("127.0.0." + std::to_string(source++));
        ASSERT_TRUE(channel);
        ASSERT_TRUE(channel->sendLine(hello.dump()));
        EXPECT_EQ(next(*channel, "error"), text) << hello.dump();
        EXPECT_TRUE(channel->waitForClose(10s)) << hello.dump();
    }
}

TEST(QuibHost, ApprovedViewChannelHearsNoStatusThatQuibctlPauseBroadcasts) {
    StoredHost stored({{"P1", "First"}});
    ASSERT_TRUE(stored.host);
    auto view = stored.connected();
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->sendLine(line("viewHello", {{"_0",
                                                   {{"protocolVersion", 23},
                                                    {"deviceName", "First"},
                                                    {"deviceID", "P1"},
                                                    {"maxWidth", 800},
                                                    {"maxHeight", 600}}}})));
    auto phone = stored.greeted("P1", "First");
    ASSERT_TRUE(phone);
    const auto paused = quibctl(stored.home, {"pause"});
    ASSERT_EQ(paused.status, 0) << paused.err;
    // Statuses sent before the pause may come first.
    Json status = next(*phone, "status");
    while (status.is_object() && status["injectionPaused"] != true) status = next(*phone, "status");
    EXPECT_EQ(status["injectionPaused"], true);
    const auto heard = view->receiveLine(500ms);
    ASSERT_FALSE(heard) << *heard;
    EXPECT_EQ(heard.error().message, "Timed out");
}

// An approved phone "Bars Phone" watches while two agents ask.
class QuibHostApprovals : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(stored.host);
        phone = stored.greeted("bars-1", "Bars Phone");
        agent = stored.greeted("agent-1", "Agent One");
        ASSERT_TRUE(phone && agent);
    }

    // Waits until quibctl no longer lists the device as connected: by then the host has
    // withdrawn what its connection asked.
    bool gone(const std::string& deviceID) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (quibctl(stored.home, {"devices"}).out.find(deviceID + "  Agent Two  (approved, connected") ==
                std::string::npos)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    StoredHost stored{{{"bars-1", "Bars Phone"}, {"agent-1", "Agent One"}, {"agent-2", "Agent Two"}}};
    std::unique_ptr<PhoneClient> phone;
    std::unique_ptr<PhoneClient> agent;
};

TEST_F(QuibHostApprovals, RequestIsListedARepeatIsRefusedAndThePhonesAnswerReachesBoth) {
    ASSERT_TRUE(ask(*agent, asked("R1", 60)));
    EXPECT_EQ(next(*phone, "approvalRequest")["id"], "R1");
    EXPECT_NE(quibctl(stored.home, {"requests"}).out.find("R1  an agent  Run R1  ("), std::string::npos);
    ASSERT_TRUE(ask(*agent, asked("R1", 60)));
    EXPECT_EQ(next(*agent, "error"), "That request is already waiting");

    ASSERT_TRUE(phone->sendLine(
        line("approvalDecision", {{"id", "R1"}, {"decision", "approve"}, {"reason", "  looks fine \n"}})));
    for (auto* to : {phone.get(), agent.get()}) {
        const Json resolution = next(*to, "approvalResolved");
        EXPECT_EQ(resolution["requestID"], "R1");
        EXPECT_EQ(resolution["decision"], "approve");
        EXPECT_EQ(resolution["reason"], "answered");
        EXPECT_EQ(resolution["byDeviceName"], "Bars Phone");
        EXPECT_EQ(resolution["note"], "looks fine");
    }
}

// A waiting request is a card on the panel, with its countdown; the computer's answer resolves
// it for everyone, and the section goes.
TEST_F(QuibHostApprovals, ARequestIsACardOnThePanelUntilTheComputerAnswers) {
    ASSERT_TRUE(ask(*agent, asked("R9", 60)));
    EXPECT_EQ(next(*phone, "approvalRequest")["id"], "R9");
    const auto panel = quibctl(stored.home, {"panel"}).out;
    EXPECT_NE(panel.find("approvals\ttext\tWAITING ON YOU"), std::string::npos) << panel;
    EXPECT_NE(panel.find("approvals\ttext\tan agent — Run R9\tfont=caption-bold\tlines=2\tkey=R9"), std::string::npos)
        << panel;
    EXPECT_NE(panel.find("approvals\tcode\tmake test\t"), std::string::npos) << panel;
    const auto countdown = panel.find("approvals\ttext\tdenies in ");
    ASSERT_NE(countdown, std::string::npos) << panel;
    const int seconds = std::stoi(panel.substr(countdown + std::string("approvals\ttext\tdenies in ").size()));
    EXPECT_GE(seconds, 50);
    EXPECT_LE(seconds, 59);

    const auto denied = quibctl(stored.home, {"answer", "R9", "deny"});
    ASSERT_EQ(denied.status, 0) << denied.err;
    for (auto* to : {phone.get(), agent.get()}) {
        const Json resolution = next(*to, "approvalResolved");
        EXPECT_EQ(resolution["requestID"], "R9");
        EXPECT_EQ(resolution["decision"], "deny");
        EXPECT_EQ(resolution["reason"], "answered");
        EXPECT_FALSE(resolution.contains("byDeviceName"));
    }
    EXPECT_EQ(quibctl(stored.home, {"panel"}).out.find("approvals\t"), std::string::npos);
}

TEST_F(QuibHostApprovals, UnansweredRequestEndsWithItsOwnFallbackSoonAfterItsExpiry) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ask(*agent, asked("R2", 1.5, ApprovalDecision::approve)));
    for (auto* to : {phone.get(), agent.get()}) {
        const Json resolution = next(*to, "approvalResolved");
        EXPECT_EQ(resolution["requestID"], "R2");
        EXPECT_EQ(resolution["decision"], "approve");
        EXPECT_EQ(resolution["reason"], "expired");
        EXPECT_EQ(resolution["note"], "Nobody answered in time");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
}

// A second agent repeating R4 and leaving must not take it down; the Mac's answer names no phone.
TEST_F(QuibHostApprovals, RepeatFromAnotherAgentLeavesTheRequestWaitingForTheMacsAnswer) {
    ASSERT_TRUE(ask(*agent, asked("R4")));
    EXPECT_EQ(next(*phone, "approvalRequest")["id"], "R4");
    auto other = stored.greeted("agent-2", "Agent Two");
    ASSERT_TRUE(other);
    ASSERT_TRUE(ask(*other, asked("R4")));
    EXPECT_EQ(next(*other, "error"), "That request is already waiting");
    other->close();
    ASSERT_TRUE(gone("agent-2"));
    EXPECT_NE(quibctl(stored.home, {"requests"}).out.find("R4  "), std::string::npos);

    const auto answered = quibctl(stored.home, {"answer", "R4", "deny"});
    EXPECT_EQ(answered.status, 0) << answered.err;
    const Json resolution = next(*phone, "approvalResolved");
    EXPECT_EQ(resolution["requestID"], "R4");
    EXPECT_EQ(resolution["decision"], "deny");
    EXPECT_EQ(resolution["reason"], "answered");
    EXPECT_FALSE(resolution.contains("byDeviceName"));

    const auto again = quibctl(stored.home, {"answer", "R4", "approve"});
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.err.find("No request with the identifier R4 is waiting"), std::string::npos) << again.err;
}

TEST_F(QuibHostApprovals, AgentLeavingWithARequestWaitingWithdrawsIt) {
    ASSERT_TRUE(ask(*agent, asked("R5")));
    EXPECT_EQ(next(*phone, "approvalRequest")["id"], "R5");
    agent->close();
    const Json resolution = next(*phone, "approvalResolved");
    EXPECT_EQ(resolution["requestID"], "R5");
    EXPECT_EQ(resolution["reason"], "withdrawn");
    EXPECT_EQ(resolution["note"], "The agent that asked is gone");
}

TEST_F(QuibHostApprovals, NinthRequestAtOnceIsDeniedBecauseEightWait) {
    for (int i = 1; i <= 9; ++i)
        ASSERT_TRUE(ask(*agent, asked("N" + std::to_string(i), 60, ApprovalDecision::approve)));
    const Json resolution = next(*agent, "approvalResolved");
    EXPECT_EQ(resolution["requestID"], "N9");
    EXPECT_EQ(resolution["decision"], "deny");
    EXPECT_EQ(resolution["reason"], "refused");
    EXPECT_EQ(resolution["note"], "8 requests are already waiting");
    EXPECT_EQ(next(*phone, "approvalResolved")["requestID"], "N9");
}

}  // namespace
}  // namespace quib
