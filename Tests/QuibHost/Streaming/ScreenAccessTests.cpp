#include "Platform/Headless/HeadlessPermissions.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib {
namespace {

class ScreenAccessLog {
public:
    ScreenAccessLog() : previous_(Logger::setSink(sink_)) {}
    ~ScreenAccessLog() { Logger::setSink(previous_); }

    std::size_t count(std::string_view text) const {
        const auto lines = sink_->lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    std::size_t size() const { return sink_->lines().size(); }

private:
    std::shared_ptr<CapturingLogSink> sink_ = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previous_;
};

TEST(ScreenAccess, AsksOncePerRunWhicheverCallerComesFirst) {
    auto permissions = std::make_shared<SettablePermissions>();
    ScreenAccess access(permissions);
    ScreenAccessLog log;

    permissions->setScreenRecordingGranted(true);
    EXPECT_TRUE(access.isGranted());
    access.requestOnceIfNeeded();
    EXPECT_EQ(log.size(), 0u);  // granted: nothing to ask

    permissions->setScreenRecordingGranted(false);
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) callers.emplace_back([&] { access.requestOnceIfNeeded(); });
    for (auto& caller : callers) caller.join();
    access.requestOnceIfNeeded();
    EXPECT_EQ(log.count("view: asking for window capture"), 1u);
    EXPECT_EQ(log.count(permissions->screenRecordingHelp()), 1u);
    EXPECT_EQ(log.size(), 2u);
}

TEST(ScreenAccess, OpeningTheSettingsAsksEveryTimeAndLeavesTheOnceRequestAlone) {
    auto permissions = std::make_shared<SettablePermissions>();
    ScreenAccess access(permissions);
    ScreenAccessLog log;

    access.openSettings();
    access.openSettings();
    EXPECT_EQ(log.count(permissions->screenRecordingHelp()), 2u);
    EXPECT_EQ(log.count("asking"), 0u);

    access.requestOnceIfNeeded();
    EXPECT_EQ(log.count("view: asking for window capture"), 1u);

    // Without a display, capture is never granted.
    EXPECT_FALSE(ScreenAccess(std::make_shared<HeadlessPermissions>()).isGranted());
}

// Screen access made without a desktop to ask stops at once, naming what it lacks.
TEST(ScreenAccessDeathTest, StopsWithoutPermissionsToAsk) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ScreenAccess(nullptr), "ScreenAccess was made without its permissions");
}

}  // namespace
}  // namespace quib
