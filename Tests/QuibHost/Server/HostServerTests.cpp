#include "HostServerFixture.hpp"

#include "Shared/Json.hpp"
#include "TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

TEST_F(HostServer, RightCodeConnectsAndItsLinesReachDispatch) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));

    phone.write("{\"nonsense\":{}}\n" + ping(42));
    EXPECT_EQ(parse(phone.readLine()), Json::parse(R"({"error":{"_0":"Unreadable message"}})"));
    const Json pong = parse(phone.readLine());
    EXPECT_EQ(pong["pong"]["nonce"], 42);
    EXPECT_EQ(pong["pong"]["hostTime"], clock->now().time_since_epoch().count());

    phone.write(hello("D-1", "Ada's phone"));
    EXPECT_TRUE(eventually([&] { return server->inspect().clients == 1; }));
    EXPECT_TRUE(eventually([&] { return !server->connectedDevices().value().empty(); }));
    EXPECT_EQ(server->connectedDevices().value(),
              (std::vector<quib::HostServer::ConnectedDevice>{{"D-1", "Ada's phone", false, false}}));
    EXPECT_EQ(server->inspect().listenerLimit, 7);
    EXPECT_FALSE(phone.isClosed());
}

TEST_F(HostServer, MappedIPv4PeerIsShownAndKeyedAsPlainIPv4) {
    const auto port = startServer();
    TestPhone phone("WRONG2");
    EXPECT_TRUE(phone.connect(port));
    EXPECT_TRUE(eventually([&] { return failuresOf("127.0.0.1") == 1; }));
    EXPECT_EQ(server->inspect().throttles.count("::ffff:127.0.0.1"), 0u);

    TestPhone right(code);
    ASSERT_FALSE(right.connect(port));
    EXPECT_TRUE(eventually([&] { return log->contains("client ready: remote=127.0.0.1:"); }));
    EXPECT_TRUE(log->contains("interfaces=lo(loopback) expensive=false"));
}

TEST_F(HostServer, WrongCodeFailsAndCountsAgainstItsSource) {
    const auto port = startServer();
    TestPhone phone("WRONG2", "127.0.0.2");
    EXPECT_TRUE(phone.connect(port));
    EXPECT_TRUE(eventually([&] { return failuresOf("127.0.0.2") == 1; }));
    EXPECT_EQ(server->inspect().pending, 0u);
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
}

TEST_F(HostServer, RepeatedFailuresLockTheSourceOutForLongerUpToFiveMinutes) {
    const auto port = startServer();
    const std::string source = "127.0.0.3";
    const std::vector<std::int64_t> locks = {0, 0, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300};
    for (std::size_t i = 0; i < locks.size(); ++i) {
        TestPhone phone("WRONG2", source);
        EXPECT_TRUE(phone.connect(port));
        ASSERT_TRUE(eventually([&] { return failuresOf(source) == static_cast<std::int64_t>(i + 1); })) << i;
        if (locks[i] == 0) continue;
        const std::string line = source + ": " + std::to_string(i + 1) + " failed handshakes, locked out " +
                                 std::to_string(locks[i]) + "s (";
        EXPECT_TRUE(log->contains(line)) << line;

        // Turned away silently while locked out: no TLS, no count, no longer lock-out.
        clock->advance(std::chrono::milliseconds(400));
        TestPhone refused(code, source);
        EXPECT_TRUE(refused.connect(port));
        const std::string refusal = "refused " + source + ": locked out for another " +
                                    std::to_string(locks[i]) + "s";
        EXPECT_TRUE(eventually([&] { return log->contains(refusal); })) << refusal;
        EXPECT_EQ(failuresOf(source), static_cast<std::int64_t>(i + 1));
        clock->advance(std::chrono::seconds(locks[i]));
    }
    // Another source is not affected.
    TestPhone other(code, "127.0.0.4");
    EXPECT_FALSE(other.connect(port));
}

TEST_F(HostServer, AcceptedHelloClearsTheCountOfItsSource) {
    const auto port = startServer();
    for (int i = 0; i < 2; ++i) {
        TestPhone wrong("WRONG2", "127.0.0.5");
        EXPECT_TRUE(wrong.connect(port));
    }
    ASSERT_TRUE(eventually([&] { return failuresOf("127.0.0.5") == 2; }));
    TestPhone phone(code, "127.0.0.5");
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-2", "Pad"));
    EXPECT_TRUE(eventually([&] { return server->inspect().throttles.empty(); }));
}

TEST_F(HostServer, SilentConnectionIsDroppedAtTheDeadlineAndCountsAsFailed) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    ASSERT_TRUE(eventually([&] { return server->inspect().pending == 1; }));
    clock->advance(9s);
    EXPECT_FALSE(phone.waitClosed(50ms));
    clock->advance(1s);
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_TRUE(eventually([&] { return failuresOf("127.0.0.1") == 1; }));
    EXPECT_TRUE(log->contains("dropping 127.0.0.1: connected but never said hello"));
}

