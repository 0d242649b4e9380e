#include "Platform/Linux/LogindSleepWatch.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FakeLogind.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::eventually;
using testing::FakeLogind;

class LogindSleepWatch : public ::testing::Test {
protected:
    LogindSleepWatch() {
        previousSink = Logger::setSink(log);
        char pattern[] = "/tmp/quib-bus-XXXXXX";
        if (::mkdtemp(pattern)) folder = pattern;
    }
    ~LogindSleepWatch() override {
        Logger::setSink(previousSink);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::filesystem::path folder;
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(LogindSleepWatch, WithoutASystemBusItSaysSoOnceAndWatchesNothing) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (folder / "no-bus").string()).c_str(), 1);
    quib::LogindSleepWatch watch;
    EXPECT_FALSE(watch.start([](bool) { ADD_FAILURE() << "a sleep was announced"; }));
    EXPECT_TRUE(log->contains("sleep: no system bus to hear sleep and wake from ("));
    watch.delaySleep();
    watch.allowSleep();
    EXPECT_FALSE(watch.isDelaying());
}

TEST_F(LogindSleepWatch, HearsSleepAndWakeAndHoldsSleepBackWithADelayLock) {
    if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0) GTEST_SKIP() << "dbus-daemon is not installed";
    FakeLogind logind(folder / "bus");
    ASSERT_TRUE(logind.isReady());
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str(), 1);

    std::mutex mutex;
    std::vector<bool> heard;
    quib::LogindSleepWatch watch;
    ASSERT_TRUE(watch.start([&](bool goingToSleep) {
        std::lock_guard lock(mutex);
        heard.push_back(goingToSleep);
    }));
    watch.delaySleep();
    ASSERT_TRUE(eventually([&] { return watch.isDelaying(); }));
    EXPECT_EQ(logind.inhibitCalls(), std::vector<std::string>{"sleep/delay"});

    logind.announce(true);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return heard.size() == 1;
    }));
    watch.allowSleep();
    EXPECT_FALSE(watch.isDelaying());
    logind.announce(false);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return heard.size() == 2;
    }));
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));

    watch.delaySleep();
    EXPECT_TRUE(eventually([&] { return watch.isDelaying(); }));
    EXPECT_EQ(logind.inhibitCalls().size(), 2u);
}

}  // namespace
}  // namespace quib
