// The real quib-host binary, started in a private home on a free port and driven over TLS on
// 127.0.0.1 by the stand-in phone, the quib-phone tool and OpenSSL's own client.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "Shared/PairingCode.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::HostProcess;
using testing::TempHome;

TEST(QuibHost, PrintsANewStoredCodeAndAnswersAPhonesPing) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_TRUE(PairingCode::isValid(host->pairingCode())) << host->pairingCode();
    EXPECT_EQ(host->port(), home.defaults()->integer("quib.port"));
    EXPECT_FALSE(host->name().empty());
    EXPECT_EQ(home.defaults()->string("quib.pairingCode.v1"), host->pairingCode());

    auto phone = PhoneClient::connect(phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(phone) << phone.error().message << "\nlog:\n" << host->log();
    ASSERT_TRUE((*phone)->sendHello("INTEGRATION-PHONE", "Test Phone"));
    ASSERT_TRUE((*phone)->sendLine(R"({"ping":{"nonce":18446744073709551615}})"));
    auto pong = (*phone)->receiveCase("pong", 10s);
    ASSERT_TRUE(pong) << pong.error().message << "\nlog:\n" << host->log();
    EXPECT_EQ((*pong)["nonce"].get<std::uint64_t>(), 18446744073709551615ull);
    EXPECT_GT((*pong)["hostTime"].get<std::uint64_t>(), 0u);
    (*phone)->close();

    EXPECT_EQ(host->stop(), 0) << host->log();
    EXPECT_EQ(host->log().find(host->pairingCode()), std::string::npos) << "the pairing code was logged";
}

TEST(QuibHost, KeepsAValidStoredCodeAndTurnsAwayAnotherCode) {
    TempHome home;
    (void)home.defaults()->setString("quib.pairingCode.v1", "kx7-p2m");
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->pairingCode(), "kx7-p2m");
    EXPECT_EQ(home.defaults()->string("quib.pairingCode.v1"), "kx7-p2m");

    EXPECT_FALSE(PhoneClient::connect(phoneOptions(*host, "ABCDEF")));
    auto typedLoosely = PhoneClient::connect(phoneOptions(*host, "KX7P2M"));
    ASSERT_TRUE(typedLoosely) << typedLoosely.error().message;
    ASSERT_TRUE((*typedLoosely)->sendLine(R"({"ping":{"nonce":3}})"));
    EXPECT_TRUE((*typedLoosely)->receiveCase("pong", 10s));
    EXPECT_EQ(host->stop(), 0) << host->log();  // with the phone still connected
}

// Before anything is touched: --help prints the usage, an unknown argument is refused with it,
// and a settings file that a hand edit left as no JSON stops the start, naming where.
TEST(QuibHost, AnswersHelpRefusesUnknownArgumentsAndStopsAtASettingsFileThatIsNotJson) {
    TempHome home;
    testing::ScratchFolder scratch("quib-host-arguments");
    int runs = 0;
    // The exit status, the first line on standard output and what went to standard error.
    const auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUIB_HOST_PATH);
        const auto errors = scratch.path / ("errors-" + std::to_string(++runs));
        auto process = ChildProcess::start(arguments, {{"XDG_CONFIG_HOME", home.configHome().string()}}, errors);
        const auto first = process ? process->readLine(10s) : std::nullopt;
        const auto status = process ? process->wait(30s) : std::nullopt;
        return std::tuple{status, first.value_or(""), testing::fileContents(errors)};
    };
    const auto [helpStatus, help, helpErrors] = run({"--help"});
    EXPECT_EQ(helpStatus, 0);
    EXPECT_EQ(help, "usage: quib-host [--enable-login-item]") << helpErrors;
    const auto [unknownStatus, unknownOut, unknown] = run({"--enable-login-item", "--port=1"});
    EXPECT_EQ(unknownStatus, 2);
    EXPECT_NE(unknown.find("unknown argument --port=1\nusage: quib-host"), std::string::npos) << unknown;

    std::filesystem::create_directories(home.defaultsPath().parent_path());
    const std::string edited = "{\"quib.pairingCode.v1\": \"KX7P2M\",}";
    std::ofstream(home.defaultsPath()) << edited;
    const auto [brokenStatus, brokenOut, broken] = run({});
    EXPECT_EQ(brokenStatus, 1);
    EXPECT_EQ(broken, home.defaultsPath().string() +
                          ":1:34: syntax error while parsing object key - unexpected '}'; expected string literal\n");
    EXPECT_EQ(testing::fileContents(home.defaultsPath()), edited);
}

TEST(QuibHost, ReplacesAnInvalidStoredCodeAndStopsOnSigint) {
    TempHome home;
    (void)home.defaults()->setString("quib.pairingCode.v1", "OOO111");
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_TRUE(PairingCode::isValid(host->pairingCode())) << host->pairingCode();
    EXPECT_EQ(home.defaults()->string("quib.pairingCode.v1"), host->pairingCode());

    host->process().signal(SIGINT);
    EXPECT_EQ(host->process().wait(10s), 0);
}

