#include "HostServerFixture.hpp"

#include <asio/error.hpp>

#include <atomic>
#include <future>
#include <thread>

#include "Runtime/AssertOn.hpp"
#include "Shared/Json.hpp"
#include "Shared/StillChannel.hpp"
#include "Shared/StillFrame.hpp"
#include "Tests/Support/TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

// Plain TCP connections that never start TLS, from one loopback address.
class IdleSockets {
public:
    IdleSockets(const std::string& from, std::uint16_t port, int count) {
        for (int i = 0; i < count; ++i) {
            auto& socket = sockets_.emplace_back(io_);
            socket.open(asio::ip::tcp::v4());
            socket.bind({asio::ip::make_address(from), 0});
            socket.connect({asio::ip::make_address("127.0.0.1"), port});
        }
    }

private:
    asio::io_context io_;
    std::vector<asio::ip::tcp::socket> sockets_;
};

}  // namespace

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
    // Said plainly, on the first attempt already, not as the TLS error underneath.
    EXPECT_TRUE(log->contains("wrong pairing code from 127.0.0.2"));
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
        const std::string refusal = "refused " + source + ": locked out for another " + std::to_string(locks[i]) + "s";
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

// A peer that sent not one byte guessed nothing: such connections, a phone's retries left in the
// backlog while every slot was taken, once cost their phone a lock-out once accepted.
TEST_F(HostServer, SilentConnectionIsDroppedAtTheDeadlineAndCountsAsFailedUnlessItSentNothing) {
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

    for (int round = 0; round < 3; ++round) {
        {
            IdleSockets retries("127.0.0.2", port, 2);
            ASSERT_TRUE(eventually([&] { return server->inspect().pending == 2; }));
        }
        ASSERT_TRUE(eventually([&] { return server->inspect().pending == 0; }));
    }
    {
        IdleSockets idle("127.0.0.2", port, 1);
        ASSERT_TRUE(eventually([&] { return server->inspect().pending == 1; }));
        clock->advance(quib::HostServer::helloDeadline);
        ASSERT_TRUE(eventually([&] { return server->inspect().pending == 0; }));
    }
    EXPECT_EQ(failuresOf("127.0.0.2"), 0);
    TestPhone owner(code, "127.0.0.2");
    EXPECT_FALSE(owner.connect(port));
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
    ASSERT_TRUE(eventually([&] {
        auto t = server->inspect();
        return t.clients == 1 && t.pending == 1;
    }));

    onMain([&] { server->stop(); });
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
    (void)settings->setString(ServerSettings::serviceNameKey, " Studio");
    const auto port = startServer();
    ASSERT_TRUE(eventually([&] { return advertiser->current().has_value(); }));
    EXPECT_EQ(advertiser->current()->name, " Studio");
    EXPECT_EQ(advertiser->current()->port, port);
    EXPECT_EQ(advertiser->current()->txt, (TxtRecord{{"v", "23"}, {"vmin", "5"}, {"host", " Studio"}}));

    (void)settings->setString(ServerSettings::serviceNameKey, "   ");
    startServer();
    ASSERT_TRUE(eventually([&] { return advertiser->history().size() == 2; }));
    EXPECT_EQ(advertiser->current()->name, ServerSettings::systemHostName());
}

TEST_F(HostServer, PortOutsideItsRangeUsesTheDefaultPort) {
    (void)settings->setInteger(ServerSettings::portKey, 1024);
    onMain([&] { server->start(code); });
    ASSERT_TRUE(eventually([&] { return server->isListening().value() || server->lastError().value().has_value(); }));
    if (!server->isListening().value()) GTEST_SKIP() << "port 61413 is taken here: " << *server->lastError().value();
    EXPECT_EQ(server->inspect().listenerPort, 61413);
}

