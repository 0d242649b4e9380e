// quibctl against the real quib-host, as a person would use them on a machine without a
// display: the host prints its code, a phone connects with it, and the control tool approves.

#include <sys/stat.h>

#include <thread>

#include <gtest/gtest.h>

#include "QuibHost/Server/DeviceRegistry.hpp"
#include "Runtime/Base64.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/PairingCode.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::eventuallyShows;
using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

std::unique_ptr<PhoneClient> phone(const HostProcess& host, const std::string& code) {
    return testing::connectPhone(phoneOptions(host, code));
}

// Ada's phone, connected with the host's code, its hello said, and listed by quibctl as waiting
// for approval; nothing (and a failure) when any of that does not happen.
std::unique_ptr<PhoneClient> waitingPhone(const TempHome& home, const HostProcess& host) {
    auto ada = phone(host, host.pairingCode());
    if (!ada) return nullptr;
    if (!ada->sendHello("PHONE-1", "Ada's phone")) {
        ADD_FAILURE() << "the hello was not sent";
        return nullptr;
    }
    if (!eventuallyShows(home, {"devices"}, "PHONE-1  Ada's phone  (waiting for approval)")) {
        ADD_FAILURE() << "quibctl never listed the phone as waiting\n" << host.log();
        return nullptr;
    }
    return ada;
}

std::vector<std::string> approvedIDs(const TempHome& home) {
    auto settings = home.defaults();
    auto registry = DeviceRegistry::create(std::make_shared<MainLoop>(), settings, SystemClock::shared());
    std::vector<std::string> ids;
    for (const auto& device : registry->approved().value()) ids.push_back(device.id);
    return ids;
}

TEST(Quibctl, ListsAWaitingPhoneAndApprovesItUnderItsName) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = waitingPhone(home, *host);
    ASSERT_TRUE(ada);

    auto watcher = ChildProcess::start({QUIB_CTL_PATH, "watch"}, {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}},
                                       home.root() / "watch.err");
    ASSERT_TRUE(watcher);
    ASSERT_TRUE(eventuallyShows(home, {"status"}, "Phones connected: 1"));
    // The watcher only hears activity once its request has reached the host: hellos of another
    // phone make activity until it has heard one.
    bool watching = false;
    for (int attempt = 0; attempt < 50 && !watching; ++attempt) {
        auto probe = phone(*host, host->pairingCode());
        ASSERT_TRUE(probe && probe->sendHello("PROBE", "Probe"));
        watching = watcher->readUntil("Probe is waiting to be approved", 200ms);
    }
    ASSERT_TRUE(watching) << watcher->output();

    const auto approved = quibctl(home, {"approve", "PHONE-1"});
    EXPECT_EQ(approved.status, 0) << approved.err;
    EXPECT_EQ(approved.out, "Approved Ada's phone\n");
    EXPECT_TRUE(watcher->readUntil("Approved Ada's phone", 10s)) << watcher->output();
    EXPECT_TRUE(eventuallyShows(home, {"devices"}, "PHONE-1  Ada's phone  (approved, connected)"));
    EXPECT_EQ(approvedIDs(home), std::vector<std::string>{"PHONE-1"});
    EXPECT_NE(host->log().find("Approved Ada's phone"), std::string::npos);
}

TEST(Quibctl, RotatingTheCodeDropsEveryPhoneWhileApprovalsStay) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const std::string oldCode = host->pairingCode();
    auto ada = waitingPhone(home, *host);
    ASSERT_TRUE(ada);
    ASSERT_EQ(quibctl(home, {"approve", "PHONE-1"}).status, 0);

    const auto rotated = quibctl(home, {"code", "--rotate"});
    ASSERT_EQ(rotated.status, 0) << rotated.err;
    const auto shown = quibctl(home, {"code"});
    ASSERT_EQ(shown.status, 0);
    const std::string newCode = shown.out.substr(0, shown.out.find('\n'));
    EXPECT_TRUE(PairingCode::isValid(newCode));
    EXPECT_NE(newCode, oldCode);
    EXPECT_NE(rotated.out.find(newCode), std::string::npos);
    EXPECT_EQ(home.defaults()->string("quib.pairingCode.v1"), newCode);

    EXPECT_TRUE(ada->waitForClose(10s)) << "the phone stayed connected";
    EXPECT_FALSE(PhoneClient::connect(phoneOptions(*host, oldCode))) << "the old code still connects";
    auto again = phone(*host, newCode);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->sendLine(R"({"ping":{"nonce":5}})"));
    EXPECT_TRUE(again->receiveCase("pong", 10s));
    EXPECT_EQ(approvedIDs(home), std::vector<std::string>{"PHONE-1"});
    EXPECT_EQ(host->log().find(newCode), std::string::npos) << "the pairing code was logged";
}

