#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/App/QuibHostApp.hpp"
#include "QuibHost/Apps/MenuFixture.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/AutostartEntry.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/OnQueue.hpp"
#include "Tests/Support/RecordingServiceAdvertiser.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib::apptests {
namespace {

namespace fs = std::filesystem;
using testing::autostartEntry;
using testing::freePort;
using testing::ScratchFolder;
using namespace std::chrono_literals;

// One request through the control socket, answered while the main loop is pumped.
std::string ask(const fs::path& socketPath, const std::string& request, MainLoop& main) {
    auto answer = std::async(std::launch::async, [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        std::string text;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
            char chunk[1024];
            for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return text;
    });
    while (answer.wait_for(5ms) != std::future_status::ready) main.runPending();
    return answer.get();
}

class QuibHostApp : public ::testing::Test {
protected:
    QuibHostApp() {
        previousSink = Logger::setSink(log);
        (void)settings->setInteger("quib.port", freePort());
        (void)settings->setString("quib.serviceName", "Test Host");
    }
    ~QuibHostApp() override {
        if (app) main->post([&] { app->terminate(); });
        main->runPending();
        app.reset();
        main->runPending();
        Logger::setSink(previousSink);
    }

    quib::QuibHostApp& make(std::vector<std::string> arguments) {
        app = quib::QuibHostApp::create(config(std::move(arguments)));
        return *app;
    }

    // The host on the simulated desktop, listening on loopback, with its files in the scratch folder.
    quib::QuibHostApp::Config config(std::vector<std::string> arguments) {
        return {.main = main,
                .clock = clock,
                .settings = settings,
                .permissions = std::make_shared<SettablePermissions>(),
                .advertiser = std::make_shared<RecordingServiceAdvertiser>(),
                .loginItem = LoginItem(autostartEntry(scratch), executable),
                .arguments = std::move(arguments),
                .controlSocketPath = scratch.path / "host.sock",
                .listenAddress = "127.0.0.1",
                .dataHome = scratch.path / "data",
                .desktop = desktop->services()};
    }

    // The start-up sequence, as the main loop's task.
    quib::QuibHostApp::Launched launch() {
        quib::QuibHostApp::Launched launched;
        main->post([&] { launched = app->launch(); });
        main->runPending();
        return launched;
    }

    // Pumps the main loop until `condition` holds, for at most 10 s.
    bool eventually(const std::function<bool()>& condition) {
        return testing::eventually(condition, 10s, [this] { main->runPending(); });
    }

    fs::path executable = "/opt/quib/quib-host";

    ScratchFolder scratch{"quib-app"};
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::unique_ptr<quib::QuibHostApp> app;
};

// Only the installed host registers itself: an entry naming a build folder would outlive it.
TEST_F(QuibHostApp, EnableLoginItemWritesTheAutostartEntryOfTheInstalledHostOnly) {
    make({"quib-host", "--enable-login-item"});
    ASSERT_TRUE(launch().port);
    EXPECT_FALSE(fs::exists(autostartEntry(scratch)));
    EXPECT_TRUE(log->contains("launched from /opt/quib/quib-host, autostart: notRegistered"));
    EXPECT_TRUE(log->contains("autostart not set up: this host runs from /opt/quib/quib-host"));
}

TEST_F(QuibHostApp, EnableLoginItemWritesTheAutostartEntryAndLogsTheOutcome) {
    executable = LoginItem::installPrefix() / "bin" / "quib-host";
    make({"quib-host", "--enable-login-item"});
    ASSERT_TRUE(launch().port);
    EXPECT_TRUE(fs::exists(autostartEntry(scratch)));
    EXPECT_TRUE(app->state().launchAtLogin().value());
    EXPECT_TRUE(log->contains("autostart after setting up: enabled error=none"));
}

// Given no router and no STUN, away access switched on asks nobody: the stand-ins answer at once
// that there is no gateway and no public address.
TEST_F(QuibHostApp, AwayAccessWithoutAGivenNetworkStaysInTheProcess) {
    ASSERT_TRUE(settings->setBool(RemoteReachService::enabledKey, true).ok());
    make({"quib-host"});
    ASSERT_TRUE(launch().port);
    auto& reach = *app->server().neighbours().reach;
    EXPECT_TRUE(eventually([&] { return reach.status().value().kind == RemoteReachService::Status::Kind::blocked; }));
    EXPECT_EQ(reach.status().value().reason,
              "Your router would not open a port, and nothing on the internet could say what this computer's public "
              "address is.");
    EXPECT_TRUE(log->contains("blocked(\"Your router would not open a port"));
}

TEST_F(QuibHostApp, OtherArgumentsLeaveTheLoginItemAlone) {
    make({"quib-host", "--enable-login-items", "enable-login-item"});
    ASSERT_TRUE(launch().port);
    EXPECT_FALSE(fs::exists(autostartEntry(scratch)));
    EXPECT_FALSE(log->contains("autostart after setting up"));
}

TEST_F(QuibHostApp, LaunchesWithTheStoredCodeAndServesTheControlSocket) {
    (void)settings->setString("quib.pairingCode.v1", "KX7P2M");
    make({"quib-host"});
    const auto launched = launch();
    EXPECT_EQ(launched.pairingCode, "KX7P2M");
    EXPECT_EQ(launched.port, settings->integer("quib.port"));
    EXPECT_EQ(launched.name, "Test Host");
    EXPECT_FALSE(log->contains("KX7P2M"));

    const Json answer = Json::parse(ask(scratch.path / "host.sock",
                                        R"({"command":"code"})"
                                        "\n",
                                        *main));
    EXPECT_EQ(answer["pairingCode"], "KX7P2M");

    // Pausing from the control tool reaches the injector the server sends phones' input to.
    ask(scratch.path / "host.sock",
        R"({"command":"pause"})"
        "\n",
        *main);
    EXPECT_TRUE(app->server().neighbours().injector->isPaused());
    EXPECT_TRUE(app->server().status(std::nullopt).injectionPaused);
}

TEST_F(QuibHostApp, ShutDownReleasesHeldButtonsStopsTheServerAndClosesTheSocket) {
    make({"quib-host"});
    ASSERT_TRUE(launch().port);
    EXPECT_TRUE(eventually([&] { return app->server().isListening().value(); }));
    app->server().neighbours().injector->click(MouseButton::left, ClickPhase::down, 1);
    ASSERT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::left});
    main->post([&] { app->terminate(); });
    main->runPending();
    EXPECT_TRUE(desktop->pressedButtons().empty());
    EXPECT_FALSE(app->server().isListening().value());
    EXPECT_FALSE(app->server().inspect().listenerPort);
    EXPECT_FALSE(fs::exists(scratch.path / "host.sock"));
}

