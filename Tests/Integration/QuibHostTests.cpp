// The real quib-host binary, started in a private home on a free port and driven over TLS on
// 127.0.0.1 by the stand-in phone, the quib-phone tool and OpenSSL's own client.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "Shared/PairingCode.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"
#include "Tests/Support/TmuxServer.hpp"
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

// quib-phone's standard error, as far as it has been written.
std::string errorsOf(const TempHome& home, const std::string& name) {
    return testing::fileContents(home.root() / name);
}

bool eventually(const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The stand-in phone stays until this computer approves it, however long that takes, then
// sends its text into the pane, its image into the inbox and the pane, and its lines.
TEST(QuibPhone, WaitsForTheApprovalThenSendsItsTextItsImageAndItsLines) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root()));
    const std::string pane = tmux.idOf("work:0.0");
    testing::saveTargetsBeforeStart(home, {testing::workPane(pane)});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const auto image = home.root() / "shot.png";
    { std::ofstream(image, std::ios::binary) << textOf(testing::onePixelPng()); }

    auto phone = ChildProcess::start({QUIB_PHONE_PATH,
                                      "--port",
                                      std::to_string(host->port()),
                                      "--code",
                                      host->pairingCode(),
                                      "--device-id",
                                      "CLI-PHONE",
                                      "--name",
                                      "CLI",
                                      "--target",
                                      "T1",
                                      "--text",
                                      "echo quib-phone-was-here",
                                      "--upload",
                                      image.string(),
                                      "--send",
                                      R"({"ping":{"nonce":11}})",
                                      "--send",
                                      "not json",
                                      "--wait",
                                      "1"},
                                     {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}}, home.root() / "phone.err");
    ASSERT_TRUE(phone);
    ASSERT_TRUE(eventually([&] {
        return errorsOf(home, "phone.err").find("quibctl approve CLI-PHONE") != std::string::npos;
    })) << errorsOf(home, "phone.err");
    std::this_thread::sleep_for(2500ms);  // longer than it used to stay
    EXPECT_FALSE(phone->wait(0ms)) << "quib-phone left before it was approved";
    EXPECT_EQ(testing::quibctl(home, {"approve", "CLI-PHONE"}).out, "Approved CLI\n");
    EXPECT_EQ(phone->wait(30s), 0) << errorsOf(home, "phone.err") << host->log();
    while (phone->readLine(1s)) {}
    const std::string& printed = phone->output();
    EXPECT_NE(printed.find("{\"pong\":{\"nonce\":11,"), std::string::npos) << printed;
    EXPECT_NE(printed.find("{\"error\":{\"_0\":\"Unreadable message\"}}"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Sent 1 image to Work"), std::string::npos) << printed;

    std::vector<std::filesystem::path> inbox;
    for (const auto& entry : std::filesystem::directory_iterator(home.dataHome() / "Quib" / "inbox"))
        inbox.push_back(entry.path());
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_TRUE(eventually([&] {
        const std::string shown = tmux.run({"capture-pane", "-p", "-J", "-t", pane}).value_or("");
        return shown.find("echo quib-phone-was-here") != std::string::npos &&
               shown.find(inbox[0].filename().string()) != std::string::npos;
    })) << tmux.run({"capture-pane", "-p", "-J", "-t", pane}).value_or("");
}

// A wrong code is said as such; from the third failure on the host turns the address away, and
// the tool says for how long.
TEST(QuibPhone, SaysWhenTheCodeIsWrongAndHowLongItIsLockedOut) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const std::string wrong = host->pairingCode() == "KX7P2M" ? "KX7P2N" : "KX7P2M";
    const auto attempt = [&](int n) {
        const std::string err = "wrong-" + std::to_string(n) + ".err";
        auto phone = ChildProcess::start({QUIB_PHONE_PATH, "--port", std::to_string(host->port()), "--code", wrong},
                                         {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}}, home.root() / err);
        EXPECT_TRUE(phone && phone->wait(20s) == 1) << n;
        return errorsOf(home, err);
    };
    for (int n = 1; n <= 2; ++n) {
        const std::string said = attempt(n);
        EXPECT_NE(said.find(": the pairing code was not accepted (quibctl code shows the host's)"), std::string::npos)
            << said;
        EXPECT_EQ(said.find("alert"), std::string::npos) << said;
    }
    EXPECT_NE(attempt(3).find("the pairing code was not accepted; locked out for 2 s"), std::string::npos);
    const std::string turned = attempt(4);
    EXPECT_NE(turned.find("turned the connection away"), std::string::npos) << turned;
    EXPECT_NE(turned.find("; locked out for "), std::string::npos) << turned;
    EXPECT_EQ(turned.find("truncated"), std::string::npos) << turned;
}

// A second host of the same user finds the first answering on its control socket and ends
// before it reads the settings or prints a code.
TEST(QuibHost, ASecondHostNamesTheFirstAndEndsBeforeItStarts) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const auto elsewhere = home.root() / "second-config";
    auto second = ChildProcess::start({QUIB_HOST_PATH},
                                      {{"XDG_CONFIG_HOME", elsewhere.string()},
                                       {"XDG_DATA_HOME", home.dataHome().string()},
                                       {"XDG_RUNTIME_DIR", home.runtimeDir().string()}},
                                      home.root() / "second.err", {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->wait(10s), 1);
    const std::string said = errorsOf(home, "second.err");
    EXPECT_NE(said.find("another Quib host is already running (pid " + std::to_string(host->process().pid())),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("`quibctl status` shows it"), std::string::npos) << said;
    while (second->readLine(100ms)) {}
    EXPECT_EQ(second->output(), "");
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << "the second host touched its settings";
    EXPECT_FALSE(host->process().wait(0ms)) << "the first host ended";
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