// The panel, as quibctl prints it, follows a phone from waiting to approved, and shows the new
// code once it is rotated; the phone is then disconnected and stays approved.
TEST(Quibctl, ThePanelShowsAWaitingPhoneItsApprovalAndANewCode) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto bars = phone(*host, host->pairingCode());
    ASSERT_TRUE(bars && bars->sendHello("PHONE-1", "Bars Phone"));
    const std::string key = "\tkey=PHONE-1";
    ASSERT_TRUE(eventuallyShows(home, {"panel"}, "devices\ttext\tBars Phone\tfont=caption" + key));
    auto panel = quibctl(home, {"panel"}).out;
    EXPECT_NE(panel.find("devices\ttext\tWaiting for approval\ttone=orange\tfont=caption2" + key), std::string::npos)
        << panel;
    EXPECT_NE(panel.find("devices\tbutton\tApprove\tenabled=1" + key), std::string::npos) << panel;

    ASSERT_EQ(quibctl(home, {"approve", "PHONE-1"}).status, 0);
    bool approved = false;
    for (int seen = 0; seen < 5 && !approved; ++seen) {
        auto status = bars->receiveCase("status", 5s);
        ASSERT_TRUE(status) << status.error().message;
        approved = (*status)["_0"]["deviceApproved"] == true;
    }
    EXPECT_TRUE(approved);
    EXPECT_TRUE(bars->receiveCase("targets", 5s));
    EXPECT_TRUE(eventuallyShows(home, {"panel"}, "devices\tbutton\tRevoke\tenabled=1" + key));
    EXPECT_NE(host->log().find("Approved Bars Phone"), std::string::npos);

    ASSERT_EQ(quibctl(home, {"code", "--rotate"}).status, 0);
    const auto shown = quibctl(home, {"code"});
    const std::string code = shown.out.substr(0, shown.out.find('\n'));
    EXPECT_TRUE(eventuallyShows(home, {"panel"}, "pairing\tcode\t" + code + "\tfont=title2-monospaced\n"));
    EXPECT_TRUE(bars->waitForClose(10s));
    EXPECT_TRUE(eventuallyShows(home, {"panel"}, "devices\tsymbol\tiphone.slash"));
    EXPECT_EQ(approvedIDs(home), std::vector<std::string>{"PHONE-1"});
}

TEST(Quibctl, RevokingCutsThePhoneOffAndItsNextHelloIsRefused) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = waitingPhone(home, *host);
    ASSERT_TRUE(ada);
    const auto waiting = quibctl(home, {"revoke", "PHONE-1"});
    EXPECT_EQ(waiting.status, 1) << "a waiting phone has no approval to lose";
    ASSERT_EQ(quibctl(home, {"approve", "PHONE-1"}).status, 0);

    const auto revoked = quibctl(home, {"revoke", "PHONE-1"});
    EXPECT_EQ(revoked.status, 0) << revoked.err;
    EXPECT_EQ(revoked.out, "Revoked Ada's phone\n");
    EXPECT_TRUE(ada->waitForClose(10s)) << "the revoked phone stayed connected";
    EXPECT_TRUE(eventuallyShows(home, {"devices"}, "PHONE-1  Ada's phone  (revoked)"));

    auto back = phone(*host, host->pairingCode());
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->sendHello("PHONE-1", "Ada's phone"));
    auto refusal = back->receiveCase("error", 10s);
    ASSERT_TRUE(refusal) << refusal.error().message;
    EXPECT_EQ((*refusal)["_0"], "This computer has revoked this device. Approve it again in the Quib panel.");
}

