// The hello, the approval gate, the host status, and what the host sends to one phone or many.

#include "HostServerFixture.hpp"

#include <limits>

#include "Shared/Json.hpp"
#include "Tests/Support/TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

const std::string text = R"({"text":{"_0":{"text":"hi"}}})"
                         "\n";

QuibTarget target(const std::string& id, bool provisional = false) {
    QuibTarget target;
    target.id = id;
    target.name = "Target " + id;
    target.isProvisional = provisional;
    return target;
}

Json targetList(const std::vector<QuibTarget>& targets) {
    Json list = Json::array();
    for (const auto& target : targets) list.push_back(target.toJson());
    return list;
}

}  // namespace

// A phone connected with the right code, its hello sent.
class GreetedPhone {
public:
    static constexpr const char* code = "ABCDEF";

    GreetedPhone(std::uint16_t port, const std::string& line) : phone_(code) {
        EXPECT_FALSE(phone_.connect(port));
        phone_.write(line);
    }
    TestPhone& operator*() { return phone_; }
    TestPhone* operator->() { return &phone_; }

private:
    TestPhone phone_;
};

TEST_F(HostServer, HelloOutsideTheVersionWindowIsRefusedWithTheVersionTextAndStaysPending) {
    const auto port = startServer();
    for (int version : {4, 24}) {
        GreetedPhone phone(port, hello("D-V", "Phone", version));
        EXPECT_EQ(parse(nextLine(*phone))["error"]["_0"],
                  "This phone speaks protocol " + std::to_string(version) +
                      "; this computer speaks 5 to 23. Update whichever end is older.");
        EXPECT_TRUE(phone->waitClosed());
    }
    EXPECT_TRUE(eventually([&] { return failuresOf("127.0.0.1") == 2; }));
    EXPECT_TRUE(push->arrived().empty());

    for (int version : {5, 23}) {
        GreetedPhone phone(port, hello("D-V", "Phone", version));
        EXPECT_EQ(caseOf(parse(nextLine(*phone))), "welcome") << version;
    }
    EXPECT_TRUE(server->inspect().throttles.empty());
}

TEST_F(HostServer, RevokedDeviceIsToldSoAndNeverWelcomed) {
    main->post([&] { (void)registry->revoke("D-R"); });
    main->runPending();
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-R", "Old phone"));
    EXPECT_EQ(parse(nextLine(*phone)),
              Json::parse(
                  R"({"error":{"_0":"This computer has revoked this device. Approve it again in the Quib panel."}})"));
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_FALSE(phone->readLine(0ms));
    EXPECT_TRUE(log->contains("Old phone was revoked; refusing it"));
    EXPECT_TRUE(push->arrived().empty());
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);  // its hello was accepted before the check
}

TEST_F(HostServer, DeviceNotYetApprovedIsWelcomedWithoutTargetsAndToldToWaitAtMostOnceASecond) {
    targets->setSnapshot({{target("A")}, {target("P", true)}});
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-W", "New phone"));
    const Json welcome = parse(nextLine(*phone));
    EXPECT_EQ(welcome["welcome"]["status"]["deviceApproved"], false);
    EXPECT_EQ(welcome["welcome"]["targets"], Json::array());
    EXPECT_TRUE(eventually([&] { return log->contains("New phone is waiting to be approved"); }));
    EXPECT_EQ(push->arrived(), std::vector<std::string>{"D-W"});

    const std::string wait = "Waiting for approval on " + server->hostDisplayName() + " \u2014 open the Quib panel";
    phone->write(text);
    EXPECT_EQ(parse(nextLine(*phone))["error"]["_0"], wait);
    // Within a second (a second exactly included) the refusal is silent; the ping behind each
    // text proves nothing came before it.
    phone->write(text + ping(1));
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "pong");
    clock->advance(1s);
    phone->write(text + ping(1));
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "pong");
    clock->advance(1ms);
    phone->write(text);
    EXPECT_EQ(parse(nextLine(*phone))["error"]["_0"], wait);
    EXPECT_FALSE(phone->isClosed());
}