TEST_F(HostServer, PortInUseLeavesTheErrorAndNoListener) {
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v6(), 0});
    (void)settings->setInteger(ServerSettings::portKey, taken.local_endpoint().port());
    onMain([&] { server->start(code); });
    EXPECT_TRUE(eventually([&] { return server->lastError().value().has_value(); }));
    EXPECT_FALSE(server->isListening().value());
    EXPECT_FALSE(advertiser->current().has_value());
    // The user learns which port and which setting to change.
    EXPECT_NE(server->lastError().value()->find("(port " + std::to_string(taken.local_endpoint().port()) +
                                                ", the setting quib.port)"),
              std::string::npos)
        << *server->lastError().value();
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

// What the connection server does against peers that misbehave: slots shared fairly between
// sources, bounded backlogs, side channels held open, clean closes, and a safe shut-down.
// A third connection of a source waits, unstarted, while its two are young; once they have
// stalled past their grace the source's further connections are refused, so it keeps no one out
// for longer than that.
TEST_F(HostServer, OneSourceHoldsAtMostTwoWaitingConnectionsAndCannotKeepAnotherOut) {
    const auto port = startServer();
    IdleSockets idle("127.0.0.2", port, 8);
    ASSERT_TRUE(eventually([&] { return server->inspect().pending == 2; }));
    EXPECT_FALSE(log->contains("refused 127.0.0.2"));
    clock->advance(quib::HostServer::pendingGrace);
    ASSERT_TRUE(
        eventually([&] { return log->contains("refused 127.0.0.2: 2 of its connections are already waiting"); }));
    EXPECT_EQ(server->inspect().pending, 2u);

    TestPhone phone(code, "127.0.0.3");
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-1", "Phone"));
    EXPECT_TRUE(parse(nextLine(phone)).contains("welcome"));
    EXPECT_EQ(failuresOf("127.0.0.2"), 0);  // refused newcomers count no failure
}

TEST_F(HostServer, NewcomerTakesTheSlotOfTheOldestWaitingConnectionOfTheBusiestSource) {
    const auto port = startServer();
    std::vector<std::unique_ptr<IdleSockets>> sources;
    for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        sources.push_back(std::make_unique<IdleSockets>(from, port, 2));
        const auto expected = 2 * sources.size();
        ASSERT_TRUE(eventually([&] { return server->inspect().pending == expected; }));
    }
    EXPECT_EQ(server->inspect().listenerLimit, 1);  // full, but a newcomer may still be weighed

    // Within their grace the waiting connections keep their slots, and the newcomer waits.
    TestPhone phone(code, "127.0.0.6");
    phone.beginConnect(port);
    EXPECT_FALSE(phone.waitConnected(300ms).has_value());
    EXPECT_EQ(server->inspect().pending, 8u);
    clock->advance(quib::HostServer::pendingGrace);
    ASSERT_EQ(phone.waitConnected(), std::error_code());
    phone.write(hello("D-1", "Phone"));
    EXPECT_TRUE(parse(nextLine(phone)).contains("welcome"));
    EXPECT_TRUE(log->contains("dropping 127.0.0.2: its waiting connection gives way to one from 127.0.0.6"));
    EXPECT_EQ(failuresOf("127.0.0.2"), 0);
    const auto tables = server->inspect();
    EXPECT_EQ(tables.pending + tables.clients, 8u);
}

// A burst of phones from many sources, each saying hello as soon as it is connected, once had
// some dropped for newcomers, a few with their hello already on the wire: a connection within
// its grace keeps its slot, and the newcomers wait their turn.
TEST_F(HostServer, ABurstOfHellosFromManySourcesIsWelcomedWhole) {
    const auto port = startServer();
    TestPhone first(code);
    ASSERT_FALSE(first.connect(port));
    first.write(hello("D-0", "Phone"));
    ASSERT_TRUE(parse(nextLine(first)).contains("welcome"));
    std::atomic<int> welcomed{0};
    std::vector<std::thread> phones;
    for (int n = 1; n <= 12; ++n) {
        phones.emplace_back([&, n] {
            TestPhone phone(code, "127.0.0." + std::to_string(10 + n));
            if (phone.connect(port)) return;
            phone.write(hello("D-" + std::to_string(n), "Phone"));
            while (auto line = phone.readLine(5s)) {
                if (!parse(line).contains("welcome")) continue;
                ++welcomed;
                break;
            }
            phone.close();
        });
    }
    eventually([&] { return welcomed == 12; }, 30s);
    for (auto& phone : phones) phone.join();
    EXPECT_EQ(welcomed, 12);
    EXPECT_FALSE(log->contains("gives way"));
}

