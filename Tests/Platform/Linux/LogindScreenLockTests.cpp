#include "Platform/Linux/LogindScreenLock.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "Runtime/Logger.hpp"
#include "Tests/Support/FakeLogind.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;

class LogindScreenLockTest : public ::testing::Test {
protected:
    LogindScreenLockTest() { previousSink = Logger::setSink(log); }
    ~LogindScreenLockTest() override {
        Logger::setSink(previousSink);
        ::unsetenv("XDG_SESSION_ID");
    }

    testing::ScratchFolder folder{"quib-lock"};
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(LogindScreenLockTest, WithoutASystemBusTheScreenIsNeverLocked) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (folder.path / "no-bus").string()).c_str(), 1);
    LogindScreenLock lock;
    EXPECT_FALSE(lock.isLocked());
    EXPECT_FALSE(lock.isLocked());
    const auto lines = log->lines();
    EXPECT_EQ(std::ranges::count_if(lines,
                                    [](const std::string& line) {
                                        return line.find("capture: no system bus to read the screen lock from (") !=
                                               std::string::npos;
                                    }),
              1);
}

// The session named by XDG_SESSION_ID, else the process's; a logind that hangs reads as
// unlocked after the short time-out, not after the bus's usual 25 s.
TEST_F(LogindScreenLockTest, ReadsTheLockedHintOfTheHostsSessionAndGivesUpOnAHangingLogind) {
    if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0) GTEST_SKIP() << "dbus-daemon is not installed";
    testing::FakeLogind logind(folder.path / "bus");
    ASSERT_TRUE(logind.isReady());
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str(), 1);
    ::setenv("XDG_SESSION_ID", testing::FakeLogind::sessionID, 1);

    LogindScreenLock named;
    EXPECT_FALSE(named.isLocked());
    logind.setLocked(true);
    EXPECT_TRUE(named.isLocked());
    EXPECT_EQ(logind.sessionLookups(), 1);

    logind.hold(true);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(named.isLocked());
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    logind.hold(false);
    EXPECT_TRUE(testing::eventually([&] { return named.isLocked(); }));

    ::unsetenv("XDG_SESSION_ID");
    LogindScreenLock own;
    EXPECT_TRUE(own.isLocked());

    ::setenv("XDG_SESSION_ID", "no-such-session", 1);
    LogindScreenLock unknown;
    const int lookups = logind.sessionLookups();
    EXPECT_FALSE(unknown.isLocked());
    EXPECT_FALSE(unknown.isLocked());
    EXPECT_EQ(logind.sessionLookups(), lookups + 1) << "a session logind does not know is asked for once";
}

}  // namespace
}  // namespace quib
