#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "QuibHost/App/ControlCommands.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/AtomicFile.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/PairingCode.hpp"
#include "Tests/Support/FakeDiscovery.hpp"
#include "Tests/Support/FakePortMapper.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestControlCommands.hpp"
#include "Tests/Support/TestHost.hpp"

namespace quib::apptests {
namespace {

using Device = HostServer::ConnectedDevice;

// Keeps what the commands answer.
class RecordedReply final : public ControlSocket::Reply {
public:
    void send(const Json& line) override {
        if (!closed_) lines.push_back(line);
    }
    void finish() override { finished = true; }
    bool isOpen() const override { return !closed_; }
    void setClosedHandler(std::function<void()> handler) override { onClosed_ = std::move(handler); }

    // The client goes away.
    void hangUp() {
        closed_ = true;
        if (onClosed_) std::exchange(onClosed_, nullptr)();
    }
    const Json& last() const { return lines.back(); }

    std::vector<Json> lines;
    bool finished = false;

private:
    bool closed_ = false;
    std::function<void()> onClosed_;
};

class RecordingRevealer final : public FileRevealer {
public:
    Result<void> reveal(const std::filesystem::path& file) override {
        shown.push_back(file);
        if (failure) return fail(*failure);
        return {};
    }
    std::vector<std::filesystem::path> shown;
    std::optional<std::string> failure;
};

class ControlCommands : public ::testing::Test {
protected:
    ControlCommands() {
        (void)settings->setString("quib.pairingCode.v1", "KX7P2M");
        (void)settings->setString("quib.serviceName", "Test Host");
        registry = DeviceRegistry::create(main, settings, clock);
        reach = std::make_shared<RemoteReach>(
            RemoteReach::Config{.main = main,
                                .settings = settings,
                                .secrets = SecretStore(scratch.path / "secrets"),
                                .approvedIDs = [registry = registry] { return registry->approvedIDs(); },
                                .mapper = mapper,
                                .discovery = std::make_shared<testing::FakeDiscovery>(),
                                .localPort = [] { return std::uint16_t{61413}; },
                                .awayPort = [] { return std::uint16_t{61423}; },
                                .addresses =
                                    [] {
                                        return PublicAddress::Addresses{{"192.168.1.20", "100.101.102.103"}, {}};
                                    }});
        server = HostServer::create(testing::TestHost{.main = main,
                                                      .settings = settings,
                                                      .clock = clock,
                                                      .registry = registry,
                                                      .permissions = std::make_shared<SettablePermissions>(),
                                                      .dataHome = scratch.path}
                                        .serverConfig({.targets = store, .reach = reach}));
        HostState::Links links;
        links.startServer = [this](const std::string& code) { started.push_back(code); };
        links.broadcastStatus = [this] { ++broadcasts; };
        links.setAudioAllowed = [this](bool allowed) { streamerAllowance.push_back(allowed); };
        onMain([&] {
            state = HostState::create(
                {.main = main,
                 .clock = clock,
                 .settings = settings,
                 .permissions = std::make_shared<SettablePermissions>(),
                 .loginItem = LoginItem(std::filesystem::path("/nonexistent/quib-host.desktop"), "/bin/true"),
                 .links = links});
        });
        auto actions = std::make_shared<MenuActions>(MenuActions::Config{.state = state,
                                                                         .registry = registry,
                                                                         .server = server,
                                                                         .store = store,
                                                                         .log = log,
                                                                         .inbox = inbox,
                                                                         .push = push});
        commands = testing::testControlCommands(main, state, registry, server, store, actions);
        // The store's first-run seeding, done before any test begins.
        EXPECT_TRUE(store->tmuxQueue().sync([] {}));
        main->runPending();
    }
    ~ControlCommands() override {
        commands.reset();
        main->runPending();
    }

    void onMain(const std::function<void()>& work) {
        main->post(work);
        main->runPending();
    }

    std::shared_ptr<RecordedReply> run(const Json& request) {
        auto reply = std::make_shared<RecordedReply>();
        commands->handle(request, reply);
        main->runPending();
        return reply;
    }