TEST_F(HostServer, LogNamesThePhoneWhenItIsWelcomedAndWhenItsConnectionEnds) {
    const auto port = startServer();
    {
        GreetedPhone phone(port, hello("D-N", "Kitchen phone"));
        EXPECT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
        EXPECT_TRUE(
            eventually([&] { return log->contains("welcomed Kitchen phone from 127.0.0.1, waiting to be approved"); }));
    }
    EXPECT_TRUE(eventually([&] { return log->contains("connection of Kitchen phone ended"); }));
}

TEST_F(HostServer, PingBeforeHelloIsAnsweredAndAnythingElseIsToldToSayHelloFirst) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(ping(1));
    EXPECT_EQ(caseOf(parse(phone.readLine())), "pong");
    phone.write(text);
    EXPECT_EQ(parse(phone.readLine()), Json::parse(R"({"error":{"_0":"Send hello first"}})"));
    EXPECT_TRUE(phone.waitClosed());
}

// The routing table lets only the hellos and the ping through before approval: every other case
// from a phone not approved is answered that it waits, and nothing else.
TEST_F(HostServer, EveryCaseButTheHellosAndThePingWaitsForApproval) {
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-W", "New phone"));
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
    const std::string wait = "Waiting for approval on " + server->hostDisplayName() + " \u2014 open the Quib panel";
    for (const char* line : {
             R"({"move":{"dx":3.5,"dy":-1.0}})",
             R"({"scroll":{"dx":0.0,"dy":-12.25}})",
             R"({"scrollPhase":{"_0":"momentumBegan"}})",
             R"({"pointAtPanel":{"x":0.25,"y":1.0}})",
             R"({"click":{"button":"right","phase":"down","clickCount":1}})",
             R"({"text":{"_0":{"text":"hi"}}})",
             R"({"focus":{"targetID":"T"}})",
             R"({"key":{"_0":{"key":"paste","targetID":"T"}}})",
             R"({"requestVocabulary":{"targetID":"T"}})",
             R"({"addTarget":{"_0":{"id":"A"}}})",
             R"({"updateTarget":{"_0":{"id":"A"}}})",
             R"({"addTargets":{"_0":[{"id":"A"}]}})",
             R"({"removeTarget":{"id":"A"}})",
             R"({"reorderTargets":{"ids":["A"]}})",
             R"({"requestPanes":{}})",
             R"({"requestApps":{"refresh":false}})",
             R"({"requestWindows":{"targetID":"T"}})",
             R"({"focusWindow":{"targetID":"T","windowID":4}})",
             R"({"openWindow":{"targetID":"T"}})",
             R"({"requestAppIcons":{"bundleIDs":["com.x"]}})",
             R"({"requestMenu":{"bundleID":"com.x","refresh":true}})",
             R"({"agentEvent":{"_0":{"targetID":"T","kind":"waiting","atEpochMillis":1700000000000}}})",
             R"({"requestApproval":{"_0":{"id":"R","title":"Run ls"}}})",
             R"({"approvalDecision":{"id":"R","decision":"approve"}})",
             R"({"requestPendingApprovals":{}})",
             R"({"requestRemoteAccess":{}})",
             R"({"registerPush":{"_0":{"token":"ab12"}}})",
         }) {
        clock->advance(2s);
        phone->write(line + std::string("\n"));
        EXPECT_EQ(parse(nextLine(*phone)), (Json{{"error", {{"_0", wait}}}})) << line;
    }
    phone->write(ping(7));
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "pong");
    EXPECT_FALSE(phone->isClosed());
}

TEST_F(HostServer, ApprovedDeviceGetsWelcomeThenEveryTargetThenRemoteAccessThenWaitingApprovals) {
    (void)settings->setBool("quib.away.enabled", true);
    targets->setSnapshot({{target("A"), target("B")}, {target("P", true)}});
    ApprovalRequest request;
    request.id = "R-1";
    approvals->setPending({request});
    approve("D-A", "Phone");
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-A", "Phone"));

    const Json welcome = parse(nextLine(*phone));
    EXPECT_EQ(welcome["welcome"]["status"]["deviceApproved"], true);
    EXPECT_EQ(welcome["welcome"]["targets"], targetList({target("A"), target("B")}));
    EXPECT_EQ(parse(nextLine(*phone))["targets"]["_0"], targetList({target("A"), target("B"), target("P", true)}));
    // The hello also refreshes the device's stored record, and with it the approved list, whose
    // broadcasts may come in between.
    const std::vector<Json> rest = heardUntilSettled(*phone, 2);
    auto first = [&](const std::string& name) {
        return std::find_if(rest.begin(), rest.end(), [&](const Json& m) { return caseOf(m) == name; });
    };
    ASSERT_NE(first("remoteAccess"), rest.end());
    // A phone on this network, so it is handed its away key.
    const Json remote = (*first("remoteAccess"))["remoteAccess"]["_0"];
    EXPECT_EQ(remote["isEnabled"], true);
    EXPECT_EQ(remote["keyIdentity"], "quib.away.1.D-A");
    EXPECT_FALSE(remote.contains("unavailable"));
    ASSERT_NE(first("pendingApprovals"), rest.end());
    EXPECT_EQ((*first("pendingApprovals"))["pendingApprovals"]["_0"][0]["id"], "R-1");
    EXPECT_EQ(push->arrived(), std::vector<std::string>{"D-A"});
}

