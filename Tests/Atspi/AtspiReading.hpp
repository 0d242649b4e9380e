#pragma once

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/Linux/Atspi/AtspiDocuments.hpp"
#include "Platform/Linux/Atspi/AtspiMenuReader.hpp"
#include "Platform/Workspace.hpp"
#include "QuibHost/Apps/MenuScanner.hpp"
#include "Runtime/Clock.hpp"
#include "Tests/Fixtures/FixtureApp.hpp"

namespace quib {

// Commands as a failing test shows them: File ▸ Save [control s].
inline void PrintTo(const MenuCommand& command, std::ostream* out) {
    const KeyChord& chord = command.chord;
    *out << command.menu << " \u25B8 " << command.title << " [" << (chord.control ? "control " : "")
         << (chord.option ? "option " : "") << (chord.shift ? "shift " : "") << (chord.command ? "command " : "")
         << chord.key << "]";
}

}  // namespace quib

namespace quib::testing {

// A desktop where one app runs, as one process.
class OneRunningApp final : public Workspace {
public:
    OneRunningApp(std::string bundleID, std::int64_t processID) : app_{std::move(bundleID), processID} {}

    bool isInstalled(const std::string& bundleID) override { return bundleID == app_.bundleID; }
    std::vector<RunningApp> runningInstances(const std::string& bundleID) override {
        if (bundleID != app_.bundleID) return {};
        return {app_};
    }
    bool activate(const RunningApp&) override { return false; }
    Result<void> launch(const std::string&) override { return fail("no launches here"); }
    std::optional<RunningApp> frontmostApp() override { return app_; }
    std::vector<ListedApp> runningApps() override { return {{app_.bundleID, app_.processID}}; }

private:
    RunningApp app_;
};

class TrustedInjector final : public Permissions {
public:
    bool accessibilityTrusted() const override { return true; }
    bool screenRecordingGranted() const override { return false; }
    std::string accessibilityHelp() const override { return {}; }
    std::string screenRecordingHelp() const override { return {}; }
};

// A fixture app once its menu bar is on the bus; none (with a test failure) otherwise.
inline std::unique_ptr<FixtureApp> publishedApp(FixtureApp::Kind kind, const DesktopSession& session,
                                                const std::vector<std::string>& arguments = {}) {
    auto app = FixtureApp::start(kind, session, arguments);
    if (app && !app->waitForMenuBar()) {
        ADD_FAILURE() << "its menu bar never showed on the bus: " << app->log();
        return nullptr;
    }
    return app;
}

// The AT-SPI backend of this test process, as the host makes it, reading the fixture apps over
// `session`'s bus: libatspi finds that bus in the process's environment, so it is set before
// anything starts (each test is a process of its own).
struct AtspiReading {
    struct SessionBus {
        explicit SessionBus(const DesktopSession& session) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", session.busAddress.c_str(), 1);
        }
    };

    explicit AtspiReading(const DesktopSession& session) : bus(session) {}

    // The scanner of a desktop where the fixture app `bundleID` runs as `processID`, named by the
    // fixtures' desktop entries.
    MenuScanner::Config scannerOf(std::string_view bundleID, std::int64_t processID) const {
        return {.workspace = std::make_shared<OneRunningApp>(std::string(bundleID), processID),
                .applications = std::make_shared<DesktopEntries>(std::vector{FixtureApp::dataDir() / "applications"}),
                .menus = menus,
                .clock = SystemClock::shared()};
    }

    SessionBus bus;  // first: the connection reads the environment as it is made
    std::shared_ptr<AtspiConnection> connection = std::make_shared<AtspiConnection>();
    std::shared_ptr<AtspiMenuReader> menus =
        std::make_shared<AtspiMenuReader>(connection, std::make_shared<TrustedInjector>());
    std::shared_ptr<AtspiDocuments> documents = std::make_shared<AtspiDocuments>(connection);
};

}  // namespace quib::testing