    // The server republishes its own list after a change of the approved devices; that lands
    // first, so the list set here is the one that stays.
    void connect(std::vector<Device> devices) {
        (void)server->inspect();
        main->runPending();
        server->connectedDevices().set(std::move(devices));
        main->runPending();
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    testing::ScratchFolder scratch{"commands"};
    bool diskFull = false;  // every write of the settings fails
    std::shared_ptr<Settings> settings = Settings::atPath(
        scratch.path / "defaults.json", [this](const std::filesystem::path& at, std::string_view text) {
            return diskFull ? Result<void>(fail("No space left on device")) : writeFileAtomically(at, text);
        });
    std::shared_ptr<RecordingRevealer> revealer = std::make_shared<RecordingRevealer>();
    std::shared_ptr<DeliveryLog> log = std::make_shared<DeliveryLog>(
        DeliveryLog::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer});
    std::shared_ptr<AttachmentInbox> inbox = std::make_shared<AttachmentInbox>(
        AttachmentInbox::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer});
    // Without tmux, so that no pane of the user's own is seeded.
    std::shared_ptr<TargetStore> store = TargetStore::create({.main = main,
                                                              .settings = settings,
                                                              .clock = clock,
                                                              .log = log,
                                                              .tmux = Tmux(std::vector<std::filesystem::path>{}),
                                                              .apps = std::make_shared<DesktopEntries>(),
                                                              .workspace = std::make_shared<HeadlessWorkspace>()});
    std::shared_ptr<PushSender> push = PushSender::create({.settings = settings,
                                                           .secrets = SecretStore(scratch.path / "secrets"),
                                                           .poster = nullptr,
                                                           .clock = clock,
                                                           .main = main});
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<testing::FakePortMapper> mapper = std::make_shared<testing::FakePortMapper>();
    std::shared_ptr<RemoteReach> reach;
    std::shared_ptr<HostServer> server;
    std::shared_ptr<HostState> state;
    std::shared_ptr<quib::ControlCommands> commands;
    std::vector<std::string> started;
    int broadcasts = 0;
    std::vector<bool> streamerAllowance;
};

TEST_F(ControlCommands, ListsDevicesAsThePanelDoes) {
    onMain([&] {
        (void)registry->approve("A-OFF", "Offline Phone");
        (void)registry->approve("A-ON", "Approved Phone");
        (void)registry->revoke("R-1");
    });
    connect({{"A-ON", "Approved Phone", true, true}, {"W-1", "Waiting Phone", false, false}});
    const auto reply = run({{"command", "devices"}});
    ASSERT_TRUE(reply->finished);
    EXPECT_EQ(reply->last()["ok"], true);
    EXPECT_EQ(reply->last()["devices"], Json::parse(R"([
        {"id":"A-ON","name":"Approved Phone","state":"approved","connected":true,"hearing":true},
        {"id":"W-1","name":"Waiting Phone","state":"waiting","connected":true,"hearing":false},
        {"id":"A-OFF","name":"Offline Phone","state":"approved","connected":false,"hearing":false},
        {"id":"R-1","name":"iPhone","state":"revoked","connected":false,"hearing":false}])"));
}

TEST_F(ControlCommands, ApprovesAWaitingOrRevokedPhoneUnderItsShownName) {
    connect({{"W-1", "Ada's phone", false, false}});
    auto reply = run({{"command", "approve"}, {"device", "W-1"}});
    EXPECT_EQ(reply->last(), (Json{{"message", "Approved Ada's phone"}, {"ok", true}}));
    EXPECT_TRUE(registry->isApproved("W-1"));
    ASSERT_EQ(registry->approved().value().size(), 1u);
    EXPECT_EQ(registry->approved().value()[0].name, "Ada's phone");
    main->runPending();
    EXPECT_EQ(server->lastActivity().value(), "Approved Ada's phone");

    onMain([&] { (void)registry->revoke("W-1"); });
    connect({});
    reply = run({{"command", "approve"}, {"device", "W-1"}});
    EXPECT_EQ(reply->last()["message"], "Approved Ada's phone");
    EXPECT_TRUE(registry->isApproved("W-1"));

    reply = run({{"command", "approve"}, {"device", "W-1"}});
    EXPECT_EQ(reply->last()["message"], "Ada's phone is already approved");
}

TEST_F(ControlCommands, RefusesUnknownDevicesMissingIdentifiersAndUnknownCommands) {
    auto reply = run({{"command", "approve"}, {"device", "NOPE"}});
    EXPECT_EQ(reply->last(), (Json{{"error", "No phone with the identifier NOPE is connected, approved or revoked."}}));
    EXPECT_TRUE(reply->finished);
    EXPECT_TRUE(registry->approved().value().empty());

    reply = run({{"command", "revoke"}, {"device", "NOPE"}});
    EXPECT_TRUE(reply->last().contains("error"));
    reply = run({{"command", "approve"}});
    EXPECT_EQ(reply->last()["error"], "Say which phone: approve DEVICE-ID (quibctl devices lists them).");
    reply = run({{"command", "reboot"}});
    EXPECT_EQ(reply->last()["error"],
              "Unknown command \"reboot\"; the host knows status, devices, approve, revoke, code, pause, resume, "
              "watch, targets, target, refresh, use, reveal, away, listen, login-item, requests, answer, push, panel, "
              "settings, show, open and quit.");
    reply = run({{"command", 7}});
    EXPECT_TRUE(reply->last().contains("error"));
    EXPECT_TRUE(registry->revoked().value().empty());
}

TEST_F(ControlCommands, RevokesOnlyAnApprovedPhone) {
    onMain([&] { (void)registry->approve("A-1", "Grace's phone"); });
    connect({{"W-1", "Waiting Phone", false, false}});
    auto reply = run({{"command", "revoke"}, {"device", "W-1"}});
    EXPECT_TRUE(reply->last().contains("error"));
    reply = run({{"command", "revoke"}, {"device", "A-1"}});
    EXPECT_EQ(reply->last()["message"], "Revoked Grace's phone");
    EXPECT_TRUE(registry->isRevoked("A-1"));
    EXPECT_FALSE(registry->isApproved("A-1"));
    reply = run({{"command", "revoke"}, {"device", "A-1"}});
    EXPECT_EQ(reply->last()["error"], "Grace's phone is already revoked.");
}

// The line is worked out on the push queue and answered from the main executor, so it is there
// once both have run (the main executor's first run may or may not have met it already).
TEST_F(ControlCommands, AnswersWithThePushSummary) {
    const auto reply = run({{"command", "push"}});
    (void)push->inspect();
    main->runPending();
    EXPECT_EQ(reply->last(), (Json{{"summary", "Not set up"}, {"ok", true}}));
    EXPECT_TRUE(reply->finished);
}

TEST_F(ControlCommands, ShowsAndRotatesTheCodeAndPausesInput) {
    EXPECT_EQ(run({{"command", "code"}})->last(), (Json{{"pairingCode", "KX7P2M"}, {"ok", true}}));
    const auto rotated = run({{"command", "code"}, {"rotate", true}})->last();
    const std::string code = rotated["pairingCode"];
    EXPECT_NE(code, "KX7P2M");
    EXPECT_TRUE(PairingCode::isValid(code));
    EXPECT_EQ(started, std::vector<std::string>{code});
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), code);

    EXPECT_EQ(run({{"command", "pause"}})->last()["injectionPaused"], true);
    EXPECT_TRUE(state->injectionPaused().value());
    EXPECT_EQ(run({{"command", "resume"}})->last()["injectionPaused"], false);
    EXPECT_FALSE(state->injectionPaused().value());
    EXPECT_EQ(broadcasts, 2);

    const Json status = run({{"command", "status"}})->last()["status"];
    EXPECT_EQ(status["hostName"], "Test Host");
    EXPECT_EQ(status["pairingCode"], code);
    EXPECT_EQ(status["listening"], false);
    EXPECT_EQ(status["injectionPaused"], false);
    EXPECT_EQ(status["connectedDevices"], 0);
    EXPECT_FALSE(status.contains("session"));  // said only of a Wayland session
}

