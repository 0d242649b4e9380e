// Sleep, wake and changes of the network interfaces, through simulated sources.

#include <thread>

#include "HostServerFixture.hpp"
#include "Tests/Support/RecordingInjector.hpp"
#include "Tests/Support/TestLines.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

class HostServerSystemWatch : public HostServer {
protected:
    void configure(quib::HostServer::Config& config) override { config.neighbours.injector = recorder; }

    // Holds the left button down, as a phone's click would.
    void pressLeft() {
        desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
        injector->click(MouseButton::left, ClickPhase::down, 1);
        ASSERT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::left});
    }

    void beginWatch() {
        main->post([&] { server->beginSystemWatch(); });
        main->runPending();
        (void)server->inspect();
    }

    // Reports a change of the interfaces and lets `settle` pass; afterwards whatever the report
    // caused on the network queue and the main loop has run.
    void report(std::set<std::string> names, std::chrono::milliseconds settle = quib::HostServer::interfaceSettle) {
        interfaceWatch->setNames(std::move(names));
        interfaceWatch->announce();
        (void)server->inspect();
        pass(settle);
    }
    void pass(std::chrono::milliseconds time) {
        clock->advance(time);
        (void)server->inspect();
        main->runPending();
        (void)server->inspect();  // a restart's advertiser calls are done too
    }

    // A phone whose hello was answered; the restart of the server closes it.
    std::unique_ptr<TestPhone> greetedPhone(std::uint16_t port) {
        auto phone = std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(hello("D-1", "Phone"));
        EXPECT_EQ(caseOf(parse(nextLine(*phone))), "welcome");
        return phone;
    }

    std::shared_ptr<RecordingInjector> recorder = std::make_shared<RecordingInjector>(injector);
};

TEST_F(HostServerSystemWatch, FirstChangeAfterTheWatchStartsRestartsTheServer) {
    interfaceWatch->setNames({"eth0"});
    const auto port = startServer();
    beginWatch();
    ASSERT_TRUE(interfaceWatch->isWatching());
    auto phone = greetedPhone(port);

    report({"eth0", "wlan0"});
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_EQ(advertiser->withdrawCount(), 1);
    EXPECT_TRUE(eventually([&] { return server->isListening().value(); }));
    auto again = greetedPhone(port);
    EXPECT_FALSE(again->isClosed());
}

// Each approved hello asks whether the phone is on this network, and each connection's log line
// names its interface: with the watch running, the interfaces are read once per reported change.
TEST_F(HostServerSystemWatch, HellosReadTheInterfacesOncePerReportedChange) {
    int reads = 0;
    auto list = std::make_shared<InterfaceList>([&] {
        ++reads;
        return std::vector<InterfaceAddresses::Entry>{{.name = "eth0",
                                                       .isUp = true,
                                                       .isRunning = true,
                                                       .family = InterfaceAddresses::Family::ipv6,
                                                       .host = "2a01:db9::5"}};
    });
    reach = std::make_shared<RemoteReach>(
        RemoteReach::Config{.main = main,
                            .settings = settings,
                            .secrets = secrets,
                            .approvedIDs = [registry = registry] { return registry->approvedIDs(); },
                            .mapper = std::make_shared<AbsentPortMapperService>(),
                            .discovery = std::make_shared<AbsentPublicAddressDiscovery>(),
                            .localPort = [settings = settings] { return ServerSettings::localPort(*settings); },
                            .awayPort = [settings = settings] { return ServerSettings::awayPort(*settings); },
                            .interfaceList = list});
    remakeServerWith([&](quib::HostServer::Config& config) { config.interfaceList = list; });
    approve("D-1", "Phone");
    interfaceWatch->setNames({"eth0"});
    const auto port = startServer();
    beginWatch();
    const auto hellos = [&] {
        for (int phone = 0; phone < 3; ++phone) {
            auto greeted = greetedPhone(port);
            (void)heardUntilSettled(*greeted, 2);
        }
    };
    hellos();
    EXPECT_EQ(reads, 1);
    report({"eth0"});  // the same names: no restart, but the addresses may have changed
    hellos();
    EXPECT_EQ(reads, 2);
}