TEST_F(HostServer, NinthConnectionWaitsWhileEverySlotIsPastItsFirstLine) {
    const auto port = startServer();
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 8; ++i) {
        phones.push_back(std::make_unique<TestPhone>(code));
        ASSERT_FALSE(phones.back()->connect(port)) << i;
        phones.back()->write(hello("D-" + std::to_string(i), "Phone"));
        ASSERT_TRUE(parse(nextLine(*phones.back())).contains("welcome"));
    }
    EXPECT_EQ(server->inspect().listenerLimit, 0);

    TestPhone ninth(code);
    ninth.beginConnect(port);
    EXPECT_FALSE(ninth.waitConnected(300ms).has_value());
    phones.front()->close();
    ASSERT_EQ(ninth.waitConnected(), std::error_code());
    ninth.write(ping(9));
    EXPECT_EQ(parse(ninth.readLine())["pong"]["nonce"], 9);
}

// 120 stills, 16 at a time, beside a control phone: some were once closed before their TLS
// handshake, as newcomers that found every slot taken ("every connection slot is taken") or as a
// third connection of their source. They wait their turn instead, each in the backlog or
// accepted and unread.
TEST_F(HostServer, ABurstOfStillsBesideAControlPhoneIsAnsweredWhole) {
    QuibTarget work;
    work.id = "T1";
    work.name = "Work";
    work.kind = QuibTarget::Kind::tmux;
    targets->setSnapshot({{work}, {}});
    stills->set(StillCaptureService::Still{Bytes{0x89, 'P', 'N', 'G'}, 64, 48, "Work"});
    approve("D-1", "Phone");
    const auto port = startServer();
    TestPhone control(code);
    ASSERT_FALSE(control.connect(port));
    control.write(hello("D-1", "Phone"));
    ASSERT_TRUE(parse(nextLine(control)).contains("welcome"));
    std::atomic<int> started{0};
    std::atomic<int> answered{0};
    std::vector<std::thread> phones;
    for (int w = 0; w < 16; ++w) {
        phones.emplace_back([&] {
            while (started++ < 120) {
                TestPhone still(code);
                still.beginConnect(port);
                const auto connected = still.waitConnected(20s);
                if (!connected || *connected) continue;
                still.write(R"({"stillHello":{"_0":{"deviceName":"Phone","deviceID":"D-1","targetID":"T1",)"
                            R"("maxLongEdge":64,"protocolVersion":23}}})"
                            "\n");
                StillFrameReader reader(StillChannel::maxStillBytes);
                if (reader.append(still.readUntilClosed(20s)).size() == 1) ++answered;
            }
        });
    }
    for (auto& phone : phones) phone.join();
    EXPECT_EQ(answered, 120);
    EXPECT_FALSE(log->contains("every connection slot is taken"));
    EXPECT_FALSE(log->contains("refused 127.0.0.1"));
    EXPECT_TRUE(settle(control));  // the control phone is served throughout
}

// Eight phones that say hello and are never approved once held every slot for as long as they
// stayed; an approved phone waits for one of them to reach its deadline.
TEST_F(HostServer, UnapprovedPhonesGiveWayAtTheirDeadline) {
    approve("D-OWNER", "Owner");
    const auto port = startServer();
    std::vector<std::unique_ptr<TestPhone>> strangers;
    for (int i = 0; i < 8; ++i) {
        strangers.push_back(std::make_unique<TestPhone>(code, "127.0.0." + std::to_string(20 + i)));
        ASSERT_FALSE(strangers.back()->connect(port)) << i;
        strangers.back()->write(hello("U-" + std::to_string(i), "Stranger"));
        ASSERT_TRUE(parse(nextLine(*strangers.back())).contains("welcome"));
    }
    TestPhone owner(code);
    owner.beginConnect(port);
    EXPECT_FALSE(owner.waitConnected(300ms).has_value());
    clock->advance(quib::HostServer::approvalDeadline - 1s);
    (void)server->inspect();
    EXPECT_FALSE(owner.waitConnected(100ms).has_value());
    clock->advance(1s);
    ASSERT_EQ(owner.waitConnected(), std::error_code());
    owner.write(hello("D-OWNER", "Owner"));
    EXPECT_TRUE(parse(nextLine(owner)).contains("welcome"));
    EXPECT_TRUE(log->contains("closing the connection of Stranger: not approved within 60s"));
    EXPECT_TRUE(strangers.front()->waitClosed());
}

