// What the tests ask of the accessibility bus, from a process of its own, so that no libatspi
// call of a test ever shares a process with the host's own reader (libatspi's connection and
// cache belong to one thread).
//
//     quib-atspi-probe menu-bar PID TIMEOUT_MS   exit 0 once the app running as PID shows a menu
//                                               bar, 1 when it does not within the time
//     quib-atspi-probe enable                    turns assistive technology on for the session
//     quib-atspi-probe is-enabled                prints "true" or "false"
//     quib-atspi-probe first-look                prints "watching", then waits for the accessibility
//                                               bus's service to appear and prints the flag as
//                                               read at once then, as some toolkits do
//
// Every command exits 2 when there is no session bus, or no accessibility bus on it.

#include <atspi/atspi.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int found = 0, notFound = 1, noBus = 2;

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;

// GErrors are dropped: a failed read counts as no answer, and the caller asks again.
template <class Read>
auto quietly(Read read) {
    GError* error = nullptr;
    auto value = read(&error);
    g_clear_error(&error);
    return value;
}

std::vector<Accessible> children(AtspiAccessible* parent) {
    std::vector<Accessible> result;
    const int count = quietly([&](GError** e) { return atspi_accessible_get_child_count(parent, e); });
    for (int i = 0; i < count; ++i) {
        Accessible child(quietly([&](GError** e) { return atspi_accessible_get_child_at_index(parent, i, e); }));
        if (child) result.push_back(std::move(child));
    }
    return result;
}

// Breadth-first through the app's first four levels: frame, its panels, their children.
bool showsMenuBar(Accessible app) {
    std::deque<std::pair<Accessible, int>> queue;
    queue.emplace_back(std::move(app), 0);
    while (!queue.empty()) {
        auto [node, depth] = std::move(queue.front());
        queue.pop_front();
        if (quietly([&node = node](GError** e) { return atspi_accessible_get_role(node.get(), e); }) ==
            ATSPI_ROLE_MENU_BAR) {
            return true;
        }
        if (depth == 4) continue;
        for (auto& child : children(node.get())) queue.emplace_back(std::move(child), depth + 1);
    }
    return false;
}

bool appShowsMenuBar(int pid) {
    Accessible desktop(atspi_get_desktop(0));
    for (auto& app : children(desktop.get())) {
        if (quietly([&](GError** e) { return atspi_accessible_get_process_id(app.get(), e); }) == guint(pid)) {
            return showsMenuBar(std::move(app));
        }
    }
    return false;
}

int waitForMenuBar(int pid, int timeoutMs) {
    // Without a bus libatspi would autolaunch one, or abort at the first read.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || atspi_init() > 1) return noBus;
    atspi_set_timeout(1500, -1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (appShowsMenuBar(pid)) return found;
        if (std::chrono::steady_clock::now() >= deadline) return notFound;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

std::unique_ptr<sd_bus, BusCloser> sessionBus() {
    sd_bus* bus = nullptr;
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || sd_bus_open_user(&bus) < 0) return nullptr;
    return std::unique_ptr<sd_bus, BusCloser>(bus);
}

constexpr const char* a11yService = "org.a11y.Bus";
constexpr const char* a11yPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";

int enable() {
    auto bus = sessionBus();
    if (!bus) return noBus;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int status =
        sd_bus_set_property(bus.get(), a11yService, a11yPath, statusInterface, "IsEnabled", &error, "b", 1);
    sd_bus_error_free(&error);
    return status < 0 ? noBus : found;
}

int printEnabled(sd_bus* bus) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int enabled = 0;
    int status = sd_bus_get_property(bus, a11yService, a11yPath, statusInterface, "IsEnabled", &error, &reply, "b");
    if (status >= 0) status = sd_bus_message_read(reply, "b", &enabled);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    if (status < 0) return noBus;
    std::puts(enabled ? "true" : "false");
    return found;
}

int printEnabled() {
    auto bus = sessionBus();
    return bus ? printEnabled(bus.get()) : noBus;
}

int firstLook() {
    auto bus = sessionBus();
    if (!bus || sd_bus_add_match(bus.get(), nullptr,
                                 "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                                 "arg0='org.a11y.Bus'",
                                 nullptr, nullptr) < 0)
        return noBus;
    std::puts("watching");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        sd_bus_message* message = nullptr;
        const int processed = sd_bus_process(bus.get(), &message);
        const bool appeared = message && sd_bus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged");
        sd_bus_message_unref(message);
        if (processed < 0) return noBus;
        if (appeared) return printEnabled(bus.get());
        if (processed == 0) sd_bus_wait(bus.get(), 100'000);
    }
    return notFound;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "menu-bar" && argc == 4) return waitForMenuBar(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "enable" && argc == 2) return enable();
    if (command == "is-enabled" && argc == 2) return printEnabled();
    if (command == "first-look" && argc == 2) return firstLook();
    std::fprintf(stderr, "usage: quib-atspi-probe menu-bar PID TIMEOUT_MS | enable | is-enabled | first-look\n");
    return 64;
}