TEST(Quibctl, PausesAndResumesInput) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_EQ(quibctl(home, {"pause"}).out, "Input from phones is paused\n");
    EXPECT_NE(quibctl(home, {"status"}).out.find("Input from phones: paused"), std::string::npos);
    EXPECT_EQ(quibctl(home, {"resume"}).status, 0);
    EXPECT_NE(quibctl(home, {"status"}).out.find("Input from phones: on"), std::string::npos);
}

TEST(Quibctl, RefusesUnknownDevicesAndCommandsAndSaysWhenNoHostRuns) {
    TempHome home;
    const auto alone = quibctl(home, {"status"});
    EXPECT_EQ(alone.status, 1);
    EXPECT_NE(alone.err.find("no Quib host is running"), std::string::npos) << alone.err;

    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const auto unknown = quibctl(home, {"approve", "NOPE"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "quibctl: No phone with the identifier NOPE is connected, approved or revoked.\n");
}

// The whole round as a person makes it: wait, approval, status and targets at once, welcome back.
TEST(Quibctl, AnApprovedPhoneAtOnceReceivesStatusAndTargetsAndIsWelcomedBack) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host);
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["deviceApproved"], false);
    EXPECT_EQ(ada.welcome["targets"], Json::array());
    ASSERT_TRUE(ada.phone->sendLine(R"({"requestPanes":{}})"));
    auto wait = ada.phone->receiveCase("error", 10s);
    ASSERT_TRUE(wait);
    EXPECT_EQ((*wait)["_0"].get<std::string>().rfind("Waiting for approval on ", 0), 0u);

    ASSERT_TRUE(eventuallyShows(home, {"devices"}, "(waiting for approval)"));
    ASSERT_EQ(quibctl(home, {"approve", "PHONE-1"}).status, 0);
    // A status sent while the phone still waited (the first targets being seeded, say) may come
    // first; the approval's own status follows.
    bool approved = false;
    for (int seen = 0; seen < 5 && !approved; ++seen) {
        auto status = ada.phone->receiveCase("status", 5s);
        ASSERT_TRUE(status) << status.error().message;
        approved = (*status)["_0"]["deviceApproved"] == true;
    }
    EXPECT_TRUE(approved);
    EXPECT_TRUE(ada.phone->receiveCase("targets", 5s));
    ada.phone->close();

    auto back = testing::welcomed(*host);
    ASSERT_TRUE(back.phone);
    EXPECT_EQ(back.welcome["status"]["deviceApproved"], true);

    // After a new code, the approval still holds for the phone that uses it.
    ASSERT_EQ(quibctl(home, {"code", "--rotate"}).status, 0);
    EXPECT_TRUE(back.phone->waitForClose(10s));
    const auto shown = quibctl(home, {"code"});
    auto rotated = phone(*host, shown.out.substr(0, shown.out.find('\n')));
    ASSERT_TRUE(rotated);
    ASSERT_TRUE(rotated->sendHello("PHONE-1", "Ada's phone"));
    auto welcomeRotated = rotated->receiveCase("welcome", 10s);
    ASSERT_TRUE(welcomeRotated);
    EXPECT_EQ((*welcomeRotated)["status"]["deviceApproved"], true);
}

QuibTarget storedTarget(const std::string& id, QuibTarget::Kind kind, const std::string& name) {
    QuibTarget target;
    target.id = id;
    target.kind = kind;
    target.name = name;
    if (kind == QuibTarget::Kind::tmux) target.tmuxTarget = "%1";
    if (kind == QuibTarget::Kind::app) target.bundleID = "org.example.editor";
    return target;
}