TEST_F(ControlCommands, SwitchesAwayAccessThroughRemoteReach) {
    auto reply = run({{"command", "away"}, {"enabled", true}});
    EXPECT_EQ(reply->last(), (Json{{"awayEnabled", true}, {"message", "Away access is on"}, {"ok", true}}));
    EXPECT_EQ(settings->boolean("quib.away.enabled"), true);
    EXPECT_TRUE(server->neighbours().reach->isEnabled());
    EXPECT_EQ(run({{"command", "away"}})->last()["away"]["status"], "working");
    mapper->answer(PortMapperService::Mapping{"203.0.113.7", 40001, 7200, "PCP"});
    main->runPending();
    // Mapped, but no phone has its key yet: the status says so, the panel's texts stay as they are.
    const std::string noKey =
        "No approved phone holds an away key yet, so nothing answers on the away port until a phone on this "
        "network asks for away access.";
    EXPECT_EQ(run({{"command", "status"}})->last()["status"]["awayNote"], noKey);
    EXPECT_EQ(run({{"command", "away"}})->last(),
              (Json{{"away",
                     {{"status", "reachable"},
                      {"note", noKey},
                      {"detail", "PCP \u00B7 203.0.113.7:40001"},
                      {"candidates",
                       {{{"display", "192.168.1.20:61413"}, {"reach", "local"}, {"via", "this network"}},
                        {{"display", "100.101.102.103:61413"}, {"reach", "local"}, {"via", "VPN"}},
                        {{"display", "203.0.113.7:40001"}, {"reach", "forwarded4"}, {"via", "PCP"}}}}}},
                    {"ok", true}}));
    onMain([&] { (void)registry->approve("D-A", "Ada's phone"); });
    ASSERT_TRUE(reach->payload("D-A", true).keyMaterial);  // the phone asks on this network
    EXPECT_FALSE(run({{"command", "away"}})->last()["away"].contains("note"));
    EXPECT_FALSE(run({{"command", "status"}})->last()["status"].contains("awayNote"));

    EXPECT_EQ(run({{"command", "away"}, {"retry", true}})->last()["message"], "Trying again");
    EXPECT_EQ(mapper->maps.size(), 2u);
    mapper->answer(PortMapperService::Failure::refused("the router is set to refuse port forwarding"));
    main->runPending();
    EXPECT_EQ(run({{"command", "away"}})->last()["away"]["reason"],
              "Your router refused to forward a port — the router is set to refuse port forwarding");

    reply = run({{"command", "away"}, {"enabled", false}});
    EXPECT_EQ(reply->last()["awayEnabled"], false);
    EXPECT_EQ(settings->boolean("quib.away.enabled"), false);
    EXPECT_EQ(mapper->unmaps.size(), 1u);
    const Json off = run({{"command", "away"}})->last()["away"];
    EXPECT_EQ(off["status"], "off");
    EXPECT_FALSE(off.contains("detail"));
    EXPECT_TRUE(off["unavailable"].get<std::string>().starts_with("Direct internet access is off. For another Wi-Fi"));
    EXPECT_EQ(run({{"command", "away"}, {"enabled", "on"}})->last()["error"],
              "Say whether to switch it on or off: away on|off.");
    EXPECT_EQ(settings->boolean("quib.away.enabled"), false);
}