// Eight view and listen channels of an approved phone that read nothing once held every slot
// for ever: the streamers send a channel no more while frames to it are in flight, so no backlog
// rule fired. A channel that takes none of what is in flight to it for a minute is closed.
TEST_F(HostServer, FrameChannelsThatTakeNothingAreClosedAndTheOwnerGetsIn) {
    approve("D-1", "Pad");
    const auto port = startServer();
    std::vector<std::unique_ptr<TestPhone>> channels;
    for (int i = 0; i < 8; ++i) {
        auto& channel = channels.emplace_back(std::make_unique<TestPhone>(code));
        ASSERT_FALSE(channel->connect(port)) << i;
        channel->stopReading();
        channel->write(i % 2 == 0
                           ? R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-1",)"
                             R"("maxWidth":8,"maxHeight":6}}})"
                             "\n"
                           : R"({"listenHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-1"}}})"
                             "\n");
    }
    ASSERT_TRUE(eventually([&] { return server->inspect().clients == 8; }));
    auto connections = panelStreamer->connections();
    for (const auto& listener : audioStreamer->connections()) connections.push_back(listener);
    ASSERT_EQ(connections.size(), 8u);
    // Frames of a mebibyte, as a streamer sends them, until one stays in flight: the kernel takes
    // no more, and what waits is far below any backlog limit.
    const auto frame = std::make_shared<const Bytes>(std::size_t{1} << 20, std::uint8_t{0x55});
    for (const auto& connection : connections) {
        for (int sent = 0; sent < 64; ++sent) {
            auto written = std::make_shared<std::promise<void>>();
            auto done = written->get_future();
            connection->send(frame, [written](Result<MonoTime>) { written->set_value(); });
            if (done.wait_for(300ms) != std::future_status::ready) break;
        }
    }
    EXPECT_GT(server->inspect().largestBacklog, 0u);

    TestPhone owner(code);
    owner.beginConnect(port);
    EXPECT_FALSE(owner.waitConnected(300ms).has_value());
    for (auto waited = 0s; waited < quib::HostServer::frameStallDeadline; waited += quib::HostServer::frameStallCheck) {
        clock->advance(quib::HostServer::frameStallCheck);
        (void)server->inspect();
    }
    EXPECT_FALSE(owner.waitConnected(100ms).has_value());
    clock->advance(quib::HostServer::frameStallCheck);
    ASSERT_EQ(owner.waitConnected(), std::error_code());
    owner.write(hello("D-1", "Pad"));
    EXPECT_TRUE(parse(nextLine(owner)).contains("welcome"));
    EXPECT_TRUE(log->contains("closing the view channel of Pad: it took none of "));
    EXPECT_TRUE(log->contains("closing the listen channel of Pad: it took none of "));
}

