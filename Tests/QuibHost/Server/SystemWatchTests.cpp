#include "QuibHost/Server/SystemWatch.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "Platform/Simulated/SimulatedInterfaceWatch.hpp"
#include "Platform/Simulated/SimulatedSleepWatch.hpp"
#include "Runtime/FakeClock.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

// A watch begun on a network queue of its own with a frozen clock; every step drains the queue.
class SystemWatch : public ::testing::Test {
protected:
    void SetUp() override {
        watch.begin(
            *network, [this](bool goingToSleep) { sleeps.push_back(goingToSleep); }, [this] { ++changes; });
        drain();
    }
    void TearDown() override {
        (void)network->sync([&] { watch.stop(); });
        network->shutdown();
    }

    void drain() {
        (void)network->sync([] {});
    }
    void report(std::set<std::string> names) {
        interfaces->setNames(std::move(names));
        interfaces->announce();
        drain();
    }
    void pass(MonoTime::duration time) {
        clock->advance(time);
        drain();
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<NetworkQueue> network = NetworkQueue::create("system-watch-test", clock);
    std::shared_ptr<SimulatedSleepWatch> sleep = std::make_shared<SimulatedSleepWatch>();
    std::shared_ptr<SimulatedInterfaceWatch> interfaces =
        std::make_shared<SimulatedInterfaceWatch>(std::set<std::string>{"eth0", "wlan0"});
    quib::SystemWatch watch{sleep, interfaces, nullptr};
    std::vector<bool> sleeps;
    std::atomic<int> changes = 0;
};

TEST_F(SystemWatch, ABurstOfReportsIsJudgedOnceWhenNoneCameForTheSettleTime) {
    const auto settle = quib::SystemWatch::interfaceSettle;
    report({"eth0"});
    pass(settle - 1ms);
    report({"eth0", "wlan0"});
    pass(settle - 1ms);
    report({"eth0", "tun0"});
    EXPECT_EQ(changes, 0);
    pass(settle);
    EXPECT_EQ(changes, 1);
    pass(10 * settle);
    EXPECT_EQ(changes, 1);
}

TEST_F(SystemWatch, OnlyAnotherSetOfNamesThanTheLastIsAChange) {
    const auto settle = quib::SystemWatch::interfaceSettle;
    const std::vector<std::pair<std::set<std::string>, int>> rows = {
        {{"wlan0", "eth0"}, 0},  // the baseline read when the watch began
        {{"eth0"}, 1},          {{"eth0"}, 1}, {{}, 2}, {{"eth0", "wlan0"}, 3},
    };
    for (const auto& [names, changesAfter] : rows) {
        report(names);
        pass(settle);
        EXPECT_EQ(changes, changesAfter) << names.size() << " names";
    }
}

TEST_F(SystemWatch, SleepAndWakeAreHandedOnAndTheFirstSleepIsHeldBack) {
    EXPECT_EQ(sleep->events(), std::vector<std::string>{"delay"});
    sleep->announce(true);
    watch.allowSleep();
    sleep->announce(false);
    watch.delaySleep();
    EXPECT_EQ(sleeps, (std::vector<bool>{true, false}));
    EXPECT_EQ(sleep->events(), (std::vector<std::string>{"delay", "allow", "delay"}));
}

}  // namespace quib::testing
