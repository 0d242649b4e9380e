#pragma once

#include <atspi/atspi.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "Platform/Linux/Atspi/GlibLoopThread.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// The host's connection to the desktop's accessibility bus through libatspi, whose connection
// and cache are global and not thread-safe: one thread makes every libatspi call, and the
// readers hand it their work and wait. One per process.
//
// AT-SPI starts at the first read, so a host that reads no other app never starts the
// accessibility bus. It starts only where a session bus runs: elsewhere libdbus could launch one
// of its own that outlives the host, and libatspi aborts the process on a bus it cannot reach.
// Once it fails to start it stays unavailable. Before it starts, assistive technology is
// switched on for the session, as a screen reader does, since many toolkits publish their
// apps' trees only then; when this connection switched it on, switchBackOff() switches it off
// again, which the host does as it ends.
class AtspiConnection {
public:
    static constexpr Duration timeout = std::chrono::milliseconds(1500);
    // How long an app that has not yet published its tree is waited for, after the host has just
    // switched assistive technology on or brought the accessibility bus up.
    static constexpr Duration publishingTime = std::chrono::seconds(2);

    // Where a session bus would be found.
    struct Environment {
        std::optional<std::string> sessionBusAddress;  // DBUS_SESSION_BUS_ADDRESS
        std::optional<std::string> runtimeDirectory;   // XDG_RUNTIME_DIR, which may hold "bus"
        static Environment ofProcess();
        bool hasSessionBus() const;
    };

    explicit AtspiConnection(Environment environment = Environment::ofProcess());

    AtspiConnection(const AtspiConnection&) = delete;
    AtspiConnection& operator=(const AtspiConnection&) = delete;

    // AT-SPI can be asked; starts it on the first call.
    bool isAvailable();
    // Runs `work` on the AT-SPI thread and waits for it, after setting every call's timeout to
    // `callTimeout`; false, and nothing run, when AT-SPI is unavailable.
    bool run(const std::function<void()>& work, Duration callTimeout = timeout);
    // Switches the session's assistive-technology flag off when this connection switched it on;
    // otherwise leaves it as it is. Any thread.
    void switchBackOff();
    // Drops a reference to an AT-SPI object, on the AT-SPI thread; any thread may call it.
    void release(gpointer object);

    // libatspi has been initialised by this connection.
    bool hasInitialised() const { return initialised_; }
    // Until when a read waits for an app to publish itself (on the AT-SPI thread only).
    std::chrono::steady_clock::time_point publishingDeadline() const { return publishingDeadline_; }

private:
    enum class State { unstarted, available, unavailable };

    void startOnce();
    bool start();

    Environment environment_;
    State state_ = State::unstarted;  // the AT-SPI thread's
    std::chrono::steady_clock::time_point publishingDeadline_{};
    std::atomic<bool> initialised_{false};
    std::atomic<bool> switchedOn_{false};  // the flag was off, and this connection switched it on
    GlibLoopThread thread_{
        "com.brenmoor.quib.host.atspi"};  // last: it stops, running what is still posted, before the rest goes
};

}  // namespace quib
