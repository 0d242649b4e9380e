#include "Platform/Linux/LogindScreenLock.hpp"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Runtime/Logger.hpp"

namespace quib {
namespace {

constexpr const char* logindService = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

bool saysNoSession(const sd_bus_error& error) {
    return sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
           sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
           (error.name && std::strncmp(error.name, "org.freedesktop.login1.", 23) == 0);
}

}  // namespace

LogindScreenLock::LogindScreenLock(std::chrono::milliseconds timeout)
    : timeoutMicros_(static_cast<std::uint64_t>(timeout.count()) * 1000) {}

LogindScreenLock::~LogindScreenLock() { disconnect(); }

bool LogindScreenLock::isLocked() {
    MutexLock lock(mutex_);
    if (noSession_ || (!bus_ && !connect())) return false;
    const auto path = sessionPath();
    if (!path) return false;
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, logindService, path->c_str(), "org.freedesktop.DBus.Properties",
                                       "Get") < 0 ||
        sd_bus_message_append(call, "ss", "org.freedesktop.login1.Session", "LockedHint") < 0) {
        sd_bus_message_unref(call);
        return false;
    }
    Message reply(send(call));
    int locked = 0;
    return reply && sd_bus_message_read(reply.get(), "v", "b", &locked) >= 0 && locked != 0;
}

bool LogindScreenLock::connect() {
    const int result = sd_bus_open_system(&bus_);
    if (result >= 0) return true;
    if (!saidNoBus_) {
        quibLog().warning("capture: no system bus to read the screen lock from (", pub(std::strerror(-result)),
                          "); the screen counts as unlocked");
        saidNoBus_ = true;
    }
    disconnect();
    return false;
}

std::optional<std::string> LogindScreenLock::sessionPath() {
    if (sessionPath_) return sessionPath_;
    sd_bus_message* call = nullptr;
    const char* named = std::getenv("XDG_SESSION_ID");
    int result = 0;
    if (named && *named) {
        result = sd_bus_message_new_method_call(bus_, &call, logindService, logindPath, managerInterface, "GetSession");
        if (result >= 0) result = sd_bus_message_append(call, "s", named);
    } else {
        result =
            sd_bus_message_new_method_call(bus_, &call, logindService, logindPath, managerInterface, "GetSessionByPID");
        if (result >= 0) result = sd_bus_message_append(call, "u", static_cast<std::uint32_t>(::getpid()));
    }
    if (result < 0) {
        sd_bus_message_unref(call);
        return std::nullopt;
    }
    sessionPath_ = callForPath(call);
    return sessionPath_;
}

std::optional<std::string> LogindScreenLock::callForPath(sd_bus_message* call) {
    Message reply(send(call));
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "o", &path) < 0 || !path) return std::nullopt;
    return std::string(path);
}

sd_bus_message* LogindScreenLock::send(sd_bus_message* call) {
    Message owned(call);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call(bus_, call, timeoutMicros_, &error, &reply);
    if (result < 0) {
        // An answer that there is no such session (or no logind at all) holds for the whole run;
        // a time-out or a broken bus may not, and is asked again next time.
        if (!sd_bus_is_open(bus_)) disconnect();
        else if (!sessionPath_ && saysNoSession(error)) noSession_ = true;
        reply = nullptr;
    }
    sd_bus_error_free(&error);
    return reply;
}

void LogindScreenLock::disconnect() { bus_ = sd_bus_flush_close_unref(bus_); }

}  // namespace quib