// A device name of 900 KB once went whole into each log line about its phone: every hello,
// control or side channel, keeps the name's first 64 characters.
TEST_F(HostServer, DeviceNamesOfEveryHelloAreCutToTheirLongest) {
    approve("D-1", "Phone");
    const auto port = startServer();
    const std::string huge(900 << 10, 'n');
    const std::string kept(quib::HostServer::longestDeviceName, 'n');
    TestPhone control(code);
    ASSERT_FALSE(control.connect(port));
    control.write(hello("D-1", huge));
    ASSERT_TRUE(parse(nextLine(control)).contains("welcome"));
    EXPECT_TRUE(eventually([&] {
        const auto devices = server->connectedDevices().value();
        return devices.size() == 1 && devices.front().name == kept;
    }));
    int from = 30;  // each from an address of its own: a refused hello counts against its source
    for (const char* channel : {"listenHello", "viewHello", "stillHello", "uploadHello"}) {
        TestPhone side(code, "127.0.0." + std::to_string(from++));
        ASSERT_FALSE(side.connect(port));
        side.write(Json{{channel,
                         {{"_0",
                           {{"protocolVersion", 23},
                            {"deviceName", huge},
                            {"deviceID", "D-X"},
                            {"maxWidth", 8},
                            {"maxHeight", 6},
                            {"targetID", "T"},
                            {"count", 1}}}}}}
                       .dump() +
                   "\n");
        EXPECT_TRUE(side.waitClosed()) << channel;
    }
    EXPECT_TRUE(eventually([&] { return log->contains("refused an upload from " + kept + ": not approved"); }));
    for (const auto& line : log->lines()) EXPECT_LT(line.size(), 1000u) << line.substr(0, 80);
}

// A peer that sends pings and never reads the pongs: once too much waits for it, the host stops
// reading from it, so its backlog stays bounded; when it stays so, the host closes it. The phone
// is approved: one that is not is closed once approvalDeadline has passed, which a slow host
// (one still filling the socket's buffers at the first backlog deadline) reaches first.
TEST_F(HostServer, PeerThatNeverReadsIsNoLongerReadFromAndIsClosedWhenItStaysSo) {
    approve("D-1", "Phone");
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-1", "Phone"));
    ASSERT_TRUE(parse(nextLine(phone)).contains("welcome"));
    phone.stopReading();
    std::string burst;
    for (int i = 0; i < 2000; ++i) burst += ping(1000000 + i);
    for (int i = 0; i < 400 && server->inspect().backlogged == 0; ++i) {
        phone.write(burst);
        eventually([&] { return server->inspect().backlogged == 1; }, 20ms);
    }
    ASSERT_EQ(server->inspect().backlogged, 1u);
    for (int i = 0; i < 50; ++i) phone.write(burst);
    clock->advance(29s);
    std::this_thread::sleep_for(100ms);                                  // let the host read whatever it still would
    const auto bound = TlsConnection::controlBacklogLimit + 256 * 1024;  // one read's worth of pongs
    EXPECT_LE(server->inspect().largestBacklog, bound);
    EXPECT_EQ(server->inspect().clients, 1u);
    // The socket's buffers may still take some of what waits, which counts as reading, for as
    // long as the host takes to fill them (long, under the sanitizers on a busy machine). The
    // clock moves on a deadline only once the backlog has held still for a moment; once the
    // buffers are full, a whole deadline passes without any reading.
    const auto closed = [&] { return server->inspect().clients == 0; };
    const auto heldStill = [&] {
        const auto before = server->inspect().largestBacklog;
        std::this_thread::sleep_for(300ms);
        return server->inspect().largestBacklog == before;
    };
    clock->advance(1s);
    for (int i = 0; i < 20 && !eventually(closed, 100ms); ++i) {
        while (!closed() && !heldStill()) {}
        clock->advance(quib::HostServer::backlogDeadline);
    }
    EXPECT_TRUE(eventually(closed));
    std::string said;
    for (const auto& line : log->lines()) said += line + "\n";
    EXPECT_TRUE(log->contains("closing 127.0.0.1: it read nothing of")) << said;
}

// A line past the limit was dropped without a word: its sender is told, and the connection
// reads on from the next line.
TEST_F(HostServer, ALineTooLongIsAnsweredWithAnErrorAndTheNextLineRead) {
    approve("D-1", "Phone");
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-1", "Phone"));
    ASSERT_TRUE(parse(nextLine(phone)).contains("welcome"));
    saveSeen();
    (void)heardUntilSettled(phone, 2);
    phone.write(R"({"text":{"_0":{"text":")" + std::string(2 * quib::HostServer::maxLineBytes, 'x') + R"("}}})" + "\n" +
                ping(7));
    EXPECT_EQ(parse(nextLine(phone)), Json::parse(R"({"error":{"_0":"That text is too long to send"}})"));
    EXPECT_EQ(parse(nextLine(phone))["pong"]["nonce"], 7);
}

