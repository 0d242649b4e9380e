// Away access of the real quib-host: an approved phone on this network is handed its away key,
// with which the stand-in phone and OpenSSL's own client reach the away port; and the restart
// of the server when the network interfaces change, in a private network namespace.

#include <cstdio>
#include <thread>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include "Platform/Base64.hpp"
#include "Platform/MainLoop.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "Tests/Integration/HostProcess.hpp"
#include "Tests/Platform/Linux/PrivateNetwork.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::Subprocess;
using testing::TempHome;

// A home whose host has away access on, an away port of its own and "bars-1" approved.
std::uint16_t prepareAway(TempHome& home, bool enabled) {
    auto settings = home.defaults();
    const std::uint16_t awayPort = testing::freePort();
    settings->setBool("quib.away.enabled", enabled);
    settings->setInteger("quib.awayPort", awayPort);
    auto main = std::make_shared<MainLoop>();
    auto registry = DeviceRegistry::create(main, settings, SystemClock::shared());
    main->post([&] { registry->approve("bars-1", "Bars"); });
    main->runPending();
    return awayPort;
}

// A connection to a loopback port in the ephemeral range can be given that very port as its own
// and meet itself (a simultaneous open): that is not a listener.
bool accepts(std::uint16_t port) {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    if (error) return false;
    const auto local = socket.local_endpoint(error);
    return error || local.port() != port;
}

bool acceptsWithin(std::uint16_t port, std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!accepts(port)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string caseOf(const std::string& line) {
    const Json message = Json::parse(line, nullptr, false);
    return message.is_object() && !message.empty() ? message.begin().key() : "";
}

// The phone's hello, and the remote-access payload it is sent after its welcome and targets.
Json helloUntilRemoteAccess(PhoneClient& phone) {
    EXPECT_TRUE(phone.sendHello("bars-1", "Bars"));
    auto welcome = phone.receiveLine(10s);
    EXPECT_TRUE(welcome && caseOf(*welcome) == "welcome");
    auto targets = phone.receiveLine(10s);
    EXPECT_TRUE(targets && caseOf(*targets) == "targets");
    auto remote = phone.receiveCase("remoteAccess", 10s);
    return remote ? (*remote)["_0"] : Json();
}

std::unique_ptr<PhoneClient> connect(const PhoneClient::Options& options) {
    auto phone = PhoneClient::connect(options);
    if (!phone) {
        ADD_FAILURE() << phone.error().message;
        return nullptr;
    }
    return std::move(*phone);
}

TEST(QuibHostAway, LocalPhoneIsHandedTheKeyThatOpensTheAwayPort) {
    TempHome home;
    const std::uint16_t awayPort = prepareAway(home, true);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_FALSE(accepts(awayPort)) << "the away port listens before any phone holds a key";

    auto local = connect(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(local);
    const Json remote = helloUntilRemoteAccess(*local);
    EXPECT_EQ(remote["isEnabled"], true);
    ASSERT_EQ(remote["keyIdentity"], "quib.away.1.bars-1") << remote.dump() << "\n" << host->log();
    const auto material = base64Decode(remote["keyMaterial"].get<std::string>());
    ASSERT_TRUE(material && material->size() == 32u);
    EXPECT_TRUE(acceptsWithin(awayPort, 1s)) << host->log();

    PhoneClient::Options awayOptions = phoneOptions(*host, "");
    awayOptions.port = awayPort;
    awayOptions.key = QuibTransport::Key{"quib.away.1.bars-1", *material};
    auto away = connect(awayOptions);
    ASSERT_TRUE(away);
    const Json awayRemote = helloUntilRemoteAccess(*away);
    EXPECT_EQ(awayRemote["isEnabled"], true);
    EXPECT_FALSE(awayRemote.contains("keyIdentity")) << awayRemote.dump();
    EXPECT_FALSE(awayRemote.contains("keyMaterial"));
    ASSERT_TRUE(away->sendLine(R"({"ping":{"nonce":5}})"));
    EXPECT_TRUE(away->receiveCase("pong", 10s));

    auto client = Subprocess::start({"openssl", "s_client", "-psk_identity", "quib.away.1.bars-1", "-psk", testing::hexOf(*material),
                                     "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-tls1_3", "-connect",
                                     "127.0.0.1:" + std::to_string(awayPort), "-ign_eof", "-nocommands"},
                                    {}, home.root() / "s_client.err");
    ASSERT_TRUE(client) << "openssl is not installed";
    ASSERT_TRUE(client->write(R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Bars","deviceID":"bars-1"}}})" "\n"
                              R"({"ping":{"nonce":7}})" "\n"));
    EXPECT_TRUE(client->readUntil("{\"pong\":{\"nonce\":7,", 15s)) << client->output() << "\nlog:\n" << host->log();
    EXPECT_EQ(client->output().find("keyMaterial"), std::string::npos);

    auto second = connect(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(second);
    EXPECT_EQ(helloUntilRemoteAccess(*second)["keyMaterial"], remote["keyMaterial"]);
    EXPECT_EQ(host->stop(), 0) << host->log();
}

TEST(QuibHostAway, WithAwayAccessOffNoKeyIsHandedOutAndNothingListens) {
    TempHome home;
    const std::uint16_t awayPort = prepareAway(home, false);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto local = connect(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(local);
    EXPECT_EQ(helloUntilRemoteAccess(*local), Json::parse(R"({"isEnabled":false,"candidates":[]})"));
    EXPECT_FALSE(acceptsWithin(awayPort, 500ms));
}

// Exit statuses of the child that runs the host in its own network namespace.
enum Outcome : int {
    restarted = 0,
    noHost = 3,
    firstPhoneRefused = 4,
    stillOpen = 5,
    notAnsweredAgain = 6,
    ipFailed = 7,
};

int restartOnNewInterface() {
    TempHome home;
    auto host = HostProcess::start(home);
    if (!host) return noHost;
    auto first = PhoneClient::connect(phoneOptions(*host, host->pairingCode()));
    if (!first || !(*first)->sendHello("ns-1", "Phone") || !(*first)->receiveCase("welcome", 10s)) return firstPhoneRefused;
    if (!testing::addVethPair()) return ipFailed;
    if (!(*first)->waitForClose(10s)) return stillOpen;
    // The phone may come back before the new listener is bound, as a real one would retry.
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        auto again = PhoneClient::connect(phoneOptions(*host, host->pairingCode()));
        if (again && (*again)->sendLine(R"({"ping":{"nonce":9}})") && (*again)->receiveCase("pong", 10s)) break;
        if (std::chrono::steady_clock::now() > end) {
            std::fprintf(stderr, "%s\n", host->log().c_str());
            return notAnsweredAgain;
        }
        std::this_thread::sleep_for(50ms);
    }
    return restarted;
}

TEST(QuibHostAway, NewNetworkInterfaceRestartsTheServer) {
    if (auto reason = testing::privateNetworkUnavailable()) GTEST_SKIP() << *reason;
    const auto status = testing::inPrivateNetwork(restartOnNewInterface, true);
    if (!status) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here";
    EXPECT_EQ(*status, restarted) << "see the Outcome codes";
}

}  // namespace
}  // namespace quib
