#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Platform/Simulated/SimulatedInterfaceWatch.hpp"
#include "Platform/Simulated/SimulatedSleepWatch.hpp"
#include "QuibHost/Reach/AbsentPortMapperService.hpp"
#include "QuibHost/Reach/AbsentPublicAddressDiscovery.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "QuibHost/Targets/AttachmentReceiver.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/Json.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FakeApprovalBroker.hpp"
#include "Tests/Support/FakeStillCapture.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/FakeVocabulary.hpp"
#include "Tests/Support/FixedWindowList.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/MirroringPanelStreamer.hpp"
#include "Tests/Support/OnMain.hpp"
#include "Tests/Support/RecordingAppCatalog.hpp"
#include "Tests/Support/RecordingAudioStreamer.hpp"
#include "Tests/Support/RecordingPushSender.hpp"
#include "Tests/Support/RecordingServiceAdvertiser.hpp"
#include "Tests/Support/RecordingTargetRouter.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestHost.hpp"
#include "Tests/Support/TestLines.hpp"
#include "Tests/Support/TestPhone.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib::testing {

// The suite HostServer: a fresh server per test, listening dual-stack on a free port with a frozen clock, so
// lock-out state never leaks between tests and deadlines move only when a test says so.
class HostServer : public ::testing::Test {
protected:
    static constexpr const char* code = "ABCDEF";

    void SetUp() override {
        // Stored uploads are named by local time; each test runs in a process of its own.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        previousSink = Logger::setSink(log);
        (void)settings->setInteger(ServerSettings::portKey, freePort());
        registry = DeviceRegistry::create(main, settings, clock);
        reach = host().offlineReach(secrets);
        makeServer();
    }

    // A server with the fixture's neighbours (and the test host's menu catalog), looking for
    // tmux where `tmux` says.
    void makeServer() {
        auto config = host().serverConfig({.targets = targets,
                                           .injector = injector,
                                           .router = router,
                                           .catalog = catalog,
                                           .vocabulary = vocabulary,
                                           .approvals = approvals,
                                           .push = push,
                                           .panelStreamer = panelStreamer,
                                           .audioStreamer = audioStreamer,
                                           .windowList = windowList,
                                           .roster = desktop,
                                           .stills = stills,
                                           .reach = reach,
                                           .uploads = std::make_shared<AttachmentReceiver>(inbox)});
        config.advertiser = advertiser;
        config.machineInfo = "/nonexistent/machine-info";
        targets->tmux = tmux;
        config.sleep = sleepWatch;
        config.interfaces = interfaceWatch;
        configure(config);
        if (change) change(config);
        server = quib::HostServer::create(config);
    }

    // Replaces the server with one whose configuration `adjust` changes last.
    void remakeServerWith(std::function<void(quib::HostServer::Config&)> adjust) {
        server.reset();
        main->runPending();
        change = std::move(adjust);
        makeServer();
    }

    // Replaces the server with one that looks for tmux in `where`.
    void remakeServer(Tmux where) {
        server.reset();
        main->runPending();
        tmux = std::move(where);
        makeServer();
    }

    // Builds servers of the fixture's parts.
    TestHost host() const {
        return {.main = main,
                .settings = settings,
                .clock = clock,
                .registry = registry,
                .permissions = permissions,
                .dataHome = dataHome.path};
    }

    // Changes the server's configuration before it is made.
    virtual void configure(quib::HostServer::Config&) {}

    void TearDown() override {
        // Replies built on the main loop go back through the network queue holding the server
        // for a moment. Let them run first, so that the last owner lets go here and never on the
        // network queue's own thread, which cannot join itself.
        for (int round = 0; server && round < 3; ++round) {
            main->runPending();
            (void)server->inspect();
        }
        server.reset();
        main->runPending();
        Logger::setSink(previousSink);
    }

    // Starts the server and waits until it listens.
    std::uint16_t startServer() {
        onMain([&] { server->start(code); });
        EXPECT_TRUE(eventually([&] { return server->isListening().value(); }))
            << server->lastError().value().value_or("");
        return server->inspect().listenerPort.value_or(0);
    }

    // Runs `work` as a task of the main loop: start, stop, revoke and the begin* calls belong there.
    void onMain(const std::function<void()>& work) { testing::onMain(*main, work); }

    // Pumps the main loop until `condition` holds; real time only bounds the wait.
    bool eventually(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return testing::eventually(condition, timeout, [this] { main->runPending(); });
    }

    // The phone's next line, read while the main loop runs (some replies are built there);
    // nothing when none came in time or the connection closed.
    std::optional<std::string> nextLine(TestPhone& phone, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        do {
            main->runPending();
            if (auto line = phone.readLine(std::chrono::milliseconds(2))) return line;
        } while (std::chrono::steady_clock::now() < end && !phone.isClosed());
        return phone.readLine(std::chrono::milliseconds(0));
    }

    // Starts the server with the device "D-U" approved, as upload tests want it.
    // The inbox prunes by this clock's wall time against the files' real modification times, so
    // it is set to the real time.
    std::uint16_t startUploads() {
        clock->setWallTime(std::chrono::system_clock::now());
        approve("D-U", "Pad");
        return startServer();
    }

    // A phone that said the upload hello (with `behind` in the same write) and was told the
    // upload's batch identifier, which is kept in `batchID`.
    std::unique_ptr<TestPhone> readyUpload(std::uint16_t port, const std::string& hello,
                                           const std::string& behind = "") {
        auto phone = std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(hello + behind);
        const auto line = nextLine(*phone);
        const Json reply = line ? Json::parse(*line) : Json();
        EXPECT_TRUE(reply.contains("uploadReady")) << reply.dump();
        const Json& id = reply.contains("uploadReady") ? reply["uploadReady"]["batchID"] : Json();
        batchID = id.is_string() ? id.get<std::string>() : "";
        return phone;
    }

