#include "Platform/Linux/Atspi/AtspiConnection.hpp"

#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <memory>

#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

constexpr const char* statusService = "org.a11y.Bus";
constexpr const char* statusPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";
constexpr const char* enabledProperty = "IsEnabled";

using BusPointer = std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)>;

// Once libatspi has failed to reach the accessibility bus, any further call of it aborts the
// process, so a failure holds for the process, not for one connection.
struct ProcessStart {
    Mutex mutex;
    std::optional<int> result GUARDED_BY(mutex);  // what the one atspi_init of the process gave
};

ProcessStart& processStart() {
    static ProcessStart start;
    return start;
}

int initialiseOnce() {
    auto& start = processStart();
    MutexLock lock(start.mutex);
    if (!start.result) start.result = atspi_init();
    return *start.result;
}

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// The accessibility bus's service runs on the session bus.
bool statusServiceRuns(sd_bus* bus) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    const bool asked = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                          "NameHasOwner", &error, &reply, "s", statusService) >= 0 &&
                       sd_bus_message_read(reply, "b", &owned) >= 0;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return asked && owned;
}

bool assistiveTechnologyIsOn(sd_bus* bus) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int enabled = 0;
    const bool read = sd_bus_get_property_trivial(bus, statusService, statusPath, statusInterface, enabledProperty,
                                                  &error, 'b', &enabled) >= 0;
    sd_bus_error_free(&error);
    return read && enabled;
}

BusPointer openSessionBus() {
    sd_bus* opened = nullptr;
    if (sd_bus_open_user(&opened) < 0) return BusPointer(nullptr, sd_bus_flush_close_unref);
    BusPointer bus(opened, sd_bus_flush_close_unref);
    sd_bus_set_method_call_timeout(
        bus.get(), std::chrono::duration_cast<std::chrono::microseconds>(AtspiConnection::timeout).count());
    return bus;
}

bool setAssistiveTechnology(sd_bus* bus, bool on) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result =
        sd_bus_set_property(bus, statusService, statusPath, statusInterface, enabledProperty, &error, "b", on ? 1 : 0);
    if (result < 0)
        quibLog().error("accessibility: cannot switch assistive technology ", on ? "on" : "off", ": ",
                        pub(std::string(error.message ? error.message : "no answer")));
    sd_bus_error_free(&error);
    return result >= 0;
}

struct Switched {
    bool newlyPublishing = false;  // apps may only now begin to publish their trees
    bool byUs = false;             // the flag was off, and the host switched it on
};

void announceSwitchedOn() { quibLog().info("accessibility: switched assistive technology on for this session"); }

// Switches the flag on with the first message the service gets, which starts it. Whether that
// changed the flag: the service announces a change of its properties before it answers, and
// says nothing when the flag was on already (as the desktop settings it starts from may have
// it). None when the flag could not be set.
std::optional<bool> switchOnAsTheServiceStarts(sd_bus* bus) {
    bool changed = false;
    sd_bus_slot* slot = nullptr;
    const auto heard = [](sd_bus_message*, void* changed, sd_bus_error*) {
        *static_cast<bool*>(changed) = true;
        return 0;
    };
    const int watched = sd_bus_add_match(bus, &slot,
                                         "type='signal',path='/org/a11y/bus',interface='org.freedesktop.DBus."
                                         "Properties',member='PropertiesChanged',arg0='org.a11y.Status'",
                                         heard, &changed);
    const bool switched = setAssistiveTechnology(bus, true);
    while (watched >= 0 && sd_bus_process(bus, nullptr) > 0) {}
    sd_bus_slot_unref(slot);
    if (!switched) return std::nullopt;
    return watched >= 0 ? changed : true;
}

// Sets the session's assistive-technology flag. Apps may only now begin to publish their trees
// when the flag was off, or when the accessibility bus did not run yet: some toolkits look at
// the flag only the moment its service appears. That service starts for the first message sent
// to it, so where it does not run yet, that message switches the flag on: were it a read, an
// app could look in between, find the flag off and never publish.
Switched switchOnAssistiveTechnology() {
    const BusPointer bus = openSessionBus();
    if (!bus) {
        quibLog().error("accessibility: cannot reach the session bus to switch assistive technology on");
        return {};
    }
    if (!statusServiceRuns(bus.get())) {
        const auto changed = switchOnAsTheServiceStarts(bus.get());
        if (changed.value_or(false)) announceSwitchedOn();
        return {.newlyPublishing = true, .byUs = changed.value_or(false)};
    }
    if (assistiveTechnologyIsOn(bus.get())) return {};
    const bool switched = setAssistiveTechnology(bus.get(), true);
    if (switched) announceSwitchedOn();
    return {.newlyPublishing = switched, .byUs = switched};
}

}  // namespace

AtspiConnection::Environment AtspiConnection::Environment::ofProcess() {
    return {variable("DBUS_SESSION_BUS_ADDRESS"), variable("XDG_RUNTIME_DIR")};
}

bool AtspiConnection::Environment::hasSessionBus() const {
    if (sessionBusAddress && !sessionBusAddress->empty()) return true;
    if (!runtimeDirectory || runtimeDirectory->empty()) return false;
    struct stat status {};
    return ::stat((*runtimeDirectory + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

AtspiConnection::AtspiConnection(Environment environment) : environment_(std::move(environment)) {}

// The flag is also kept in the user's desktop settings, so a flag the host switched on would
// outlive it in every later session.
void AtspiConnection::switchBackOff() {
    if (!switchedOn_.exchange(false)) return;
    const BusPointer bus = openSessionBus();
    if (bus && setAssistiveTechnology(bus.get(), false))
        quibLog().info("accessibility: switched assistive technology off again");
}

// Asked from the AT-SPI thread itself, both run at once.
bool AtspiConnection::isAvailable() {
    bool available = false;
    (void)thread_.sync([&] {
        startOnce();
        available = state_ == State::available;
    });
    return available;
}

bool AtspiConnection::run(const std::function<void()>& work, Duration callTimeout) {
    bool ran = false;
    const auto milliseconds =
        static_cast<gint>(std::chrono::duration_cast<std::chrono::milliseconds>(callTimeout).count());
    (void)thread_.sync([&] {
        startOnce();
        if (state_ != State::available) return;
        atspi_set_timeout(milliseconds, milliseconds);
        work();
        ran = true;
    });
    return ran;
}

void AtspiConnection::release(gpointer object) {
    if (object) thread_.post([object] { g_object_unref(object); });
}

void AtspiConnection::startOnce() {
    if (state_ == State::unstarted) state_ = start() ? State::available : State::unavailable;
}

bool AtspiConnection::start() {
    if (!environment_.hasSessionBus()) {
        quibLog().warning("accessibility: no session bus, so other apps' menus and documents cannot be read");
        return false;
    }
    const Switched switched = switchOnAssistiveTechnology();
    switchedOn_ = switched.byUs;
    initialised_ = true;
    const int result = initialiseOnce();
    if (result != 0 && result != 1) {
        quibLog().error("accessibility: AT-SPI did not start (", result, "); other apps' menus cannot be read");
        return false;
    }
    // Counted from here: bringing the accessibility bus up may itself take a while on a busy
    // desktop, and apps start publishing only once it is up.
    if (switched.newlyPublishing) publishingDeadline_ = std::chrono::steady_clock::now() + publishingTime;
    atspi_set_main_context(thread_.context());
    return true;
}

}  // namespace quib