TEST_F(HostServer, LinesBehindAClosingReplyAreNotHandled) {
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(std::string(R"({"text":{"_0":{"text":"hi"}}})") + "\n" + hello("D-1", "Phone") + ping(1));
    EXPECT_EQ(parse(nextLine(phone)), Json::parse(R"({"error":{"_0":"Send hello first"}})"));
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_FALSE(phone.readLine(0ms));
    EXPECT_EQ(phone.closeError(), asio::error::eof);
    EXPECT_EQ(server->inspect().clients, 0u);
    EXPECT_FALSE(log->contains("Phone is waiting to be approved"));
    // The phone does not answer the TLS close: the host waits a second for it, then cuts.
    clock->advance(TlsConnection::closeTimeout);
    EXPECT_TRUE(eventually([&] { return failuresOf("127.0.0.1") == 1; }));
}

// Tasks for a connection still queued on the main executor must not keep it alive past the
// network queue that owns its socket.
TEST_F(HostServer, ServerGoneBeforeTheMainExecutorRunsLeavesNoConnectionBehind) {
    approve("D-A", "Phone");
    approvals->setPending({ApprovalRequest{}});
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(hello("D-A", "Phone"));
    ASSERT_TRUE(parse(phone.readLine()).contains("welcome"));
    ASSERT_TRUE(phone.readLine().has_value());  // targets: the welcome's main-executor tasks are queued by now
    server.reset();
    main->runPending();
    EXPECT_TRUE(phone.waitClosed());
}

// A server made without one of its neighbours stops at once, naming it, rather than run without.
TEST(HostServerDeathTest, StopsWhenMadeWithoutANeighbour) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchFolder scratch("wiring");
    const auto madeWithout = [&](const std::function<void(quib::HostServer::Config&)>& leaveOut) {
        auto main = std::make_shared<MainLoop>();
        auto settings = Settings::inMemory();
        auto clock = std::make_shared<FakeClock>();
        auto config = TestHost{.main = main,
                               .settings = settings,
                               .clock = clock,
                               .registry = DeviceRegistry::create(main, settings, clock),
                               .permissions = std::make_shared<SettablePermissions>(),
                               .dataHome = scratch.path}
                          .serverConfig();
        leaveOut(config);
        (void)quib::HostServer::create(std::move(config));
    };
    EXPECT_DEATH(madeWithout([](auto& config) { config.neighbours.router = nullptr; }),
                 "HostServer was made without its target router");
    EXPECT_DEATH(madeWithout([](auto& config) { config.neighbours.stills = nullptr; }),
                 "HostServer was made without its still capture");
    EXPECT_DEATH(madeWithout([](auto& config) { config.permissions = nullptr; }),
                 "HostServer was made without its permissions");
}

// The connection tables belong to the network queue: reading them from any other thread stops the
// process where queue affinity is checked, and reading them there does not.
TEST(HostServerDeathTest, StopsWhenANetworkQueueMethodIsCalledOffThatQueue) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchFolder scratch("affinity");
    auto main = std::make_shared<MainLoop>();
    auto settings = Settings::inMemory();
    auto clock = std::make_shared<FakeClock>();
    auto server = TestHost{.main = main,
                           .settings = settings,
                           .clock = clock,
                           .registry = DeviceRegistry::create(main, settings, clock),
                           .permissions = std::make_shared<SettablePermissions>(),
                           .dataHome = scratch.path}
                      .loopbackServer();
    bool none = false;
    ASSERT_TRUE(server->networkQueue().sync([&] { none = server->connectedDeviceIDs().empty(); }));
    EXPECT_TRUE(none);
    EXPECT_DEATH((void)server->connectedDeviceIDs(), "connectedDeviceIDs ran off its queue");
    stopServer(server, *main);
}

}  // namespace quib::testing