TEST_F(ControlCommands, SwitchesListeningAsThePanelsSwitchDoesAndTheStatusShowsIt) {
    EXPECT_EQ(run({{"command", "status"}})->last()["status"]["audioAllowed"], true);
    auto reply = run({{"command", "listen"}, {"enabled", false}});
    EXPECT_EQ(reply->last(), (Json{{"audioAllowed", false}, {"message", "Phones may not listen"}, {"ok", true}}));
    EXPECT_EQ(settings->boolean("quib.listen.allowed"), false);
    EXPECT_EQ(run({{"command", "status"}})->last()["status"]["audioAllowed"], false);
    reply = run({{"command", "listen"}, {"enabled", true}});
    EXPECT_EQ(reply->last()["message"], "Phones may listen");
    EXPECT_EQ(run({{"command", "status"}})->last()["status"]["audioAllowed"], true);
    EXPECT_EQ(streamerAllowance, (std::vector<bool>{false, true}));
    for (const Json& request : {Json{{"command", "listen"}}, Json{{"command", "listen"}, {"enabled", 1}}}) {
        EXPECT_EQ(run(request)->last()["error"], "Say whether phones may listen: listen on|off.");
    }
    EXPECT_EQ(streamerAllowance.size(), 2u);
}

TEST_F(ControlCommands, WatchersReceiveEveryActivityUntilTheyLeave) {
    server->note("before watching");
    main->runPending();
    auto watcher = run({{"command", "watch"}});
    EXPECT_FALSE(watcher->finished);
    EXPECT_EQ(watcher->lines, std::vector<Json>{(Json{{"ok", true}, {"watching", true}})});
    EXPECT_EQ(commands->watcherCount(), 1u);

    server->note("Approved Ada's phone");
    server->note("Approved Ada's phone");
    main->runPending();
    ASSERT_EQ(watcher->lines.size(), 3u);
    EXPECT_EQ(watcher->lines[1], (Json{{"activity", "Approved Ada's phone"}}));
    EXPECT_EQ(watcher->lines[2], watcher->lines[1]);

    // The pause, its end and a new code show too.
    run({{"command", "pause"}});
    run({{"command", "resume"}});
    run({{"command", "code"}, {"rotate", true}});
    std::vector<std::string> said;
    for (std::size_t i = 3; i < watcher->lines.size(); ++i) said.push_back(watcher->lines[i].value("activity", ""));
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0], "Input from phones is paused");
    EXPECT_EQ(said[1], "Input from phones is on again");
    EXPECT_EQ(said[2], "New pairing code: " + state->pairingCode().value() +
                           " (every phone was disconnected and must use it; approvals stay)");

    watcher->hangUp();
    main->runPending();
    EXPECT_EQ(commands->watcherCount(), 0u);
}