TEST(QuibHost, AnswersOpenSslsOwnClientWithAPong) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    std::string key = testing::hexOf(QuibTransport::pskData(host->pairingCode(), QuibTransport::Derivation::current()));

    auto client = ChildProcess::start(
        {"openssl", "s_client", "-psk_identity", "quib", "-psk", key, "-ciphersuites", "TLS_AES_128_GCM_SHA256",
         "-tls1_3", "-connect", "127.0.0.1:" + std::to_string(host->port()), "-ign_eof", "-nocommands"},
        {}, home.root() / "s_client.err");
    ASSERT_TRUE(client) << "openssl is not installed";
    ASSERT_TRUE(client->write("{\"ping\":{\"nonce\":7}}\n"));
    EXPECT_TRUE(client->readUntil("{\"pong\":{\"nonce\":7,", 15s)) << client->output() << "\nlog:\n" << host->log();
    EXPECT_NE(client->output().find("TLS_AES_128_GCM_SHA256"), std::string::npos) << client->output();
    EXPECT_EQ(host->stop(), 0) << host->log();
}

TEST(QuibHost, CopiesUndecodableStoredTargetsToABackupBeforeStoringAList) {
    TempHome home;
    (void)home.defaults()->setBytes("quib.targets.v1", bytesOf("not json\n"));
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    std::vector<std::filesystem::path> backups;
    for (const auto& entry : std::filesystem::directory_iterator(home.dataHome() / "Quib")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("targets-") && name.ends_with(".json")) backups.push_back(entry.path());
    }
    ASSERT_EQ(backups.size(), 1u) << host->log();
    EXPECT_EQ(testing::fileContents(backups[0]), "not json\n");

    const auto stored = home.defaults()->bytes("quib.targets.v1");
    ASSERT_TRUE(stored);
    const std::string text = textOf(*stored);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_TRUE(QuibCoder::decode<std::vector<QuibTarget>>(text)) << text;
    EXPECT_NE(host->log().find("saved targets did not decode"), std::string::npos) << host->log();
}

// Polls the host's log for `text`, for at most 10 s.
bool logShows(const HostProcess& host, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (host.log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(QuibHost, TimesPointerMovesAndOutlivesInputBeyondWhatEventsHold) {
    TempHome home;
    (void)home.defaults()->setBool("quib.instrument", true);
    auto [host, pointer] = testing::startWithApprovedPhone(home, std::nullopt, {}, {"POINTER-PHONE", "Pointer phone"});
    ASSERT_TRUE(pointer.phone);
    auto& phone = *pointer.phone;

    // Thirty moves across more than a second, so that a report falls between them.
    for (int i = 0; i < 30; ++i) {
        if (i == 15) std::this_thread::sleep_for(1100ms);
        ASSERT_TRUE(phone.sendLine(R"({"move":{"dx":3.5,"dy":-1}})"));
    }
    EXPECT_TRUE(logShows(*host, "[perf] 5_move_total n=")) << host->log();
    EXPECT_TRUE(logShows(*host, "[perf] arrival_gap n=")) << host->log();

    ASSERT_TRUE(phone.sendLine(R"({"move":{"dx":1e308,"dy":0}})"));
    ASSERT_TRUE(phone.sendLine(R"({"move":{"dx":1e400,"dy":0}})"));
    auto unreadable = phone.receiveCase("error", 10s);
    ASSERT_TRUE(unreadable) << unreadable.error().message;
    EXPECT_EQ((*unreadable)["_0"], "Unreadable message");
    for (const char* line : {R"({"scroll":{"dx":0,"dy":1e300}})", R"({"scroll":{"dx":0,"dy":3e9}})",
                             R"({"click":{"button":"left","phase":"click","clickCount":9223372036854775807}})",
                             R"({"scrollPhase":{"_0":"ended"}})", R"({"ping":{"nonce":99}})"}) {
        ASSERT_TRUE(phone.sendLine(line));
    }
    auto pong = phone.receiveCase("pong", 10s);
    ASSERT_TRUE(pong) << pong.error().message << "\nlog:\n" << host->log();
    EXPECT_EQ((*pong)["nonce"], 99);
    EXPECT_FALSE(host->process().wait(0ms)) << "the host ended";
    phone.close();
    EXPECT_EQ(host->stop(), 0) << host->log();
}

TEST(QuibPhone, SaysHelloSendsItsLinesAndPrintsTheHostsReplies) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    auto phone = ChildProcess::start({QUIB_PHONE_PATH, "--host", "127.0.0.1", "--port", std::to_string(host->port()),
                                      "--code", host->pairingCode(), "--device-id", "CLI-PHONE", "--name", "CLI",
                                      "--send", R"({"ping":{"nonce":11}})", "--send", "not json", "--wait", "1"},
                                     {}, home.root() / "phone.err");
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->wait(20s), 0);
    while (phone->readLine(1s)) {
    }
    const std::string& printed = phone->output();
    EXPECT_NE(printed.find("{\"pong\":{\"nonce\":11,"), std::string::npos) << printed;
    EXPECT_NE(printed.find("{\"error\":{\"_0\":\"Unreadable message\"}}"), std::string::npos) << printed;
}

TEST(QuibPhone, RefusesUnusableArguments) {
    TempHome home;
    for (std::vector<std::string> args : {std::vector<std::string>{QUIB_PHONE_PATH, "--port", "61413"},
                                          {QUIB_PHONE_PATH, "--port", "99999", "--code", "KX7P2M"},
                                          {QUIB_PHONE_PATH, "--code", "KX7P2M", "--port", "1", "--wait", "soon"},
                                          {QUIB_PHONE_PATH, "--code"}}) {
        auto phone = ChildProcess::start(args, {}, home.root() / "phone.err");
        ASSERT_TRUE(phone);
        EXPECT_EQ(phone->wait(10s), 2) << args.back();
    }
}

}  // namespace
}  // namespace quib
