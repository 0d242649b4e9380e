#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/PairingCode.hpp"
#include "Tests/Support/AutostartEntry.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib::apptests {
namespace {

namespace fs = std::filesystem;
using testing::autostartEntry;
using testing::ScratchFolder;
using namespace std::chrono_literals;

class HostState : public ::testing::Test {
protected:
    HostState() {
        links.startServer = [this](const std::string& code) { started.push_back(code); };
        links.broadcastStatus = [this] { ++broadcasts; };
        links.hasConnectedDevices = [this] { return connected; };
        links.setInjectorPaused = [this](bool paused) { injectorPaused = paused; };
        links.releaseAllButtons = [this] { injector->releaseAllButtons(); };
        links.resetScrollPhase = [this] { injector->resetScrollPhase(); };
        links.revalidateTrust = [this] {
            ++revalidations;
            return permissions->accessibilityTrusted();
        };
        links.refreshProvisional = [this] { ++provisionalRefreshes; };
        // What the streamer is handed, beside what the store held by then.
        links.setAudioAllowed = [this](bool allowed) {
            streamerAllowance.emplace_back(allowed, settings->boolean("quib.listen.allowed"));
        };
    }

    std::shared_ptr<quib::HostState> make() {
        quib::HostState::Config config{
            main, clock, settings, permissions, LoginItem(autostartEntry(scratch), "/opt/quib/quib-host"), links};
        std::shared_ptr<quib::HostState> state;
        onMain([&] { state = quib::HostState::create(config); });
        return state;
    }

    void onMain(const std::function<void()>& work) {
        main->post(work);
        main->runPending();
    }

    // One tick of the permission timer.
    void tick() {
        clock->advance(quib::HostState::permissionInterval);
        main->runPending();
    }

    ScratchFolder scratch{"quib-hoststate"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::shared_ptr<EventInjector> injector = EventInjector::create({.desktop = desktop->services(), .clock = clock});
    quib::HostState::Links links;

    std::vector<std::string> started;
    int broadcasts = 0;
    bool connected = false;
    std::optional<bool> injectorPaused;
    int revalidations = 0;
    int provisionalRefreshes = 0;
    std::vector<std::pair<bool, std::optional<bool>>> streamerAllowance;
};

TEST_F(HostState, KeepsAValidStoredCodeByteForByteAndReplacesAnInvalidOne) {
    (void)settings->setString("quib.pairingCode.v1", " kx7-p2m ");
    EXPECT_EQ(make()->pairingCode().value(), " kx7-p2m ");
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), " kx7-p2m ");

    (void)settings->setString("quib.pairingCode.v1", "KX7P2I");  // I is not in the alphabet
    const std::string drawn = make()->pairingCode().value();
    EXPECT_TRUE(PairingCode::isValid(drawn));
    EXPECT_EQ(drawn.size(), 6u);
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), drawn);
}

TEST_F(HostState, RotatingStoresANewCodeAndStartsTheServerWithIt) {
    (void)settings->setString("quib.pairingCode.v1", "KX7P2M");
    auto state = make();
    onMain([&] { state->rotatePairingCode(); });
    const std::string code = state->pairingCode().value();
    EXPECT_TRUE(PairingCode::isValid(code));
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), code);
    EXPECT_EQ(started, std::vector<std::string>{code});
}

TEST_F(HostState, PausingReleasesHeldButtonsClearsTheScrollGestureAndBroadcasts) {
    auto state = make();
    injector->click(MouseButton::left, ClickPhase::down, 1);
    injector->click(MouseButton::right, ClickPhase::down, 1);
    injector->scroll(ScrollGesturePhase::began);
    injector->scroll(0, 10);

    onMain([&] { state->setInjectionPaused(true); });
    EXPECT_TRUE(state->injectionPaused().value());
    EXPECT_EQ(injectorPaused, true);
    EXPECT_TRUE(desktop->pressedButtons().empty());
    EXPECT_EQ(broadcasts, 1);

    // Resuming only tells the injector and the phones.
    injector->click(MouseButton::middle, ClickPhase::down, 1);
    onMain([&] { state->setInjectionPaused(false); });
    EXPECT_FALSE(state->injectionPaused().value());
    EXPECT_EQ(injectorPaused, false);
    EXPECT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::middle});
    EXPECT_EQ(broadcasts, 2);
    EXPECT_FALSE(settings->contains("quib.injectionPaused"));

    // The gesture that was open when pausing is gone: the next scroll begins a new one.
    injector->scroll(0, 10);
    EXPECT_EQ(desktop->events().back().field(EventField::scrollPhase), 1);
}

TEST_F(HostState, AudioAllowanceDefaultsToAllowedIsStoredAndThenReachesTheStreamer) {
    auto state = make();
    EXPECT_TRUE(state->audioAllowed().value());
    EXPECT_TRUE(streamerAllowance.empty()) << "creation only reads the stored value";
    onMain([&] { state->setAudioAllowed(false); });
    EXPECT_EQ(settings->boolean("quib.listen.allowed"), false);
    EXPECT_FALSE(make()->audioAllowed().value());
    onMain([&] { state->setAudioAllowed(true); });
    using Handed = std::pair<bool, std::optional<bool>>;
    EXPECT_EQ(streamerAllowance, (std::vector<Handed>{{false, false}, {true, true}}));

    ASSERT_TRUE(settings->setString("quib.listen.allowed", "no").ok());  // not a Boolean: allowed
    EXPECT_TRUE(make()->audioAllowed().value());
}

