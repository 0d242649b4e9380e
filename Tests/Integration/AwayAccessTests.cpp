// Away access of the real quib-host: an approved phone on this network is handed its away key,
// with which the stand-in phone and OpenSSL's own client reach the away port; and the restart
// of the server when the network interfaces change, in a private network namespace.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "Runtime/Base64.hpp"
#include "Tests/Platform/Linux/PrivateNetwork.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::connectPhone;
using testing::HostProcess;
using testing::TempHome;

// A home whose host has away access on, an away port of its own, "bars-1" approved and no STUN
// server to ask. Such a host maps ports: it runs only in the loopback-only namespace.
std::uint16_t prepareAway(TempHome& home, bool enabled) {
    auto settings = home.defaults();
    const std::uint16_t awayPort = testing::freePort();
    (void)settings->setBool("quib.away.enabled", enabled);
    (void)settings->setInteger("quib.awayPort", awayPort);
    testing::approveBeforeStart(home, {{"bars-1", "Bars"}});
    testing::setStunServersBeforeStart(home, {});
    return awayPort;
}

// The socket inodes of process `pid`'s descriptors.
std::set<std::string> socketsOf(pid_t pid) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
    }
    return inodes;
}

// Whether process `pid` itself listens on TCP `port`. A connection cannot tell: tests running
// alongside may be given the same free port for hosts of their own.
bool listensOn(pid_t pid, std::uint16_t port) {
    const auto sockets = socketsOf(pid);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream file(table);
        std::string line;
        std::getline(file, line);  // the heading
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const auto colon = local.rfind(':');
            if (state != "0A" || colon == std::string::npos || !sockets.contains(inode)) continue;
            if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) return true;
        }
    }
    return false;
}

bool listensWithin(pid_t pid, std::uint16_t port, std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!listensOn(pid, port)) {
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

TEST(QuibHostAway, LocalPhoneIsHandedTheKeyThatOpensTheAwayPort) {
    TempHome home;
    const std::uint16_t awayPort = prepareAway(home, true);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_FALSE(listensOn(host->process().pid(), awayPort)) << "the away port listens before any phone holds a key";

    auto local = connectPhone(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(local);
    const Json remote = helloUntilRemoteAccess(*local);
    EXPECT_EQ(remote["isEnabled"], true);
    ASSERT_EQ(remote["keyIdentity"], "quib.away.1.bars-1") << remote.dump() << "\n" << host->log();
    const auto material = base64Decode(remote["keyMaterial"].get<std::string>());
    ASSERT_TRUE(material && material->size() == 32u);
    EXPECT_TRUE(listensWithin(host->process().pid(), awayPort, 1s)) << host->log();

    PhoneClient::Options awayOptions = phoneOptions(*host, "");
    awayOptions.port = awayPort;
    awayOptions.key = QuibTransport::Key{"quib.away.1.bars-1", *material};
    auto away = connectPhone(awayOptions);
    ASSERT_TRUE(away);
    const Json awayRemote = helloUntilRemoteAccess(*away);
    EXPECT_EQ(awayRemote["isEnabled"], true);
    EXPECT_FALSE(awayRemote.contains("keyIdentity")) << awayRemote.dump();
    EXPECT_FALSE(awayRemote.contains("keyMaterial"));
    ASSERT_TRUE(away->sendLine(R"({"ping":{"nonce":5}})"));
    EXPECT_TRUE(away->receiveCase("pong", 10s));

    auto client = ChildProcess::start({"openssl", "s_client", "-psk_identity", "quib.away.1.bars-1", "-psk",
                                       testing::hexOf(*material), "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-tls1_3",
                                       "-connect", "127.0.0.1:" + std::to_string(awayPort), "-ign_eof", "-nocommands"},
                                      {}, home.root() / "s_client.err");
    ASSERT_TRUE(client) << "openssl is not installed";
    ASSERT_TRUE(client->write(R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Bars","deviceID":"bars-1"}}})"
                              "\n"
                              R"({"ping":{"nonce":7}})"
                              "\n"));
    EXPECT_TRUE(client->readUntil("{\"pong\":{\"nonce\":7,", 15s)) << client->output() << "\nlog:\n" << host->log();
    EXPECT_EQ(client->output().find("keyMaterial"), std::string::npos);

    auto second = connectPhone(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(second);
    EXPECT_EQ(helloUntilRemoteAccess(*second)["keyMaterial"], remote["keyMaterial"]);
    EXPECT_EQ(host->stop(), 0) << host->log();
}

TEST(QuibHostAway, WithAwayAccessOffNoKeyIsHandedOutAndNothingListens) {
    TempHome home;
    const std::uint16_t awayPort = prepareAway(home, false);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto local = connectPhone(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(local);
    EXPECT_EQ(
        helloUntilRemoteAccess(*local),
        (Json{{"isEnabled", false},
              {"candidates", Json::array()},
              {"unavailable",
               "Direct internet access is off on your computer. Connect on the same network, or enable Reachable on "
               "cellular in the Quib panel while this phone is connected. A VPN is another option."}}));
    EXPECT_FALSE(listensWithin(host->process().pid(), awayPort, 500ms));
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
    if (!first || !(*first)->sendHello("ns-1", "Phone") || !(*first)->receiveCase("welcome", 10s))
        return firstPhoneRefused;
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