QuibTarget savedTarget(const std::string& id, QuibTarget::Kind kind, const std::string& name) {
    QuibTarget target;
    target.id = id;
    target.kind = kind;
    target.name = name;
    return target;
}

TEST_F(ControlCommands, ListsSavedThenProvisionalTargetsAndMakesOnlyASavedOneActive) {
    const std::string focused = store->targets().value().at(0).id;  // made on the first run
    onMain([&] {
        store->upsert(savedTarget("T-1", QuibTarget::Kind::tmux, "Agent (work)"));
        auto editor = savedTarget("T-2", QuibTarget::Kind::app, "Editor");
        editor.bundleID = "code";
        store->upsert(editor);
        store->publishProvisional({savedTarget("pane:%9", QuibTarget::Kind::tmux, "Offered")});
        store->setActive("T-2");
    });
    auto reply = run({{"command", "targets"}});
    Json expected = Json::parse(R"json([
        {"id":"","kind":"frontmost","name":"Focused","profile":"app","active":false,"unresolved":false,"provisional":false},
        {"id":"T-1","kind":"tmux","name":"Agent (work)","profile":"shell","active":false,"unresolved":false,"provisional":false},
        {"id":"T-2","kind":"app","name":"Editor","profile":"editor","active":true,"unresolved":false,"provisional":false},
        {"id":"pane:%9","kind":"tmux","name":"Offered","profile":"shell","active":false,"unresolved":false,"provisional":true}])json");
    expected[0]["id"] = focused;
    EXPECT_EQ(reply->last()["targets"], expected);

    reply = run({{"command", "use"}, {"target", "T-1"}});
    EXPECT_EQ(reply->last(), (Json{{"message", "Active target: Agent (work)"}, {"ok", true}}));
    EXPECT_EQ(store->activeTargetID().value(), "T-1");
    EXPECT_EQ(settings->string(TargetStore::activeKey), "T-1");

    for (const char* unknown : {"NOPE", "pane:%9"}) {
        reply = run({{"command", "use"}, {"target", unknown}});
        EXPECT_EQ(reply->last()["error"],
                  "No saved target has the identifier " + std::string(unknown) + " (quibctl targets lists them).");
    }
    reply = run({{"command", "use"}});
    EXPECT_TRUE(reply->last().contains("error"));
    EXPECT_EQ(store->activeTargetID().value(), "T-1");
}