    // The names in the attachment inbox, sorted.
    std::vector<std::string> inboxFiles() const {
        std::vector<std::string> names;
        const auto folder = dataHome.path / "Quib" / "inbox";
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            names.push_back(it->path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::int64_t failuresOf(const std::string& source) {
        const auto tables = server->inspect();
        const auto found = tables.throttles.find(source);
        return found == tables.throttles.end() ? 0 : found->second.failures;
    }

    void approve(const std::string& deviceID, const std::string& name) {
        main->post([&] { (void)registry->approve(deviceID, name); });
        main->runPending();
    }

    static std::string helloLine(const std::string& deviceID, const std::string& name = "Phone") {
        return "{\"hello\":{\"_0\":{\"protocolVersion\":23,\"deviceName\":\"" + name + "\",\"deviceID\":\"" + deviceID +
               "\"}}}\n";
    }

    // A phone of an approved device, connected and past its hello, with the lines of its welcome read.
    std::unique_ptr<TestPhone> approvedPhone(std::uint16_t port, const std::string& deviceID) {
        approve(deviceID, "Phone");
        auto phone = std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(helloLine(deviceID));
        settle(*phone);
        return phone;
    }

    // Sends a ping and reads up to its pong: every line sent before has then been handled.
    bool settle(TestPhone& phone) { return messagesUntilPong(phone).has_value(); }

    // What the phone was sent up to the pong of a ping sent now, once the main loop has run what
    // waits there. Each further round also takes in what work queued on the main loop by the
    // round before sent back through the network queue (a reply built there, as remote access
    // and the approvals waiting are).
    std::vector<Json> heardUntilSettled(TestPhone& phone, int rounds = 1) {
        std::vector<Json> heard;
        for (int round = 0; round < rounds; ++round) {
            auto messages = messagesUntilPong(phone);
            if (!messages) break;
            heard.insert(heard.end(), messages->begin(), messages->end());
        }
        return heard;
    }
    std::vector<std::string> casesUntilSettled(TestPhone& phone, int rounds = 1) {
        std::vector<std::string> cases;
        for (const Json& message : heardUntilSettled(phone, rounds)) cases.push_back(caseOf(message));
        return cases;
    }

    // Publishes now the names and last-seen times that hellos left waiting for the registry's
    // save delay, and with them the status they send phones, so that no such status comes later.
    void saveSeen() {
        main->post([&] { EXPECT_TRUE(registry->saveNow()); });
        main->runPending();
    }

    // First, so that it is made before any thread starts.
    TmuxServer tmuxServer;
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<RecordingServiceAdvertiser> advertiser = std::make_shared<RecordingServiceAdvertiser>();
    ScratchFolder dataHome{"server"};
    std::shared_ptr<AttachmentInbox> inbox =
        std::make_shared<AttachmentInbox>(AttachmentInbox::Config{.dataHome = dataHome.path, .clock = clock});
    std::shared_ptr<RecordingTargetRouter> router = std::make_shared<RecordingTargetRouter>();
    std::shared_ptr<FakeTargetStore> targets = std::make_shared<FakeTargetStore>(main);
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::shared_ptr<EventInjector> injector = EventInjector::create(
        {.desktop = desktop->services(), .permissions = desktop, .clock = clock, .settings = settings});
    std::shared_ptr<FakeApprovalBroker> approvals = std::make_shared<FakeApprovalBroker>(main);
    std::shared_ptr<RecordingPushSender> push = std::make_shared<RecordingPushSender>();
    ScratchFolder scratch{"quib-server"};
    SecretStore secrets{scratch.path / "secrets"};
    std::shared_ptr<SimulatedSleepWatch> sleepWatch = std::make_shared<SimulatedSleepWatch>();
    std::shared_ptr<SimulatedInterfaceWatch> interfaceWatch = std::make_shared<SimulatedInterfaceWatch>();
    std::shared_ptr<MirroringPanelStreamer> panelStreamer = std::make_shared<MirroringPanelStreamer>();
    std::shared_ptr<RecordingAudioStreamer> audioStreamer = std::make_shared<RecordingAudioStreamer>();
    std::shared_ptr<FixedWindowList> windowList = std::make_shared<FixedWindowList>();
    std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
    std::shared_ptr<FakeVocabulary> vocabulary = std::make_shared<FakeVocabulary>();
    std::shared_ptr<RecordingAppCatalog> catalog = std::make_shared<RecordingAppCatalog>();
    std::shared_ptr<FakeStillCapture> stills = std::make_shared<FakeStillCapture>();
    // Where the server looks for tmux.
    Tmux tmux;
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<RemoteReach> reach;
    std::shared_ptr<quib::HostServer> server;
    // The nonces of the fixture's own pings, far from those a test sends itself.
    std::uint64_t pings = 1'000'000'000;
    std::string batchID;
    std::function<void(quib::HostServer::Config&)> change;

private:
    std::optional<std::vector<Json>> messagesUntilPong(TestPhone& phone) {
        main->runPending();
        const std::uint64_t nonce = ++pings;
        phone.write(ping(nonce));
        auto messages = messagesBeforePong(nonce, [&] {
            const auto line = nextLine(phone);
            return line ? Json::parse(*line, nullptr, false) : Json();
        });
        if (!messages) ADD_FAILURE() << "no pong came";
        return messages;
    }
};

}  // namespace quib::testing