TEST_F(HostServer, ApprovedDeviceWithNothingWaitingGetsNoPendingApprovals) {
    approve("D-A", "Phone");
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-A", "Phone"));
    const auto cases = casesUntilSettled(*phone, 2);
    ASSERT_GE(cases.size(), 3u);
    EXPECT_EQ(cases[0], "welcome");
    EXPECT_EQ(cases[1], "targets");
    EXPECT_NE(std::find(cases.begin(), cases.end(), "remoteAccess"), cases.end());
    EXPECT_EQ(std::find(cases.begin(), cases.end(), "pendingApprovals"), cases.end());
}

TEST_F(HostServer, ApprovingAWaitingDeviceSendsItStatusTargetsAndRemoteAccessAtOnce) {
    targets->setSnapshot({{target("A")}, {target("P", true)}});
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-W", "Phone"));
    ASSERT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
    ASSERT_EQ(casesUntilSettled(*phone, 2), std::vector<std::string>{});

    approve("D-W", "Phone");
    const Json status = parse(nextLine(*phone));
    EXPECT_EQ(status["status"]["_0"]["deviceApproved"], true);
    EXPECT_EQ(parse(nextLine(*phone))["targets"]["_0"], targetList({target("A"), target("P", true)}));
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "remoteAccess");
    EXPECT_EQ(casesUntilSettled(*phone, 2), std::vector<std::string>{});
    phone->write(text + ping(1));  // passes the gate now, without a new hello
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "delivered");
    EXPECT_EQ(caseOf(parse(nextLine(*phone))), "pong");
}

// Another phone's hello re-stamps when its device was last seen: once the registry publishes
// the refreshes of the moment (within its save delay), the phones already connected hear their
// status, and the target list and the ways to reach the host only when the approved devices as
// phones see them changed (here, a new name).
TEST_F(HostServer, AnotherPhonesHelloSendsTheOthersTheirStatusAndTheRestOnlyForANewName) {
    approve("D-1", "First");
    approve("D-2", "Second");
    const auto port = startServer();
    GreetedPhone first(port, hello("D-1", "First"));
    ASSERT_EQ(caseOf(parse(nextLine(*first))), "welcome");
    // Everything the first phone is told once the registry saved the refreshes waiting, at the
    // end of its save delay: the hello's refresh was queued before its welcome was sent.
    const auto toldOnceSaved = [&] {
        EXPECT_TRUE(eventually([&] {
            bool unsaved = true;
            onMain([&] { unsaved = registry->hasUnsavedChanges(); });
            return !unsaved;
        }));
        return casesUntilSettled(*first, 2);
    };
    (void)toldOnceSaved();  // its own hello's status, too
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows{
        {"Second", {"status"}},
        {"Renamed", {"status", "targets", "remoteAccess"}},
    };
    for (const auto& [name, told] : rows) {
        GreetedPhone second(port, hello("D-2", name));
        ASSERT_EQ(caseOf(parse(nextLine(*second))), "welcome");
        EXPECT_EQ(toldOnceSaved(), told) << name;
    }
}