TEST_F(ControlCommands, RevealingTheLogMakesItOnceShowsItAndAnswersItsPath) {
    const auto path = scratch.path / "Quib" / "deliveries.log";
    auto reply = run({{"command", "reveal"}, {"item", "log"}});
    EXPECT_EQ(reply->last(), (Json{{"path", path.string()}, {"ok", true}}));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_EQ(revealer->shown, std::vector<std::filesystem::path>{path});

    log->record(DeliveryReceipt{true, "T-1", "Editor", 5, true, "Delivered"});
    reply = run({{"command", "reveal"}, {"item", "log"}});
    EXPECT_EQ(reply->last()["path"], path.string());
    EXPECT_GT(std::filesystem::file_size(path), 0u);  // an existing log is left as it is

    reply = run({{"command", "reveal"}, {"item", "everything"}});
    EXPECT_EQ(reply->last()["error"], "Say what to reveal: reveal log, or reveal inbox.");
}

TEST_F(ControlCommands, RevealingTheInboxMakesTheOwnerOnlyFolderAndShowsIt) {
    const auto folder = scratch.path / "Quib" / "inbox";
    auto reply = run({{"command", "reveal"}, {"item", "inbox"}});
    EXPECT_EQ(reply->last(), (Json{{"path", folder.string()}, {"ok", true}}));
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    ASSERT_EQ(revealer->shown.size(), 1u);
    EXPECT_EQ(revealer->shown[0].parent_path(), folder);  // the revealer opens the inbox itself

    // A desktop that showed nothing is a failure, with its reason; the folder stays.
    revealer->failure = "Could not show " + folder.string() + ": no program opens folders";
    reply = run({{"command", "reveal"}, {"item", "inbox"}});
    EXPECT_EQ(reply->last()["error"], *revealer->failure);
    reply = run({{"command", "reveal"}, {"item", "log"}});
    EXPECT_EQ(reply->last()["error"], *revealer->failure);
    EXPECT_TRUE(std::filesystem::exists(scratch.path / "Quib" / "deliveries.log"));
}

// As the panel's list and its buttons: an answer from this computer carries no device and no
// reason, and an id that is not waiting is refused.
TEST_F(ControlCommands, ListsWaitingRequestsAndAnswersThemAsThisComputer) {
    ApprovalClock::use(clock);
    auto& approvals = *server->neighbours().approvals;
    std::vector<ApprovalResolution> resolved;
    onMain([&] {
        approvals.setOnResolved([&](const ApprovalResolution& resolution) { resolved.push_back(resolution); });
        const auto now = ApprovalClock::now();
        approvals.submit(ApprovalRequest::make("R1", std::nullopt, "Work", "Run the tests", "",
                                               ApprovalRequest::Kind::command, now, 60.5, ApprovalDecision::approve));
        approvals.submit(ApprovalRequest::make("R2", std::nullopt, "Docs", "Edit README", "",
                                               ApprovalRequest::Kind::edit, now - 10'000, 20, ApprovalDecision::deny));
    });
    EXPECT_EQ(run({{"command", "requests"}})->last()["requests"], Json::parse(R"([
        {"id":"R1","targetName":"Work","title":"Run the tests","secondsLeft":60},
        {"id":"R2","targetName":"Docs","title":"Edit README","secondsLeft":10}])"));

    EXPECT_EQ(run({{"command", "answer"}, {"request", "R1"}, {"decision", "deny"}})->last(),
              (Json{{"message", "Denied Work: Run the tests"}, {"ok", true}}));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].decision, ApprovalDecision::deny);
    EXPECT_EQ(resolved[0].reason, ApprovalResolution::Reason::answered);
    EXPECT_FALSE(resolved[0].byDeviceName);
    EXPECT_FALSE(resolved[0].note);

    EXPECT_EQ(run({{"command", "answer"}, {"request", "R1"}, {"decision", "approve"}})->last()["error"],
              "No request with the identifier R1 is waiting (quibctl requests lists them).");
    EXPECT_TRUE(run({{"command", "answer"}, {"request", "R2"}, {"decision", "maybe"}})->last().contains("error"));
    EXPECT_EQ(resolved.size(), 1u);
    ApprovalClock::use(nullptr);
}

}  // namespace
}  // namespace quib::apptests

