// Agents' events and approval requests, phones' answers, and how resolutions reach phones.

#include "HostServerFixture.hpp"

#include "QuibHost/Approvals/ApprovalBroker.hpp"
#include "Tests/Support/TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

std::string line(const std::string& name, const Json& payload) { return Json{{name, payload}}.dump() + "\n"; }

std::string requestApproval(const std::string& id, const std::string& targetID = "") {
    Json request{{"id", id}, {"targetName", "an agent"}, {"title", "Run the tests"}};
    if (!targetID.empty()) request["targetID"] = targetID;
    return line("requestApproval", {{"_0", request}});
}

QuibTarget paneTarget(const std::string& id, const std::string& name) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::tmux;
    return target;
}

}  // namespace

// The server with the real approval broker, wired as at launch.
class HostServerApprovals : public HostServer {
protected:
    void configure(quib::HostServer::Config& config) override { config.neighbours.approvals = broker; }

    void SetUp() override {
        HostServer::SetUp();
        onMain([&] { server->beginApprovals(); });
    }

    // The payload of the phone's next message of this case; other cases are passed over.
    Json expect(TestPhone& phone, const std::string& name) {
        while (auto next = nextLine(phone)) {
            const Json message = Json::parse(*next);
            if (caseOf(message) == name) return message[name]["_0"];
        }
        ADD_FAILURE() << "no " << name << " came";
        return {};
    }

    bool heard(TestPhone& phone, const std::string& name) {
        const auto cases = casesUntilSettled(phone);
        return std::find(cases.begin(), cases.end(), name) != cases.end();
    }

    // A connection of a device that is not approved, past its hello.
    std::unique_ptr<TestPhone> waitingPhone(std::uint16_t port, const std::string& deviceID) {
        auto phone = std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(helloLine(deviceID, "Stranger"));
        settle(*phone);
        return phone;
    }

    std::vector<std::string> pendingIDs() {
        main->runPending();
        std::vector<std::string> ids;
        for (const auto& request : broker->pending()) ids.push_back(request.id);
        return ids;
    }

    std::shared_ptr<ApprovalBroker> broker = ApprovalBroker::create(main);
};

TEST_F(HostServerApprovals, RequestNamingATargetReachesApprovedPhonesUnderItsNameAndARepeatIsRefused) {
    targets->setSnapshot({{paneTarget("T1", "Work")}, {}});
    const auto port = startServer();
    auto asker = approvedPhone(port, "D-1");
    auto other = approvedPhone(port, "D-2");
    auto waiting = waitingPhone(port, "D-W");

    asker->write(requestApproval("R1", "T1"));
    for (auto* phone : {asker.get(), other.get()}) {
        const Json request = expect(*phone, "approvalRequest");
        EXPECT_EQ(request["id"], "R1");
        EXPECT_EQ(request["targetName"], "Work");
    }
    EXPECT_FALSE(heard(*waiting, "approvalRequest"));
    EXPECT_EQ(push->requests(), std::vector<std::string>{"R1"});

    asker->write(requestApproval("R1", "T1"));
    EXPECT_EQ(expect(*asker, "error"), "That request is already waiting");
    EXPECT_EQ(pendingIDs(), std::vector<std::string>{"R1"});

    other->write(line("requestPendingApprovals", Json::object()));
    const Json listed = expect(*other, "pendingApprovals");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["targetName"], "Work");
}

// A burst of requests once pushed every one of them, even those the broker refused past the
// ones it holds, and a repeat of one it already held: only a request it took is pushed.
TEST_F(HostServerApprovals, OnlyARequestTheBrokerTookIsPushed) {
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    std::vector<std::string> ids;
    for (int n = 1; n <= 12; ++n) {
        ids.push_back("R" + std::to_string(n));
        phone->write(requestApproval(ids.back()));
    }
    phone->write(requestApproval("R1"));
    settle(*phone);
    EXPECT_EQ(pendingIDs().size(), 8u);
    EXPECT_EQ(push->requests(), std::vector<std::string>(ids.begin(), ids.begin() + 8));
}