TEST_F(HostState, TheTickBroadcastsOnlyWhenAPermissionFlagReallyChanges) {
    auto state = make();
    onMain([&] { state->beginWatchingAccessibility(); });
    clock->advance(1400ms);
    main->runPending();
    EXPECT_EQ(broadcasts, 0);  // the first tick comes 1.5 s after starting

    tick();
    tick();
    EXPECT_EQ(broadcasts, 0);

    permissions->setAccessibilityTrusted(true);
    tick();
    EXPECT_TRUE(state->accessibilityGranted().value());
    EXPECT_EQ(broadcasts, 1);
    tick();
    EXPECT_EQ(broadcasts, 1);

    permissions->setScreenRecordingGranted(true);
    tick();
    EXPECT_TRUE(state->screenRecordingGranted().value());
    EXPECT_EQ(broadcasts, 2);

    // The login item changing behind the host's back is picked up without telling phones.
    ASSERT_FALSE(LoginItem(autostartEntry(scratch), "/opt/quib/quib-host").setEnabled(true));
    tick();
    EXPECT_TRUE(state->launchAtLogin().value());
    EXPECT_EQ(broadcasts, 2);
}

TEST_F(HostState, TheInjectorsDisabledApiCountsAgainstTrust) {
    bool apiDisabled = true;
    links.injectorApiDisabled = [&] { return apiDisabled; };
    permissions->setAccessibilityTrusted(true);
    auto state = make();
    EXPECT_FALSE(state->accessibilityGranted().value());
    onMain([&] { state->beginWatchingAccessibility(); });
    apiDisabled = false;
    tick();
    EXPECT_TRUE(state->accessibilityGranted().value());
    EXPECT_EQ(broadcasts, 1);
}

TEST_F(HostState, RevalidatesTrustAndRefreshesProvisionalTargetsOnlyWhilePhonesAreConnected) {
    auto state = make();
    onMain([&] { state->beginWatchingAccessibility(); });
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(revalidations, 0);
    EXPECT_EQ(provisionalRefreshes, 0);  // the tenth tick found nobody connected

    connected = true;
    for (int i = 0; i < 9; ++i) tick();
    EXPECT_EQ(revalidations, 9);
    EXPECT_EQ(provisionalRefreshes, 0);
    tick();
    EXPECT_EQ(provisionalRefreshes, 1);
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(provisionalRefreshes, 2);
}

TEST_F(HostState, StartingTheTimerAgainReplacesItAndDestroyingTheStateStopsIt) {
    auto state = make();
    onMain([&] { state->beginWatchingAccessibility(); });
    clock->advance(1s);
    onMain([&] { state->beginWatchingAccessibility(); });
    permissions->setAccessibilityTrusted(true);
    clock->advance(1s);  // the first timer would have fired here
    main->runPending();
    EXPECT_EQ(broadcasts, 0);
    clock->advance(500ms);
    main->runPending();
    EXPECT_EQ(broadcasts, 1);

    state.reset();
    permissions->setAccessibilityTrusted(false);
    tick();
    tick();
    EXPECT_EQ(broadcasts, 1);
}

TEST_F(HostState, LaunchAtLoginWritesTheEntryAndReportsAFailure) {
    auto state = make();
    EXPECT_FALSE(state->launchAtLogin().value());
    onMain([&] { state->setLaunchAtLogin(true); });
    EXPECT_TRUE(fs::exists(autostartEntry(scratch)));
    EXPECT_TRUE(state->launchAtLogin().value());
    EXPECT_EQ(state->loginItemError().value(), std::nullopt);
    onMain([&] { state->setLaunchAtLogin(false); });
    EXPECT_FALSE(fs::exists(autostartEntry(scratch)));
    EXPECT_FALSE(state->launchAtLogin().value());

    // The autostart folder cannot be made: a file stands where it should be.
    fs::remove_all(scratch.path / "autostart");
    std::ofstream(scratch.path / "autostart") << "in the way";
    onMain([&] { state->setLaunchAtLogin(true); });
    EXPECT_FALSE(state->launchAtLogin().value());
    ASSERT_TRUE(state->loginItemError().value().has_value());
    EXPECT_FALSE(state->loginItemError().value()->empty());
}

TEST_F(HostState, SaysInTheLogWhatIsMissingForInput) {
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    auto state = make();
    state->openAccessibilitySettings();
    permissions->setAccessibilityTrusted(true);
    state->promptForAccessibility();
    Logger::setSink(previous);
    ASSERT_EQ(sink->lines().size(), 1u);
    EXPECT_NE(sink->lines()[0].find(permissions->accessibilityHelp()), std::string::npos);
}

}  // namespace
}  // namespace quib::apptests