TEST_F(HostServer, ConnectionPastItsHelloOutlivesTheDeadline) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-3", "Phone"));
    ASSERT_TRUE(eventually([&] { return server->inspect().clients == 1; }));
    EXPECT_TRUE(parse(phone.readLine()).contains("welcome"));
    clock->advance(11s);
    phone.write(ping(7));
    EXPECT_EQ(parse(phone.readLine())["pong"]["nonce"], 7);
    phone.close();
    EXPECT_TRUE(eventually([&] { return server->inspect().clients == 0; }));
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
    EXPECT_TRUE(eventually([&] { return server->connectedDevices().value().empty(); }));
}

TEST_F(HostServer, StopClosesEveryConnectionWithoutCountingFailures) {
    const auto port = startServer();
    TestPhone pending(code);
    TestPhone greeted(code);
    ASSERT_FALSE(pending.connect(port));
    ASSERT_FALSE(greeted.connect(port));
    greeted.write(hello("D-6", "Phone"));
    ASSERT_TRUE(eventually([&] { auto t = server->inspect(); return t.clients == 1 && t.pending == 1; }));

    server->stop();
    EXPECT_TRUE(pending.waitClosed());
    EXPECT_TRUE(greeted.waitClosed());
    EXPECT_TRUE(eventually([&] { return !server->isListening().value(); }));
    main->runPending();
    EXPECT_TRUE(server->inspect().throttles.empty());
    EXPECT_FALSE(server->inspect().listenerPort.has_value());
    EXPECT_TRUE(eventually([&] { return advertiser->withdrawCount() == 1; }));
    EXPECT_TRUE(server->connectedDevices().value().empty());
}

TEST_F(HostServer, StartForgetsEveryLockOutAndListensAgain) {
    const auto port = startServer();
    for (int i = 0; i < 3; ++i) {
        TestPhone wrong("WRONG2");
        EXPECT_TRUE(wrong.connect(port));
    }
    ASSERT_TRUE(eventually([&] { return failuresOf("127.0.0.1") == 3; }));
    EXPECT_EQ(startServer(), port);
    EXPECT_TRUE(server->inspect().throttles.empty());
    TestPhone phone(code);
    EXPECT_FALSE(phone.connect(port));
    EXPECT_TRUE(eventually([&] { return advertiser->history().size() == 2; }));
}

TEST_F(HostServer, AdvertisesTheServiceNameSettingOrTheHostName) {
    settings->setString(ServerSettings::serviceNameKey, " Studio");
    const auto port = startServer();
    ASSERT_TRUE(eventually([&] { return advertiser->current().has_value(); }));
    EXPECT_EQ(advertiser->current()->name, " Studio");
    EXPECT_EQ(advertiser->current()->port, port);
    EXPECT_EQ(advertiser->current()->txt, (TxtRecord{{"v", "23"}, {"vmin", "5"}, {"host", " Studio"}}));

    settings->setString(ServerSettings::serviceNameKey, "   ");
    startServer();
    ASSERT_TRUE(eventually([&] { return advertiser->history().size() == 2; }));
    EXPECT_EQ(advertiser->current()->name, ServerSettings::systemHostName());
}

TEST_F(HostServer, PortOutsideItsRangeUsesTheDefaultPort) {
    settings->setInteger(ServerSettings::portKey, 1024);
    server->start(code);
    ASSERT_TRUE(eventually([&] { return server->isListening().value() || server->lastError().value().has_value(); }));
    if (!server->isListening().value()) GTEST_SKIP() << "port 61413 is taken here: " << *server->lastError().value();
    EXPECT_EQ(server->inspect().listenerPort, 61413);
}

TEST_F(HostServer, PortInUseLeavesTheErrorAndNoListener) {
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v6(), 0});
    settings->setInteger(ServerSettings::portKey, taken.local_endpoint().port());
    server->start(code);
    EXPECT_TRUE(eventually([&] { return server->lastError().value().has_value(); }));
    EXPECT_FALSE(server->isListening().value());
    EXPECT_FALSE(advertiser->current().has_value());
}

TEST_F(HostServer, ApprovingAConnectedDeviceRepublishesTheDeviceList) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-7", "Phone"));
    ASSERT_TRUE(eventually([&] { return server->connectedDevices().value().size() == 1; }));
    EXPECT_FALSE(server->connectedDevices().value().front().approved);
    approve("D-7", "Phone");
    EXPECT_TRUE(eventually([&] {
        const auto devices = server->connectedDevices().value();
        return devices.size() == 1 && devices.front().approved;
    }));
}

}  // namespace quib::testing
