#include "Platform/Linux/LogindSleepWatch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

namespace {

constexpr const char* logindService = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";

std::string errorText(int negativeErrno) { return std::strerror(-negativeErrno); }

// Milliseconds until the bus's next deadline (absolute CLOCK_MONOTONIC microseconds); -1: none.
int pollTimeout(sd_bus* bus) {
    std::uint64_t deadline = 0;
    if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    if (deadline <= nowUs) return 0;
    return static_cast<int>((deadline - nowUs + 999) / 1000);
}

}  // namespace

// sd-bus objects are not thread-safe: only the bus thread touches `bus` and `slot` once it
// runs. The mutex guards the delay-lock fields, which any thread may change.
struct LogindSleepWatch::State {
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;
    int wake = -1;  // an eventfd that wakes the bus thread
    Handler handler;
    std::optional<WorkerThread> thread;

    mutable Mutex mutex;
    bool stopping GUARDED_BY(mutex) = false;
    bool wantDelay GUARDED_BY(mutex) = false;
    int inhibitor GUARDED_BY(mutex) = -1;  // the held delay lock: closing it lets the sleep go ahead

    ~State();
    bool open();
    void run();
    void takeInhibitorIfWanted();
    int inhibit();
    void poke() const;

    static int onPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error*);
};

LogindSleepWatch::State::~State() {
    {
        MutexLock lock(mutex);
        stopping = true;
    }
    poke();
    if (thread) thread->join();
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    if (wake >= 0) ::close(wake);
    if (inhibitor >= 0) ::close(inhibitor);
}

bool LogindSleepWatch::State::open() {
    int result = sd_bus_open_system(&bus);
    if (result < 0) {
        quibLog().warning("sleep: no system bus to hear sleep and wake from (", pub(errorText(result)),
                          "); the host goes on without");
        return false;
    }
    result = sd_bus_match_signal(bus, &slot, logindService, logindPath, managerInterface, "PrepareForSleep",
                                 &State::onPrepareForSleep, this);
    if (result < 0) {
        quibLog().error("sleep: cannot listen for logind's sleep signal: ", pub(errorText(result)));
        return false;
    }
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        quibLog().error("sleep: cannot serve the system bus: ", pub(errorText(-errno)));
        return false;
    }
    return true;
}

int LogindSleepWatch::State::onPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error*) {
    int goingToSleep = 0;
    if (sd_bus_message_read(message, "b", &goingToSleep) < 0) return 0;
    static_cast<State*>(self)->handler(goingToSleep != 0);
    return 0;
}

void LogindSleepWatch::State::run() {
    for (;;) {
        {
            MutexLock lock(mutex);
            if (stopping) return;
        }
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) {
            quibLog().error("sleep: lost the system bus: ", pub(errorText(processed)));
            return;
        }
        if (processed > 0) continue;
        takeInhibitorIfWanted();
        pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, pollTimeout(bus)) > 0 && (fds[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            (void)!::read(wake, &count, sizeof count);
        }
    }
}

// The call blocks this thread only; signals that arrive meanwhile wait in the bus's queue.
void LogindSleepWatch::State::takeInhibitorIfWanted() {
    {
        MutexLock lock(mutex);
        if (!wantDelay || inhibitor >= 0) return;
    }
    const int fd = inhibit();
    MutexLock lock(mutex);
    if (fd < 0) {
        wantDelay = false;  // asked once; the next delaySleep asks again
        return;
    }
    if (wantDelay && inhibitor < 0) inhibitor = fd;
    else ::close(fd);
}

// A delay lock from logind, as a descriptor of our own; -1 when logind refuses.
int LogindSleepWatch::State::inhibit() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1;
    int result = sd_bus_call_method(bus, logindService, logindPath, managerInterface, "Inhibit", &error, &reply, "ssss",
                                    "sleep", "Quib", "Closing phone connections before sleep", "delay");
    if (result >= 0) result = sd_bus_message_read(reply, "h", &fd);
    if (result >= 0) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (result < 0 || fd < 0) {
        const std::string reason = error.message ? error.message : errorText(result < 0 ? result : -errno);
        quibLog().error("sleep: logind will not hold sleep back: ", pub(reason));
        fd = -1;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return fd;
}

void LogindSleepWatch::State::poke() const {
    if (wake < 0) return;
    const std::uint64_t one = 1;
    (void)!::write(wake, &one, sizeof one);
}

LogindSleepWatch::LogindSleepWatch() : state_(std::make_unique<State>()) {}

LogindSleepWatch::~LogindSleepWatch() = default;

bool LogindSleepWatch::start(Handler handler) {
    if (state_->bus) return false;
    state_->handler = std::move(handler);
    if (!state_->open()) return false;
    state_->thread.emplace("com.brenmoor.quib.host.sleep", [state = state_.get()] { state->run(); });
    return true;
}

void LogindSleepWatch::delaySleep() {
    {
        MutexLock lock(state_->mutex);
        state_->wantDelay = true;
    }
    state_->poke();
}

void LogindSleepWatch::allowSleep() {
    MutexLock lock(state_->mutex);
    state_->wantDelay = false;
    if (state_->inhibitor >= 0) ::close(std::exchange(state_->inhibitor, -1));
}

bool LogindSleepWatch::isDelaying() const {
    MutexLock lock(state_->mutex);
    return state_->inhibitor >= 0;
}

}  // namespace quib