TEST_F(HostServer, RevokingCutsEveryConnectionOfTheDeviceAndTellsEveryoneElse) {
    approve("D-R", "Revoked");
    approve("D-O", "Other");
    const auto port = startServer();
    GreetedPhone first(port, hello("D-R", "Revoked"));
    ASSERT_EQ(caseOf(parse(nextLine(*first))), "welcome");
    GreetedPhone second(port, hello("D-R", "Revoked"));
    ASSERT_EQ(caseOf(parse(nextLine(*second))), "welcome");
    GreetedPhone other(port, hello("D-O", "Other"));
    ASSERT_EQ(caseOf(parse(nextLine(*other))), "welcome");
    saveSeen();
    for (auto* phone : {&first, &second, &other}) (void)heardUntilSettled(**phone, 2);

    ASSERT_TRUE(secrets.write(Bytes(32, 7), SecretStore::awayService, "D-R"));
    main->post([&] { (void)server->revoke("D-R"); });
    for (auto* phone : {&first, &second}) {
        // Cut without a word: not even the status the change of the approved list sends.
        EXPECT_FALSE(nextLine(**phone).has_value());
        EXPECT_TRUE((*phone)->isClosed());
    }
    const Json status = parse(nextLine(*other));
    EXPECT_EQ(status["status"]["_0"]["deviceApproved"], true);
    EXPECT_FALSE(other->isClosed());
    EXPECT_TRUE(registry->isRevoked("D-R"));
    EXPECT_FALSE(secrets.read(SecretStore::awayService, "D-R")) << "the away key was kept";
    EXPECT_EQ(push->forgotten(), std::vector<std::string>{"D-R"});
    EXPECT_TRUE(eventually([&] {
        return server->connectedDevices().value() ==
               std::vector<quib::HostServer::ConnectedDevice>{{"D-O", "Other", true, false}};
    }));
}

TEST_F(HostServer, UnencodableReplyIsDroppedButStillClosesWhenAskedTo) {
    int texts = 0;
    server->setGate([&](const ClientMessage& message, quib::HostServer::Client& client) {
        if (!std::holds_alternative<ClientMessage::Text>(message.value)) return true;
        server->sendEncoded(fail("cannot be encoded"), client, ++texts == 2);
        return false;
    });
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(text + ping(1));
    EXPECT_EQ(caseOf(parse(phone.readLine())), "pong");
    phone.write(text);
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_FALSE(phone.readLine(0ms));
}

TEST_F(HostServer, StatusReachesEveryControlConnectionButTargetsOnlyApprovedOnes) {
    approve("D-A", "Approved");
    targets->setSnapshot({{target("T")}, {}});
    const auto port = startServer();
    GreetedPhone approved(port, hello("D-A", "Approved"));
    GreetedPhone waiting(port, hello("D-W", "Waiting"));
    TestPhone pending(code);
    ASSERT_FALSE(pending.connect(port));
    TestPhone upload(code);
    ASSERT_FALSE(upload.connect(port));
    upload.write(R"({"uploadHello":{"_0":{"deviceID":"D-A","deviceName":"Approved","targetIDs":["T"],"count":1}}})"
                 "\n");
    ASSERT_TRUE(upload.readLine().has_value());
    saveSeen();
    for (auto* phone : {&approved, &waiting}) (void)heardUntilSettled(**phone, 2);

    server->broadcastStatus();
    server->broadcastTargets();
    EXPECT_EQ(parse(nextLine(*approved))["status"]["_0"]["deviceApproved"], true);
    EXPECT_EQ(parse(nextLine(*approved))["targets"]["_0"], targetList({target("T")}));
    EXPECT_EQ(parse(nextLine(*waiting))["status"]["_0"]["deviceApproved"], false);
    // The targets went out from the network queue before the approved phone read them.
    EXPECT_EQ(casesUntilSettled(*waiting), std::vector<std::string>{});
    EXPECT_FALSE(pending.readLine(50ms));
    EXPECT_FALSE(upload.readLine(50ms));  // an upload in progress carries no lines
}