namespace quib::apptests {
namespace {

TEST_F(ControlCommands, RemovesSavedTargetsAllOrNone) {
    const std::string focused = store->targets().value().at(0).id;
    onMain([&] {
        (void)store->upsert(savedTarget("T-1", QuibTarget::Kind::tmux, "Agent"));
        (void)store->upsert(savedTarget("T-2", QuibTarget::Kind::frontmost, "Desk"));
    });
    auto reply = run({{"command", "targets"}, {"remove", {"T-1", "NOPE"}}});
    EXPECT_EQ(reply->last()["error"], "No saved target has the identifier NOPE (quibctl targets lists them).");
    reply = run({{"command", "targets"}, {"remove", Json::array()}});
    EXPECT_TRUE(reply->last().contains("error"));
    EXPECT_EQ(store->targets().value().size(), 3u);

    reply = run({{"command", "targets"}, {"remove", {"T-2", "T-1", "T-2"}}});
    EXPECT_EQ(reply->last(), (Json{{"message", "Removed Desk, Agent"}, {"ok", true}}));
    ASSERT_EQ(store->targets().value().size(), 1u);
    EXPECT_EQ(store->targets().value()[0].id, focused);
}

// With the disk full, a change holds until the host restarts, and the tool says so instead of
// reporting success; a revoked phone's connections are cut all the same.
TEST_F(ControlCommands, ChangesThatCannotBeSavedAreReportedAsFailures) {
    onMain([&] {
        (void)registry->approve("A-1", "Grace's phone");
        (void)store->upsert(savedTarget("T-1", QuibTarget::Kind::tmux, "Agent"));
    });
    connect({{"W-1", "Ada's phone", false, false}});
    diskFull = true;
    const std::string later =
        "(No space left on device); the host keeps trying, and a restart before it succeeds undoes it.";
    auto reply = run({{"command", "approve"}, {"device", "W-1"}});
    EXPECT_EQ(reply->last()["error"], "Approved Ada's phone, but it could not be saved " + later);
    EXPECT_TRUE(registry->isApproved("W-1"));
    reply = run({{"command", "revoke"}, {"device", "A-1"}});
    EXPECT_EQ(reply->last()["error"], "Revoked Grace's phone, but it could not be saved " + later);
    EXPECT_TRUE(registry->isRevoked("A-1"));
    reply = run({{"command", "targets"}, {"remove", {"T-1"}}});
    EXPECT_EQ(reply->last()["error"], "Removed Agent, but it could not be saved " + later);

    diskFull = false;
    clock->advance(DeviceRegistry::retryInterval);
    main->runPending();
    EXPECT_FALSE(registry->hasUnsavedChanges());
    EXPECT_EQ(store->saveFailure(), std::nullopt);
    auto reread = DeviceRegistry::create(main, Settings::atPath(scratch.path / "defaults.json"), clock);
    EXPECT_TRUE(reread->isRevoked("A-1"));
    EXPECT_TRUE(reread->isApproved("W-1"));
}

}  // namespace
}  // namespace quib::apptests