TEST_F(HostServerApprovals, DecisionIsMadeInThePhonesNameAndReachesEveryApprovedPhoneAndTheWaitingAsker) {
    const auto port = startServer();
    auto asker = waitingPhone(port, "D-W");
    auto observer = approvedPhone(port, "D-1");
    auto decider = approvedPhone(port, "D-2");
    // The asker's device is approved long enough to ask, then waits for approval again.
    approve("D-W", "Stranger");
    asker->write(requestApproval("R1"));
    expect(*decider, "approvalRequest");
    main->post([&] { (void)registry->revoke("D-W"); });
    main->runPending();

    decider->write(line("approvalDecision", {{"id", "R1"}, {"decision", "deny"}, {"reason", " not now \n"}}));
    for (auto* phone : {asker.get(), observer.get(), decider.get()}) {
        const Json resolution = expect(*phone, "approvalResolved");
        EXPECT_EQ(resolution["requestID"], "R1");
        EXPECT_EQ(resolution["decision"], "deny");
        EXPECT_EQ(resolution["reason"], "answered");
        EXPECT_EQ(resolution["byDeviceName"], "Phone");
        EXPECT_EQ(resolution["note"], "not now");
    }
    EXPECT_TRUE(pendingIDs().empty());
    EXPECT_EQ(push->resolved(), std::vector<std::string>{"R1"});
}

// A connection that repeats a request another one made must not take it down when it goes; one
// that repeats its own keeps it, and its end withdraws it.
TEST_F(HostServerApprovals, RepeatingAnotherConnectionsRequestAndClosingLeavesItWaiting) {
    const auto port = startServer();
    auto first = approvedPhone(port, "D-1");
    auto second = approvedPhone(port, "D-2");
    auto observer = approvedPhone(port, "D-3");
    first->write(requestApproval("R1"));
    expect(*observer, "approvalRequest");

    second->write(requestApproval("R1"));
    EXPECT_EQ(expect(*second, "error"), "That request is already waiting");
    second->close();
    ASSERT_TRUE(eventually([&] { return server->inspect().clients == 2; }));
    EXPECT_EQ(pendingIDs(), std::vector<std::string>{"R1"});
    EXPECT_FALSE(heard(*observer, "approvalResolved"));

    first->write(requestApproval("R1"));
    EXPECT_EQ(expect(*first, "error"), "That request is already waiting");
    first->close();
    const Json resolution = expect(*observer, "approvalResolved");
    EXPECT_EQ(resolution["requestID"], "R1");
    EXPECT_EQ(resolution["reason"], "withdrawn");
    EXPECT_EQ(resolution["note"], "The agent that asked is gone");
    EXPECT_FALSE(resolution.contains("byDeviceName"));
    EXPECT_TRUE(pendingIDs().empty());
}

TEST_F(HostServerApprovals, AgentEventIsNotedBroadcastAndPushedUnderTheTargetsNameOrItsRawId) {
    targets->setSnapshot({{paneTarget("T1", "Work")}, {}});
    const auto port = startServer();
    auto agent = approvedPhone(port, "D-1");
    auto phone = approvedPhone(port, "D-2");
    auto waiting = waitingPhone(port, "D-W");
    for (const char* id : {"T1", "T-unknown"}) {
        agent->write(line("agentEvent", {{"_0", {{"targetID", id}, {"kind", "waiting"}, {"atEpochMillis", 5}}}}));
        for (auto* to : {agent.get(), phone.get()}) EXPECT_EQ(expect(*to, "agentEvent")["targetID"], id);
    }
    EXPECT_FALSE(heard(*waiting, "agentEvent"));
    EXPECT_TRUE(eventually([&] { return log->contains("Work: waiting") && log->contains("T-unknown: waiting"); }));
    EXPECT_EQ(push->events(), (std::vector<std::string>{"Work:T1", "T-unknown:T-unknown"}));
}

