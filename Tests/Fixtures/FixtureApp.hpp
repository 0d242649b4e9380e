#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// Where fixture apps, probes and hosts run: an X display and a session bus. Everything started
// for a test is given these two explicitly (DISPLAY, DBUS_SESSION_BUS_ADDRESS).
struct DesktopSession {
    std::string display;
    std::string busAddress;

    // The shared test display (QUIB_TEST_DISPLAY) and the session bus scripts/test runs the
    // accessibility tests under; either is empty when the tests run without it.
    static DesktopSession shared();
};

// A session bus of one test's own (dbus-daemon --session), for tests that need assistive
// technology off at first: once switched on it stays on for the rest of the session, and the
// accessibility bus stores it in the user's desktop settings too, where later sessions find it.
// So the bus and the services it starts get settings and runtime folders of their own. Its
// accessibility bus is started on demand and ends with it.
class PrivateSessionBus {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // None (with a test failure) when the daemon does not start.
    static std::unique_ptr<PrivateSessionBus> start();

    PrivateSessionBus(Passkey, std::unique_ptr<ScratchFolder> scratch, ChildProcess daemon, std::string address);
    ~PrivateSessionBus();

    const std::string& address() const { return address_; }

private:
    std::unique_ptr<ScratchFolder> scratch_;  // its settings, runtime files and log
    ChildProcess daemon_;
    std::string address_;
};

// A fixture app: a GTK 3 or a Qt editor with File, Edit and View menus, each with a desktop
// entry in `dataDir()`. Ended (SIGTERM) when destroyed.
class FixtureApp {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    enum class Kind { gtkEditor, qtEditor };

    static constexpr std::string_view gtkEditorID = "quibbars-editor";    // named "Bars Editor"
    static constexpr std::string_view qtEditorID = "quibbars-qt-editor";  // named "Bars Qt Editor"

    // An XDG data folder whose applications/ holds both apps' desktop entries.
    static std::filesystem::path dataDir();

    // Starts the app in `session` and waits until its window is shown and the window manager
    // lists it. `arguments`:
    // "--deep-menus" adds View ▸ Panels ▸ Layout ▸ "Level Three" (Ctrl+Alt+3) and, one level
    // below it, Layout ▸ Nested ▸ "Level Four" (Ctrl+Alt+4); the GTK editor also takes
    // "--document FILE", the file its window shows as open. None (with a test failure) when it
    // does not start.
    static std::unique_ptr<FixtureApp> start(Kind kind, const DesktopSession& session,
                                             const std::vector<std::string>& arguments = {});

    FixtureApp(Passkey, ChildProcess process, DesktopSession session, std::filesystem::path log);
    ~FixtureApp();

    pid_t pid() const { return process_.pid(); }
    // What the app wrote to its standard error.
    std::string log() const;

    // Whether its accessible tree shows a menu bar within `timeout`, asked again and again. The
    // Qt editor publishes its tree only when assistive technology was on as it started (or as
    // the session's accessibility bus came up): switching it on later does not make it.
    bool waitForMenuBar(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Ends the app, as quitting it would, and waits until it has gone and the window manager no
    // longer lists its window.
    void quit();

private:
    ChildProcess process_;
    DesktopSession session_;
    std::filesystem::path log_;
};

// The session's assistive-technology switch (org.a11y.Status IsEnabled on the session bus);
// nothing when the bus does not answer.
std::optional<bool> assistiveTechnologyEnabled(const DesktopSession& session);
// Switches it on; false when the bus does not answer.
bool enableAssistiveTechnology(const DesktopSession& session);

// Looks at the switch the moment the accessibility bus's service appears, as toolkits that look
// only then do: `seen` waits for what it found there.
class FirstLook {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Once it listens; none (with a test failure) when it cannot.
    static std::unique_ptr<FirstLook> start(const DesktopSession& session);
    FirstLook(Passkey, ChildProcess probe) : probe_(std::move(probe)) {}

    // The switch as it was found; none when the service did not appear within 10 s.
    std::optional<bool> seen();

private:
    ChildProcess probe_;
};

}  // namespace quib::testing

// Skips a test that needs the shared display and the accessibility tests' session bus when
// either is missing (a run by hand); scripts/test always provides both.
#define QUIB_REQUIRE_ACCESSIBILITY_BUS()                                                       \
    do {                                                                                       \
        const auto session = ::quib::testing::DesktopSession::shared();                        \
        if (session.display.empty() || session.busAddress.empty()) {                           \
            GTEST_SKIP() << "needs the test display (QUIB_TEST_DISPLAY) and a session bus "    \
                            "(DBUS_SESSION_BUS_ADDRESS): scripts/test runs these tests under " \
                            "dbus-run-session";                                                \
        }                                                                                      \
    } while (false)
