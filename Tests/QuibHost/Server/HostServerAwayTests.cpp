// The away listener, its per-device keys, and the remote-access messages.

#include "HostServerFixture.hpp"

#include "Runtime/Base64.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tests/Support/TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

const std::string requestRemoteAccess = R"({"requestRemoteAccess":{}})"
                                        "\n";

}  // namespace

class HostServerAway : public HostServer {
protected:
    void SetUp() override {
        HostServer::SetUp();
        awayPort = freePort();
        (void)settings->setInteger(ServerSettings::awayPortKey, awayPort);
        (void)settings->setBool(RemoteReachService::enabledKey, true);
    }

    QuibTransport::Key storeKey(const std::string& deviceID) {
        QuibTransport::Key key{"quib.away.1." + deviceID, QuibTransport::newRemoteKey()};
        EXPECT_TRUE(secrets.write(key.material, SecretStore::awayService, deviceID));
        return key;
    }

    // The phone's next message of this case, skipping others; null when none comes.
    Json next(TestPhone& phone, const std::string& name) {
        while (auto line = nextLine(phone)) {
            Json message = Json::parse(*line);
            if (caseOf(message) == name) return message[name];
        }
        return Json();
    }

    // A phone connected to a port with this key or code, its hello said and its welcome read.
    std::unique_ptr<TestPhone> greeted(std::uint16_t port, const std::string& deviceID,
                                       const std::optional<QuibTransport::Key>& key = std::nullopt) {
        auto phone = key ? std::make_unique<TestPhone>(*key) : std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(hello(deviceID, "Phone " + deviceID));
        EXPECT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
        return phone;
    }

    bool awayListening() {
        return eventually([&] { return server->inspect().awayListenerPort == awayPort; });
    }

    std::uint16_t awayPort = 0;
};

TEST_F(HostServerAway, LocalPhoneIsHandedItsKeyWhichTheAwayListenerAcceptsAtOnce) {
    approve("D-A", "Phone");
    const auto port = startServer();
    EXPECT_TRUE(
        eventually([&] { return log->contains("away: no approved device has a key yet, so nothing is listening"); }));
    EXPECT_FALSE(server->inspect().awayListenerPort);

    // A phone on 127.0.0.1 reaches the dual-stack listener as ::ffff:127.0.0.1 and is judged by
    // its plain IPv4 address: a local peer.
    auto local = greeted(port, "D-A");
    const Json remote = next(*local, "remoteAccess")["_0"];
    EXPECT_EQ(remote["isEnabled"], true);
    ASSERT_EQ(remote["keyIdentity"], "quib.away.1.D-A");
    const auto material = base64Decode(remote["keyMaterial"].get<std::string>());
    ASSERT_TRUE(material && material->size() == 32u);
    EXPECT_EQ(secrets.read(SecretStore::awayService, "D-A"), material);
    EXPECT_TRUE(log->contains("away: issued a key for <private>"));
    ASSERT_TRUE(awayListening());
    EXPECT_TRUE(eventually(
        [&] { return log->contains("away: listening on " + std::to_string(awayPort) + " for 1 device(s)"); }));

    // From away the phone is never handed its key, not even when it asks.
    auto away = greeted(awayPort, "D-A", QuibTransport::Key{"quib.away.1.D-A", *material});
    EXPECT_TRUE(log->contains("away: connection from <private>"));
    const Json awayRemote = next(*away, "remoteAccess")["_0"];
    EXPECT_EQ(awayRemote, Json::parse(R"({"isEnabled":true,"candidates":[]})"));
    (void)heardUntilSettled(*away, 2);
    away->write(requestRemoteAccess);
    EXPECT_EQ(next(*away, "remoteAccess")["_0"], awayRemote);

    // Locally it keeps its key across connections.
    auto again = greeted(port, "D-A");
    EXPECT_EQ(next(*again, "remoteAccess")["_0"]["keyMaterial"], remote["keyMaterial"]);
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
}

// The remote access and the waiting approvals of a welcome are built on the main loop. Work
// still queued there when the server goes must not keep a connection alive past the network
// queue it runs on (the sanitizer flavour sees the use after free).
TEST_F(HostServerAway, WorkLeftOnTheMainLoopOutlivesTheServerHarmlessly) {
    approve("D-A", "Phone");
    approvals->setPending({ApprovalRequest{}});
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-A", "Phone"));
    EXPECT_EQ(caseOf(parse(phone.readLine())), "welcome");  // read without running the main loop
    server.reset();
    main->runPending();
}