TEST_F(HostServerApprovals, PushRegistrationOfAnApprovedDeviceIsHandedOn) {
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    phone->write(line("registerPush", {{"_0", {{"token", "abc"}}}}));
    EXPECT_TRUE(settle(*phone));
    EXPECT_EQ(push->registered(), std::vector<std::string>{"D-1:abc"});
}

// The gate tells a device that is not approved to wait before this handler ever sees it; past
// an open gate the handler still refuses the device itself, and a connection without a hello.
TEST_F(HostServerApprovals, PushRegistrationPastAnOpenGateIsRefusedWithoutAnApprovedDevice) {
    server->setGate([](const ClientMessage&, quib::HostServer::Client&) { return true; });
    const auto port = startServer();
    auto waiting = waitingPhone(port, "D-W");
    TestPhone nameless(code);
    ASSERT_FALSE(nameless.connect(port));
    for (TestPhone* phone : {waiting.get(), &nameless}) {
        phone->write(line("registerPush", {{"_0", {{"token", "abc"}}}}));
        EXPECT_EQ(expect(*phone, "error"), "Approve this device on the computer first");
    }
    EXPECT_TRUE(push->registered().empty());
}

namespace {

using Client = quib::HostServer::Client;

std::shared_ptr<Client> client(const std::string& deviceID, std::set<std::string> ids = {}) {
    auto made = std::make_shared<Client>(nullptr, "127.0.0.1", false);
    made->deviceID = deviceID;
    made->didHello = true;
    made->approvalIDs = std::move(ids);
    return made;
}

}  // namespace

// Two connections hold the id: both let go of it, and the later one in the table's order is
// the asker, heard even though its device is not approved. Side channels hear nothing.
TEST(HostServerResolution, AudienceIsEveryApprovedControlConnectionAndTheLastConnectionHoldingTheRequest) {
    auto approvedHolder = client("D-A", {"R1", "R2"});
    auto strangerHolder = client("D-S", {"R1"});
    auto approved = client("D-B");
    auto viewer = client("D-A");
    viewer->isViewChannel = true;
    auto stranger = client("D-T");
    quib::HostServer::ClientTable table;
    for (const auto& c : {approvedHolder, strangerHolder, approved, viewer, stranger}) table.emplace(c.get(), c);
    const auto isApproved = [](const std::string& id) { return id == "D-A" || id == "D-B"; };

    const Client* lastHolder = nullptr;
    for (const auto& [key, c] : table)
        if (c == approvedHolder || c == strangerHolder) lastHolder = key;

    const auto audience = quib::HostServer::resolutionAudience(table, "R1", isApproved);
    std::set<const Client*> heard;
    for (const auto& c : audience) heard.insert(c.get());
    EXPECT_EQ(heard.size(), audience.size()) << "someone was written twice";
    EXPECT_TRUE(heard.contains(approvedHolder.get()));
    EXPECT_TRUE(heard.contains(approved.get()));
    EXPECT_EQ(heard.contains(strangerHolder.get()), lastHolder == strangerHolder.get());
    EXPECT_FALSE(heard.contains(viewer.get()));
    EXPECT_FALSE(heard.contains(stranger.get()));
    EXPECT_EQ(approvedHolder->approvalIDs, std::set<std::string>{"R2"});
    EXPECT_TRUE(strangerHolder->approvalIDs.empty());

    // Only the stranger holds R3 now: it alone of the unapproved hears of it.
    strangerHolder->approvalIDs = {"R3"};
    const auto next = quib::HostServer::resolutionAudience(table, "R3", isApproved);
    EXPECT_EQ(std::count(next.begin(), next.end(), strangerHolder), 1);
    EXPECT_EQ(next.size(), 3u);
}

}  // namespace quib::testing
