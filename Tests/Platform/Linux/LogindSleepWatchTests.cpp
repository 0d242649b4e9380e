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

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

// A private message bus standing in for the system bus, with a stand-in for logind on it that
// hands out delay locks and announces sleep and wake. Its bus is served on its own thread.
class FakeLogind {
public:
    explicit FakeLogind(const std::filesystem::path& socket) : address_("unix:path=" + socket.string()) {
        daemon_ = ::fork();
        if (daemon_ == 0) {
            const std::string listen = "--address=" + address_;
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", listen.c_str(), nullptr);
            ::_exit(127);
        }
        // The socket file appears when the daemon binds it, a moment before it listens.
        if (!eventually([&] { return std::filesystem::exists(socket) && connect(); })) return;
        if (sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0 ||
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", vtable, this) < 0) {
            return;
        }
        ready_ = true;
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeLogind() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        sd_bus_flush_close_unref(bus_);
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
    }

    bool isReady() const { return ready_; }
    const std::string& address() const { return address_; }
    void announce(bool goingToSleep) { pendingSignal_ = goingToSleep ? 1 : 0; }
    std::vector<std::string> inhibitCalls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    bool connect() {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) < 0) return false;
        if (sd_bus_set_address(bus, address_.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
            sd_bus_unref(bus);
            return false;
        }
        bus_ = bus;
        return true;
    }

    void serve() {
        while (!stopping_) {
            while (sd_bus_process(bus_, nullptr) > 0) {
            }
            if (const int signal = pendingSignal_.exchange(-1); signal >= 0) {
                sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                   signal);
            }
            sd_bus_wait(bus_, 10'000);
        }
    }

    static int inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
        const char *what, *who, *why, *mode;
        if (sd_bus_message_read(call, "ssss", &what, &who, &why, &mode) < 0) return -EINVAL;
        auto* fake = static_cast<FakeLogind*>(self);
        {
            std::lock_guard lock(fake->mutex_);
            fake->calls_.push_back(std::string(what) + "/" + mode);
        }
        int ends[2];
        if (::pipe(ends) != 0) return -errno;
        const int result = sd_bus_reply_method_return(call, "h", ends[0]);
        ::close(ends[0]);
        ::close(ends[1]);
        return result;
    }

    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
        SD_BUS_VTABLE_END,
    };

    std::string address_;
    pid_t daemon_ = -1;
    sd_bus* bus_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<int> pendingSignal_{-1};
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::thread thread_;
};

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
    ASSERT_TRUE(eventually([&] { std::lock_guard lock(mutex); return heard.size() == 1; }));
    watch.allowSleep();
    EXPECT_FALSE(watch.isDelaying());
    logind.announce(false);
    ASSERT_TRUE(eventually([&] { std::lock_guard lock(mutex); return heard.size() == 2; }));
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));

    watch.delaySleep();
    EXPECT_TRUE(eventually([&] { return watch.isDelaying(); }));
    EXPECT_EQ(logind.inhibitCalls().size(), 2u);
}

}  // namespace
}  // namespace quib