// Stored before the host starts: a tmux target, then an app target (the active one), and Ada's
// phone as approved.
TEST(Quibctl, StoredTargetsReachAnApprovedPhoneAndTheToolInTheirOrder) {
    testing::TmuxServer tmux;  // one that never starts, before the host or any thread starts
    TempHome home;
    const std::vector<QuibTarget> targets{storedTarget("T-1", QuibTarget::Kind::tmux, "Agent (work)"),
                                          storedTarget("T-2", QuibTarget::Kind::app, "Editor")};
    testing::saveTargetsBeforeStart(home, targets);
    (void)home.defaults()->setString("quib.activeTarget.v1", "T-2");
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);

    const Json expected = JsonCoding<std::vector<QuibTarget>>::encode(targets);
    EXPECT_EQ(ada.welcome["targets"], expected);
    EXPECT_EQ(ada.welcome["status"]["activeTargetID"], "T-2");
    auto all = ada.phone->receiveCase("targets", 10s);
    ASSERT_TRUE(all) << all.error().message;
    EXPECT_EQ((*all)["_0"], expected);

    // No tmux server runs, so the pane target points at no live pane once the host has looked.
    ASSERT_TRUE(eventuallyShows(home, {"targets"}, "(no live pane)"));
    const auto listed = quibctl(home, {"targets"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "  T-1  tmux  Agent (work)  profile shell  (no live pane)\n* T-2  app  Editor  profile app  (active)\n");

    const auto used = quibctl(home, {"use", "T-1"});
    EXPECT_EQ(used.out, "Active target: Agent (work)\n");
    // Statuses sent before the change may come first.
    bool told = false;
    while (!told) {
        auto status = ada.phone->receiveCase("status", 10s);
        if (!status) break;
        told = (*status)["_0"]["activeTargetID"] == "T-1";
    }
    EXPECT_TRUE(told) << host->log();
    const auto unknown = quibctl(home, {"use", "T-9"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "quibctl: No saved target has the identifier T-9 (quibctl targets lists them).\n");
    // By its name, or a beginning of its id that only it has.
    EXPECT_EQ(quibctl(home, {"use", "Editor"}).out, "Active target: Editor\n");
    EXPECT_EQ(quibctl(home, {"use", "Agent (work)"}).out, "Active target: Agent (work)\n");
    const auto both = quibctl(home, {"use", "T-"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.err,
              "quibctl: \"T-\" fits more than one saved target: T-1 (Agent (work)), T-2 (Editor); give more "
              "of the identifier.\n");
}

// The habits of a command-line tool, with no host running: help, the version, and a mistake
// answered with the usage of the command it was made in.
TEST(Quibctl, HelpsGivesItsVersionAndShowsTheUsageOfTheMistakenCommand) {
    TempHome home;
    for (const char* help : {"-h", "--help", "help"}) {
        const auto run = quibctl(home, {help});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_TRUE(run.out.starts_with("usage: quibctl COMMAND")) << run.out;
        EXPECT_NE(run.out.find("\n  approve DEVICE-ID    let a waiting or revoked phone drive this computer\n"),
                  std::string::npos)
            << run.out;
    }
    const auto version = quibctl(home, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("quibctl ")) << version.out;
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    for (const Case& mistake :
         {Case{{"approve"},
               "quibctl: wrong arguments for approve\nusage: quibctl approve ...\n"
               "  approve DEVICE-ID    let a waiting or revoked phone drive this computer\n"},
          Case{{"away", "sideways"},
               "quibctl: wrong arguments for away\nusage: quibctl away ...\n"
               "  away                 how away access fares and the ways phones can reach this computer\n"
               "  away on|off          let approved phones reach this computer from away, or stop it\n"
               "  away retry           try the router and the public address again\n"},
          Case{{"frobnicate"}, "quibctl: unknown command: frobnicate (quibctl --help lists the commands)\n"}}) {
        const auto run = quibctl(home, mistake.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, mistake.err);
    }
}

// What needs the user shows in watch as it happens: an agent's request arriving and answered,
// the pause and its end, a new code; and the host logs the pause, the resume and the new code.
TEST(Quibctl, WatchShowsRequestsThePauseAndANewCode) {
    TempHome home;
    testing::approveBeforeStart(home, {{"AGENT-1", "Agent"}});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto watch = ChildProcess::start({QUIB_CTL_PATH, "watch"}, {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}},
                                     home.root() / "watch.err");
    ASSERT_TRUE(watch);
    ASSERT_TRUE(eventuallyShows(home, {"status"}, "Host:"));
    std::this_thread::sleep_for(300ms);  // the watch has said its request by now
    auto agent = testing::welcomed(*host, {"AGENT-1", "Agent"});
    ASSERT_TRUE(agent.phone);
    const auto request =
        ApprovalRequest::make("R1", std::nullopt, "Build agent", "Run make test", "make test",
                              ApprovalRequest::Kind::command, ApprovalClock::now(), 60, ApprovalDecision::deny);
    ASSERT_TRUE(agent.phone->send(ClientMessage{ClientMessage::RequestApproval{request}}));
    EXPECT_TRUE(watch->readUntil("Agent request R1 from Build agent: Run make test (", 10s)) << watch->output();
    EXPECT_EQ(quibctl(home, {"answer", "R1", "approve"}).status, 0);
    EXPECT_TRUE(watch->readUntil("Agent request R1 approved", 10s)) << watch->output();
    EXPECT_EQ(quibctl(home, {"pause"}).status, 0);
    EXPECT_TRUE(watch->readUntil("Input from phones is paused", 10s)) << watch->output();
    EXPECT_EQ(quibctl(home, {"resume"}).status, 0);
    EXPECT_TRUE(watch->readUntil("Input from phones is on again", 10s)) << watch->output();
    EXPECT_EQ(quibctl(home, {"code", "--rotate"}).status, 0);
    EXPECT_TRUE(watch->readUntil("New pairing code: ", 10s)) << watch->output();
    const std::string log = host->log();
    for (const char* line : {"input from phones paused", "input from phones resumed", "pairing code rotated"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// Asked from a host run from its build folder, the login item is answered, not refused.
TEST(Quibctl, TheLoginItemOfAHostOutsideThePrefixIsOff) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const auto asked = quibctl(home, {"login-item", "status"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out, "Launch at login: off (only an installed host starts at login: make install-host)\n");
}

// Each stored target with the shortcut profile it resolves to: app identifiers through their
// aliases, stored built-in profiles kept and menu-derived ones guessed past, panes as shells.
TEST(Quibctl, TargetsNameTheProfileEachResolvesTo) {
    TempHome home;
    auto target = [](std::string id, QuibTarget::Kind kind, std::optional<std::string> bundleID,
                     std::optional<std::string> profileID) {
        QuibTarget made = storedTarget(id, kind, id);
        if (bundleID) made.bundleID = bundleID;
        made.profileID = std::move(profileID);
        if (kind == QuibTarget::Kind::tmux) made.tmuxTarget = "%" + id;
        return made;
    };
    using Kind = QuibTarget::Kind;
    const std::vector<QuibTarget> targets{
        target("firefox", Kind::app, "firefox-esr", std::nullopt),
        target("alacritty", Kind::app, "org.alacritty.Alacritty", std::nullopt),
        target("code", Kind::app, "code", "menu:code"),
        target("evince", Kind::app, "evince", std::nullopt),
        target("agent", Kind::tmux, std::nullopt, "claude"),
        target("pane", Kind::tmux, std::nullopt, std::nullopt),
        target("front", Kind::frontmost, std::nullopt, std::nullopt),
    };
    testing::saveTargetsBeforeStart(home, targets);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    const auto listed = quibctl(home, {"targets"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    // Without the marks of the active target and of panes that are not live.
    std::vector<std::string> shown;
    for (const auto& line : testing::linesOf(listed.out)) shown.push_back(line.substr(2, line.find("  (") - 2));
    EXPECT_EQ(shown, (std::vector<std::string>{"firefox  app  firefox  profile browser",
                                               "alacritty  app  alacritty  profile terminal",
                                               "code  app  code  profile editor", "evince  app  evince  profile app",
                                               "agent  tmux  agent  profile claude", "pane  tmux  pane  profile shell",
                                               "front  frontmost  front  profile app"}));
}

// The panel's away switch: on hands the connected local phone its key and opens the away port;
// off closes the port and the away connections; a revoked phone's key opens nothing. Switched on,
// the host maps ports: it runs only in the loopback-only namespace.
TEST(Quibctl, SwitchesAwayAccessAndARevokedPhonesKeyNoLongerWorks) {
    TempHome home;
    const std::uint16_t awayPort = testing::freePort();
    (void)home.defaults()->setInteger("quib.awayPort", awayPort);
    testing::setStunServersBeforeStart(home, {});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = waitingPhone(home, *host);
    ASSERT_TRUE(ada);
    ASSERT_EQ(quibctl(home, {"approve", "PHONE-1"}).status, 0);
    ASSERT_TRUE(ada->receiveCase("remoteAccess", 10s));

    const auto on = quibctl(home, {"away", "on"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out, "Away access is on\n");
    EXPECT_EQ(home.defaults()->boolean("quib.away.enabled"), true);
    // Only loopback here: no router, and no STUN server to ask.
    EXPECT_TRUE(eventuallyShows(home, {"away"},
                                "status: blocked: Your router would not open a port, and nothing on the internet "
                                "could say what this computer's public address is.\n"));
    // The panel shows the switch on, the reason, and the button that tries again.
    const auto panel = quibctl(home, {"panel"}).out;
    EXPECT_NE(panel.find("away\tswitch\tReachable on cellular\tfont=caption\ton=1"), std::string::npos) << panel;
    EXPECT_NE(panel.find("away\tlabel\tYour router would not open a port, and nothing on the internet could say"),
              std::string::npos)
        << panel;
    EXPECT_NE(panel.find("away\tbutton\tTry again"), std::string::npos) << panel;
    EXPECT_EQ(quibctl(home, {"away", "retry"}).out, "Trying again\n");
    Json remote;
    for (int i = 0; i < 5 && !remote.contains("keyMaterial"); ++i) {
        auto next = ada->receiveCase("remoteAccess", 10s);
        ASSERT_TRUE(next) << next.error().message << "\n" << host->log();
        remote = (*next)["_0"];
    }
    ASSERT_EQ(remote["keyIdentity"], "quib.away.1.PHONE-1");
    PhoneClient::Options awayOptions = phoneOptions(*host, "");
    awayOptions.port = awayPort;
    awayOptions.key =
        QuibTransport::Key{"quib.away.1.PHONE-1", *base64Decode(remote["keyMaterial"].get<std::string>())};
    std::unique_ptr<PhoneClient> away;
    for (int attempt = 0; attempt < 50 && !away; ++attempt) {
        if (auto connected = PhoneClient::connect(awayOptions)) away = std::move(*connected);
        else std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(away) << host->log();
    ASSERT_TRUE(away->sendHello("PHONE-1", "Ada's phone"));
    ASSERT_TRUE(away->receiveCase("welcome", 10s));

    EXPECT_EQ(quibctl(home, {"away", "off"}).out, "Away access is off; away connections were closed\n");
    EXPECT_TRUE(away->waitForClose(10s)) << "the away phone stayed connected";
    EXPECT_FALSE(PhoneClient::connect(awayOptions)) << "the away port still listens";
    EXPECT_FALSE(ada->isClosed());

    ASSERT_EQ(quibctl(home, {"away", "on"}).status, 0);
    ASSERT_TRUE(eventuallyShows(home, {"devices"}, "(approved, connected)"));
    EXPECT_EQ(quibctl(home, {"revoke", "PHONE-1"}).status, 0);
    EXPECT_TRUE(ada->waitForClose(10s));
    EXPECT_FALSE(PhoneClient::connect(awayOptions)) << "the revoked phone's key still opens the away port";

    EXPECT_EQ(quibctl(home, {"away", "maybe"}).status, 2);
}

// As the panel's Quit: the host lets go of held buttons, stops its server and ends well.
TEST(Quibctl, QuitEndsTheHostAfterItsShutDown) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const auto quit = quibctl(home, {"quit"});
    EXPECT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(host->process().wait(10s), 0) << host->log();
    const auto log = host->log();
    const auto released = log.find("shut-down: held buttons released");
    ASSERT_NE(released, std::string::npos) << log;
    EXPECT_NE(log.find("shut-down: server stopped", released), std::string::npos) << log;
}

// Each is made owner-only when missing, and its path printed.
TEST(Quibctl, RevealPrintsThePathsOfTheOwnerOnlyLogAndImageInbox) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    for (const auto& [item, path, mode] : {std::tuple{"log", home.dataHome() / "Quib" / "deliveries.log", 0600u},
                                           std::tuple{"inbox", home.dataHome() / "Quib" / "inbox", 0700u}}) {
        const auto revealed = quibctl(home, {"reveal", item});
        EXPECT_EQ(revealed.status, 0) << revealed.err;
        EXPECT_EQ(revealed.out, path.string() + "\n");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << item;
        EXPECT_EQ(S_ISDIR(info.st_mode), std::string(item) == "inbox");
        EXPECT_EQ(info.st_mode & 0777, mode) << item;
    }
}

}  // namespace
}  // namespace quib