// The app's menus are read from the desktop the host drives, its name from the installed entries.
TEST_F(QuibHostApp, ReadsMenusOfTheDesktopItDrives) {
    const fs::path applications = scratch.path / "share" / "applications";
    fs::create_directories(applications);
    std::ofstream(applications / "org.example.Editor.desktop") << "[Desktop Entry]\nType=Application\nName=Editor\n";
    ::setenv("XDG_DATA_HOME", (scratch.path / "share").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (scratch.path / "none").c_str(), 1);
    using namespace quib::testing;
    desktop->setTrusted(true);
    desktop->start("org.example.Editor");
    desktop->setMenuBar(desktop->app("org.example.Editor")->processID,
                        bar({holding("Edit", {keyed("Undo", "z"), keyed("Copy", "c"), keyed("Paste", "v")})}));
    make({"quib-host"});
    const auto payload = onQueue(app->server().menuQueue(), [&] {
        return app->server().neighbours().menus->profile("org.example.Editor", false);
    });
    EXPECT_EQ(payload.outcome, MenuProfilePayload::Outcome::read);
    EXPECT_EQ(payload.note, "Read from Editor's own menu bar \u2014 3 shortcuts, 3 of them worth a button.");
}

TEST_F(QuibHostApp, FailsToLaunchWhenThePortIsTaken) {
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    (void)settings->setInteger("quib.port", taken.local_endpoint().port());
    make({"quib-host"});
    EXPECT_FALSE(launch().port);
    ASSERT_TRUE(eventually([&] { return app->server().lastError().value().has_value(); }));
    EXPECT_FALSE(app->server().isListening().value());
    EXPECT_FALSE(app->server().lastError().value()->empty());
}

}  // namespace
}  // namespace quib::apptests

namespace quib::apptests {
namespace {

// Remote reach that remembers what start-up asked of it.
class StartRecordingReach final : public RemoteReachService {
public:
    Published<std::vector<QuibCandidate>>& candidates() override { return candidates_; }
    Published<Status>& status() override { return status_; }
    Published<std::optional<std::string>>& detail() override { return detail_; }
    bool isEnabled() const override { return false; }
    void setEnabled(bool) override {}
    std::vector<QuibTransport::Key> listenerKeys() override { return {}; }
    bool isOnSameNetwork(const std::string&) override { return false; }
    RemoteAccessPayload payload(const std::optional<std::string>&, bool) override { return {}; }
    void forget(const std::string&) override {}
    void refreshLocal() override { calls.push_back("refreshLocal"); }
    void refresh() override { calls.push_back("refresh"); }
    void watchPath() override { calls.push_back("watchPath"); }
    void start() override { calls.push_back("start"); }
    std::vector<std::string> calls;

private:
    std::shared_ptr<MainLoop> main_ = std::make_shared<MainLoop>();
    Published<std::vector<QuibCandidate>> candidates_{main_, {}};
    Published<Status> status_{main_, {}};
    Published<std::optional<std::string>> detail_{main_, std::nullopt};
};

class QuibHostAppRemoteReach : public QuibHostApp {
protected:
    std::vector<std::string> launchWithAway(std::optional<bool> away) {
        if (away) (void)settings->setBool(RemoteReachService::enabledKey, *away);
        auto reach = std::make_shared<StartRecordingReach>();
        auto made = config({"quib-host"});
        made.neighbours.reach = reach;
        app = quib::QuibHostApp::create(std::move(made));
        EXPECT_TRUE(launch().port);
        return reach->calls;
    }
};

TEST_F(QuibHostAppRemoteReach, StartUpAsksRemoteReachForAddressesAndPathAndMappingOnlyWhenAwayIsOn) {
    EXPECT_EQ(launchWithAway(true), (std::vector<std::string>{"refreshLocal", "watchPath", "start"}));
}

TEST_F(QuibHostAppRemoteReach, AwayOffOrUnsetStartsNoMapping) {
    EXPECT_EQ(launchWithAway(std::nullopt), (std::vector<std::string>{"refreshLocal", "watchPath"}));
}

}  // namespace
}  // namespace quib::apptests