TEST_F(HostServerAway, RevokedDevicesKeyNoLongerOpensTheAwayListener) {
    approve("D-A", "Phone A");
    approve("D-B", "Phone B");
    const auto keyA = storeKey("D-A");
    const auto keyB = storeKey("D-B");
    startServer();
    ASSERT_TRUE(awayListening());
    greeted(awayPort, "D-A", keyA);

    main->post([&] { (void)server->revoke("D-A"); });
    main->runPending();
    EXPECT_FALSE(secrets.read(SecretStore::awayService, "D-A"));
    EXPECT_TRUE(eventually(
        [&] { return log->contains("away: listening on " + std::to_string(awayPort) + " for 1 device(s)"); }));
    TestPhone refused(keyA);
    EXPECT_TRUE(refused.connect(awayPort)) << "the revoked key still opened the away listener";
    greeted(awayPort, "D-B", keyB);
}

TEST_F(HostServerAway, UnchangedKeysAndPortKeepTheListenerAndANewPortMovesIt) {
    approve("D-A", "Phone");
    const auto key = storeKey("D-A");
    startServer();
    ASSERT_TRUE(awayListening());
    auto away = greeted(awayPort, "D-A", key);
    const std::string listening = "away: listening on " + std::to_string(awayPort) + " for 1 device(s)";
    ASSERT_TRUE(eventually([&] { return log->contains(listening); }));
    log->clear();

    server->startAway();
    server->startAway();
    (void)server->inspect();  // runs both, and any ready report a new listener would post
    (void)server->inspect();
    EXPECT_FALSE(log->contains("away: listening on"));

    const std::uint16_t moved = freePort();
    (void)settings->setInteger(ServerSettings::awayPortKey, moved);
    server->startAway();
    EXPECT_TRUE(eventually([&] { return server->inspect().awayListenerPort == moved; }));
    TestPhone old(key);
    EXPECT_TRUE(old.connect(awayPort)) << "the old away port still listens";
    away->write(ping(3));
    EXPECT_EQ(next(*away, "pong")["nonce"], 3) << "a connection the old listener accepted was closed";
}

TEST_F(HostServerAway, StoredPortsOutsideTheirRangeUseTheDefault) {
    for (std::int64_t stored : {0, 80, 1024, 65536, 70000, -1}) {
        (void)settings->setInteger(ServerSettings::awayPortKey, stored);
        EXPECT_EQ(ServerSettings::awayPort(*settings), 61423) << stored;
    }
    (void)settings->remove(ServerSettings::awayPortKey);
    EXPECT_EQ(ServerSettings::awayPort(*settings), 61423);
    for (std::int64_t stored : {1025, 65535}) {
        (void)settings->setInteger(ServerSettings::awayPortKey, stored);
        EXPECT_EQ(ServerSettings::awayPort(*settings), stored);
    }
}

TEST_F(HostServerAway, NewAwayListenerTakesOnlyWhatIsLeftOfTheBudget) {
    (void)settings->setBool(RemoteReachService::enabledKey, false);
    approve("D-A", "Phone");
    storeKey("D-A");
    const auto port = startServer();
    TestPhone first(code);
    TestPhone second(code);
    ASSERT_FALSE(first.connect(port));
    ASSERT_FALSE(second.connect(port));
    ASSERT_TRUE(eventually([&] { return server->inspect().pending == 2; }));

    (void)settings->setBool(RemoteReachService::enabledKey, true);
    server->startAway();
    ASSERT_TRUE(awayListening());
    EXPECT_EQ(server->inspect().awayListenerLimit, 6);
}