// The target store's saved and provisional lists reach approved phones as one target list, its
// active and unresolved targets as the status; a provisional list equal to the last one sends
// nothing.
TEST_F(HostServer, TargetStoreChangesReachPhonesAsTargetsAndStatus) {
    approve("D-A", "Phone");
    const auto port = startServer();
    GreetedPhone phone(port, hello("D-A", "Phone"));
    ASSERT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
    saveSeen();  // with its hello's own status
    (void)heardUntilSettled(*phone, 2);
    auto onMain = [&](std::function<void()> change) { main->post(std::move(change)); };

    targets->setSnapshot({{target("A")}, {target("P", true)}});
    onMain([&] { targets->targets().set({target("A")}); });
    EXPECT_EQ(parse(nextLine(*phone))["targets"]["_0"], targetList({target("A"), target("P", true)}));

    onMain([&] { targets->provisionalTargets().set({target("P", true)}); });
    EXPECT_EQ(parse(nextLine(*phone))["targets"]["_0"], targetList({target("A"), target("P", true)}));
    onMain([&] { targets->provisionalTargets().set({target("P", true)}); });
    EXPECT_FALSE(nextLine(*phone, 400ms)) << "a repeated provisional list was broadcast";

    targets->setSnapshot({{target("A")}, {target("P", true)}}, "A");
    onMain([&] { targets->activeTargetID().set("A"); });
    EXPECT_EQ(parse(nextLine(*phone))["status"]["_0"]["activeTargetID"], "A");

    targets->setSnapshot({{target("A")}, {target("P", true)}}, "A", {"X"});
    onMain([&] { targets->unresolvedTargetIDs().set({"X"}); });
    EXPECT_EQ(parse(nextLine(*phone))["status"]["_0"]["unresolvedTargetIDs"], Json::array({"X"}));
    EXPECT_FALSE(nextLine(*phone, 300ms));
}

TEST_F(HostServer, StatusIsBuiltFromTheHostsStateForOneDevice) {
    approve("D-A", "Phone");
    targets->setSnapshot({}, "T-1", {"T-2", "T-3"});
    permissions->setAccessibilityTrusted(true);
    permissions->setScreenRecordingGranted(true);
    injector->setPaused(true);
    (void)settings->setString("quib.serviceName", "Studio");

    const HostStatus status = server->status("D-A");
    EXPECT_EQ(status.hostName, "Studio");
    EXPECT_EQ(status.protocolVersion, 23);
    EXPECT_TRUE(status.accessibilityGranted);
    EXPECT_TRUE(status.injectionPaused);
    EXPECT_EQ(status.activeTargetID, "T-1");
    EXPECT_TRUE(status.deviceApproved);
    EXPECT_EQ(status.tmuxAvailable, Tmux().isAvailable());
    EXPECT_TRUE(status.screenRecordingGranted);
    EXPECT_EQ(status.unresolvedTargetIDs, (std::vector<std::string>{"T-2", "T-3"}));
    EXPECT_EQ(status.pushRelayConfigured, false);

    const HostStatus nobody = server->status(std::nullopt);
    EXPECT_FALSE(nobody.deviceApproved);
    EXPECT_FALSE(server->status("D-X").deviceApproved);
    permissions->setAccessibilityTrusted(false);
    EXPECT_FALSE(server->status("D-A").accessibilityGranted);
}

// A list of targets larger than twice the backlog limit once had every hello closed at once,
// for good: a large reply is sent whole to a phone that reads it, however long that takes.
TEST_F(HostServer, AReplyFarLargerThanTheBacklogLimitReachesAPhoneThatReadsIt) {
    std::vector<QuibTarget> large;
    for (int n = 0; n < 40; ++n) {
        large.push_back(target("T-" + std::to_string(n)));
        large.back().symbol = std::string(256 << 10, 's');
    }
    approve("D-A", "Phone");
    targets->setSnapshot({large, {}});
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-A", "Phone"));
    // Taking its time, but reading on: the clock moves on only once the phone has taken more of
    // what waits for it than when the clock last moved. Ten megabytes take a while under the
    // sanitizers on a busy machine, hence the long wait for a line.
    std::optional<Json> list;
    std::size_t waiting = std::numeric_limits<std::size_t>::max();
    while (auto line = nextLine(phone, 60s)) {
        const Json message = parse(line);
        if (message.contains("targets")) {
            list = message["targets"]["_0"];
            break;
        }
        ASSERT_TRUE(eventually([&] { return waiting == 0 || server->inspect().largestBacklog < waiting; }, 60s));
        clock->advance(quib::HostServer::backlogDeadline - 1s);
        waiting = server->inspect().largestBacklog;
    }
    ASSERT_TRUE(list) << "closed before the targets came";
    EXPECT_EQ(list->size(), large.size());
    EXPECT_EQ(server->inspect().clients, 1u);
}

}  // namespace quib::testing
