#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Tests/Support/Eventually.hpp"

namespace quib::testing {

// A private message bus standing in for the system bus, with a stand-in for logind on it that
// hands out delay locks, announces sleep and wake, and has one session ("c1", also the session
// of any process) whose lock the test sets. Its bus is served on its own thread, which the test
// can hold, as a logind that hangs.
class FakeLogind {
public:
    static constexpr const char* sessionID = "c1";
    static constexpr const char* sessionPath = "/org/freedesktop/login1/session/c1";

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
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     managerVtable, this) < 0 ||
            sd_bus_add_object_vtable(bus_, nullptr, sessionPath, "org.freedesktop.login1.Session", sessionVtable,
                                     this) < 0) {
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
    void setLocked(bool locked) { locked_ = locked; }
    // While held, nothing on the bus is answered; returns once the bus thread holds.
    void hold(bool held) {
        held_ = held;
        if (held) eventually([&] { return holding_.load(); });
    }
    int sessionLookups() const { return lookups_; }

private:
    bool connect() {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) < 0) return false;
        if (sd_bus_set_address(bus, address_.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
            sd_bus_start(bus) < 0) {
            sd_bus_unref(bus);
            return false;
        }
        bus_ = bus;
        return true;
    }

    void serve() {
        while (!stopping_) {
            holding_ = held_.load();
            if (holding_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            while (sd_bus_process(bus_, nullptr) > 0) {}
            if (const int signal = pendingSignal_.exchange(-1); signal >= 0) {
                sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                                   "b", signal);
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

    static int getSession(sd_bus_message* call, void* self, sd_bus_error* error) {
        ++static_cast<FakeLogind*>(self)->lookups_;
        const char* id = nullptr;
        if (sd_bus_message_read(call, "s", &id) < 0) return -EINVAL;
        if (std::strcmp(id, sessionID) != 0) {
            return sd_bus_error_set(error, "org.freedesktop.login1.NoSuchSession", "No session by that ID");
        }
        return sd_bus_reply_method_return(call, "o", sessionPath);
    }

    static int getSessionByPID(sd_bus_message* call, void* self, sd_bus_error*) {
        ++static_cast<FakeLogind*>(self)->lookups_;
        return sd_bus_reply_method_return(call, "o", sessionPath);
    }

    static int lockedHint(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
                          sd_bus_error*) {
        return sd_bus_message_append(reply, "b", static_cast<int>(static_cast<FakeLogind*>(self)->locked_.load()));
    }

    static constexpr sd_bus_vtable managerVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetSession", "s", "o", &FakeLogind::getSession, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetSessionByPID", "u", "o", &FakeLogind::getSessionByPID, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
        SD_BUS_VTABLE_END,
    };
    static constexpr sd_bus_vtable sessionVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("LockedHint", "b", &FakeLogind::lockedHint, 0, 0),
        SD_BUS_VTABLE_END,
    };

    std::string address_;
    pid_t daemon_ = -1;
    sd_bus* bus_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> held_{false};
    std::atomic<bool> holding_{false};
    std::atomic<bool> locked_{false};
    std::atomic<int> lookups_{0};
    std::atomic<int> pendingSignal_{-1};
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::thread thread_;
};

}  // namespace quib::testing