// Switching away access off in the settings and starting again only removes the listener;
// stopAway also closes the away connections, and each one's end cleans up after it.
TEST_F(HostServerAway, StopAwayClosesAwayConnectionsAndReleasesWhatTheyHeld) {
    desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
    approve("D-A", "Phone");
    const auto key = storeKey("D-A");
    // Stands in for an approval request the away phone submitted.
    server->setGate([&](const ClientMessage& message, quib::HostServer::Client& client) {
        if (std::holds_alternative<ClientMessage::Hello>(message.value) && client.isAway)
            client.approvalIDs.insert("REQ-1");
        return true;
    });
    const auto port = startServer();
    ASSERT_TRUE(awayListening());
    auto away = greeted(awayPort, "D-A", key);
    away->write(R"({"click":{"button":"left","phase":"down","clickCount":1}})"
                "\n");
    ASSERT_TRUE(settle(*away));
    ASSERT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::left});
    auto local = greeted(port, "D-A");
    TestPhone pendingAway(key);
    ASSERT_FALSE(pendingAway.connect(awayPort));
    ASSERT_TRUE(eventually([&] { return server->inspect().pending == 1; }));

    (void)settings->setBool(RemoteReachService::enabledKey, false);
    server->startAway();
    EXPECT_TRUE(eventually([&] { return !server->inspect().awayListenerPort; }));
    EXPECT_TRUE(settle(*away));
    EXPECT_EQ(server->inspect().pending, 1u);

    server->stopAway();
    EXPECT_TRUE(away->waitClosed());
    EXPECT_TRUE(pendingAway.waitClosed());
    EXPECT_TRUE(eventually([&] { return desktop->pressedButtons().empty(); }))
        << "the away phone's button stays pressed";
    EXPECT_TRUE(eventually([&] { return approvals->withdrawn() == std::set<std::string>{"REQ-1"}; }));
    EXPECT_EQ(failuresOf("127.0.0.1"), 0) << "the closed pending connection counted as a failed handshake";
    EXPECT_TRUE(settle(*local));
    EXPECT_EQ(server->inspect().clients, 1u);
}

TEST_F(HostServerAway, RemoteAccessGoesOnlyToControlConnectionsOfApprovedDevices) {
    approve("D-A", "Approved");
    QuibTarget uploadTarget;
    uploadTarget.id = "T";
    targets->setSnapshot({{uploadTarget}, {}});  // an upload hello names only targets that exist
    const auto port = startServer();
    auto approved = greeted(port, "D-A");
    auto waiting = greeted(port, "D-W");
    TestPhone upload(code);
    ASSERT_FALSE(upload.connect(port));
    upload.write(R"({"uploadHello":{"_0":{"deviceID":"D-A","deviceName":"Approved","targetIDs":["T"],"count":1}}})"
                 "\n");
    ASSERT_EQ(caseOf(parse(nextLine(upload))), "uploadReady");
    saveSeen();
    for (auto* phone : {approved.get(), waiting.get()}) (void)heardUntilSettled(*phone, 2);

    server->broadcastRemoteAccess();
    EXPECT_EQ(next(*approved, "remoteAccess")["_0"]["isEnabled"], true);
    // The broadcast chose its phones before the approved one's payload was built.
    EXPECT_EQ(casesUntilSettled(*waiting), std::vector<std::string>{});
    EXPECT_FALSE(upload.readLine(50ms));

    waiting->write(requestRemoteAccess);
    EXPECT_EQ(caseOf(parse(nextLine(*waiting))), "error");  // told to wait for approval
}

TEST_F(HostServerAway, BurstOfCandidateChangesIsToldOnce) {
    approve("D-A", "Phone");
    const auto port = startServer();
    auto phone = greeted(port, "D-A");
    (void)heardUntilSettled(*phone, 2);
    main->post([&] { server->beginRemoteAccessWatch(); });
    main->runPending();

    main->post([&] {
        reach->candidates().set({{"192.168.1.20", 61413, QuibCandidate::Reach::local, "this network"}});
        reach->candidates().set({{"192.168.1.21", 61413, QuibCandidate::Reach::local, "this network"}});
    });
    const Json remote = next(*phone, "remoteAccess")["_0"];
    EXPECT_EQ(remote["candidates"][0]["host"], "192.168.1.21");
    EXPECT_FALSE(nextLine(*phone, 400ms)) << "the burst was told more than once";

    main->post([&] { reach->status().set({RemoteReachService::Status::Kind::blocked, "No router"}); });
    EXPECT_EQ(next(*phone, "remoteAccess")["_0"]["isEnabled"], true);
}

}  // namespace quib::testing