TEST_F(HostServerSystemWatch, SameNamesChangeNothingEvenAfterARestart) {
    interfaceWatch->setNames({"eth0", "wlan0"});
    const auto port = startServer();
    beginWatch();
    auto phone = greetedPhone(port);

    report({"wlan0", "eth0"});
    EXPECT_EQ(advertiser->withdrawCount(), 0);
    report({"eth0"});
    EXPECT_EQ(advertiser->withdrawCount(), 1);
    // Addresses that finish their duplicate check later report again with the same names.
    report({"eth0"});
    EXPECT_EQ(advertiser->withdrawCount(), 1);
}

TEST_F(HostServerSystemWatch, ABurstIsJudgedOnceItHasSettled) {
    interfaceWatch->setNames({"eth0"});
    startServer();
    beginWatch();

    report({"eth0", "veth0"}, 60ms);
    report({"eth0", "veth0", "veth1"}, 60ms);
    EXPECT_EQ(advertiser->withdrawCount(), 0) << "judged before the burst settled";
    pass(40ms);
    EXPECT_EQ(advertiser->withdrawCount(), 1);
    report({"eth0", "veth0", "veth1"});
    EXPECT_EQ(advertiser->withdrawCount(), 1);
}

// The announcement comes on the bus's own thread; the server stops on the main loop, and the
// sleep is let go only once it has, with every button released.
TEST_F(HostServerSystemWatch, SleepStopsTheServerOnTheMainLoopBeforeTheSleepIsLetGo) {
    const auto port = startServer();
    beginWatch();
    EXPECT_EQ(sleepWatch->events(), std::vector<std::string>{"delay"});
    auto phone = greetedPhone(port);
    pressLeft();
    bool stoppedFirst = false;
    sleepWatch->setOnAllow(
        [&] { stoppedFirst = !server->inspect().listenerPort && desktop->pressedButtons().empty(); });

    std::thread([&] { sleepWatch->announce(true); }).join();
    EXPECT_TRUE(server->inspect().listenerPort) << "stopped off the main loop";
    main->runPending();
    EXPECT_TRUE(stoppedFirst);
    EXPECT_EQ(sleepWatch->events(), (std::vector<std::string>{"delay", "allow"}));
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_TRUE(eventually([&] { return !server->isListening().value(); }));
}

TEST_F(HostServerSystemWatch, WakeChecksTrustForgetsTheDisplaysThenListensAgainAndHoldsTheNextSleep) {
    startServer();
    beginWatch();
    std::thread([&] { sleepWatch->announce(true); }).join();
    main->runPending();
    ASSERT_FALSE(server->inspect().listenerPort);

    std::thread([&] { sleepWatch->announce(false); }).join();
    EXPECT_TRUE(recorder->calls().empty());
    main->runPending();
    EXPECT_EQ(recorder->calls(), (std::vector<std::string>{"revalidateTrust", "clearDisplayCache"}));
    EXPECT_TRUE(server->inspect().listenerPort);
    EXPECT_TRUE(eventually([&] { return server->isListening().value(); }));
    EXPECT_EQ(sleepWatch->events(), (std::vector<std::string>{"delay", "allow", "delay"}));
    EXPECT_TRUE(sleepWatch->isDelaying());
}

TEST_F(HostServerSystemWatch, WithoutABusSleepGoesUnnoticedAndNothingIsHeld) {
    sleepWatch = std::make_shared<SimulatedSleepWatch>(false);
    server.reset();
    auto config = host().serverConfig();
    config.advertiser = advertiser;
    config.machineInfo = "/nonexistent/machine-info";
    config.sleep = sleepWatch;
    server = quib::HostServer::create(config);
    startServer();
    beginWatch();
    EXPECT_TRUE(sleepWatch->events().empty());
    EXPECT_TRUE(server->inspect().listenerPort);
}

}  // namespace quib::testing
