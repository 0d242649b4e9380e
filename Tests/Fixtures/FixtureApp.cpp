#include "Tests/Fixtures/FixtureApp.hpp"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <map>
#include <thread>

#include <unistd.h>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

namespace {

using namespace std::chrono_literals;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A new empty file for a child's standard error, kept until its owner removes it.
std::filesystem::path scratchLog(std::string_view name) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("quib-" + std::string(name) + "-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) ::close(fd);
    return pattern;
}

// Nothing started here inherits a variable that would point it elsewhere than its session: a
// bus daemon given DISPLAY would have its accessibility bus announce itself on that display's
// root window, which every client on the display then prefers to its own session's (even once
// that bus is gone), and the toolkits' switches would force or hide what an app publishes.
const std::vector<std::string> strayVariables{"DISPLAY",      "WAYLAND_DISPLAY",  "AT_SPI_BUS_ADDRESS",
                                              "NO_AT_BRIDGE", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"};

std::map<std::string, std::string> sessionEnvironment(const DesktopSession& session) {
    return {{"DISPLAY", session.display},
            {"DBUS_SESSION_BUS_ADDRESS", session.busAddress},
            {"GDK_BACKEND", "x11"},
            {"QT_QPA_PLATFORM", "xcb"}};
}

// Runs the probe in `session` and waits for it; its exit status, or nothing when it hung.
std::optional<int> probe(const DesktopSession& session, const std::vector<std::string>& arguments,
                         std::string* output = nullptr, std::chrono::milliseconds timeout = 10s) {
    std::vector<std::string> command{QUIB_ATSPI_PROBE_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto log = scratchLog("probe");
    auto process = ChildProcess::start(command, sessionEnvironment(session), log, strayVariables);
    if (!process) return std::nullopt;
    auto status = process->wait(timeout);
    if (output) process->readUntil("\n", 1s), *output = process->output();
    if (const auto text = fileContents(log); !text.empty()) std::cerr << "quib-atspi-probe: " << text;
    std::filesystem::remove(log);
    return status;
}

// Whether the window manager of `display` lists a window of process `pid` among its clients,
// once it is as `wanted`, or within 10 s.
bool managesWindowOf(const std::string& display, pid_t pid, bool wanted) {
    auto connection = X11Connection::open(display);
    if (!connection) return false;
    bool listed = !wanted;
    for (int attempt = 0; attempt < 200 && listed != wanted; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(50ms);
        connection->use([&](Display* d) {
            const auto clients = X11ClientWindows::clients(d);
            listed = std::ranges::any_of(clients, [&](Window w) { return X11ClientWindows::processID(d, w) == pid; });
        });
    }
    return listed;
}

}  // namespace

DesktopSession DesktopSession::shared() {
    return {variable("QUIB_TEST_DISPLAY"), variable("DBUS_SESSION_BUS_ADDRESS")};
}

std::unique_ptr<PrivateSessionBus> PrivateSessionBus::start() {
    auto scratch = std::make_unique<ScratchFolder>("quib-bus");
    const auto& root = scratch->path;
    std::filesystem::create_directories(root / "config");
    std::filesystem::create_directories(root / "run");
    std::filesystem::permissions(root / "run", std::filesystem::perms::owner_all);
    auto daemon = ChildProcess::start(
        {"dbus-daemon", "--session", "--nofork", "--print-address=1"},
        {{"XDG_CONFIG_HOME", (root / "config").string()}, {"XDG_RUNTIME_DIR", (root / "run").string()}},
        root / "dbus.log", strayVariables);
    auto address = daemon ? daemon->readLine(20s) : std::nullopt;
    if (!address || address->empty()) {
        ADD_FAILURE() << "dbus-daemon did not start: " << fileContents(root / "dbus.log");
        return nullptr;
    }
    return std::make_unique<PrivateSessionBus>(Passkey{}, std::move(scratch), std::move(*daemon), *address);
}

PrivateSessionBus::PrivateSessionBus(Passkey, std::unique_ptr<ScratchFolder> scratch, ChildProcess daemon,
                                     std::string address)
    : scratch_(std::move(scratch)), daemon_(std::move(daemon)), address_(std::move(address)) {}

// The accessibility bus and its registry, started on demand by this daemon, leave when it does.
PrivateSessionBus::~PrivateSessionBus() {
    daemon_.signal(SIGTERM);
    (void)daemon_.wait(10s);
}

std::filesystem::path FixtureApp::dataDir() { return QUIB_FIXTURE_DATA_DIR; }

std::unique_ptr<FixtureApp> FixtureApp::start(Kind kind, const DesktopSession& session,
                                              const std::vector<std::string>& arguments) {
    std::vector<std::string> command = kind == Kind::gtkEditor
                                           ? std::vector<std::string>{"/usr/bin/python3", QUIB_GTK_EDITOR_PATH}
                                           : std::vector<std::string>{QUIB_QT_EDITOR_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto log = scratchLog(std::string(kind == Kind::gtkEditor ? gtkEditorID : qtEditorID));
    auto process = ChildProcess::start(command, sessionEnvironment(session), log, strayVariables);
    if (!process) {
        ADD_FAILURE() << "cannot start " << command.front();
        return nullptr;
    }
    auto app = std::make_unique<FixtureApp>(Passkey{}, std::move(*process), session, log);
    if (!app->process_.readUntil("ready\n", 30s) || !managesWindowOf(session.display, app->pid(), true)) {
        ADD_FAILURE() << command.back() << " did not show its window; its log:\n" << app->log();
        return nullptr;
    }
    return app;
}

FixtureApp::FixtureApp(Passkey, ChildProcess process, DesktopSession session, std::filesystem::path log)
    : process_(std::move(process)), session_(std::move(session)), log_(std::move(log)) {}

FixtureApp::~FixtureApp() {
    quit();
    std::filesystem::remove(log_);
}

std::string FixtureApp::log() const { return fileContents(log_); }

bool FixtureApp::waitForMenuBar(std::chrono::milliseconds timeout) {
    return probe(session_, {"menu-bar", std::to_string(pid()), std::to_string(timeout.count())}, nullptr,
                 timeout + 10s) == 0;
}

void FixtureApp::quit() {
    const bool running = !process_.wait(0ms);
    process_.signal(SIGTERM);
    if (!process_.wait(10s)) {
        process_.signal(SIGKILL);
        (void)process_.wait(10s);
    }
    if (running) {
        EXPECT_FALSE(managesWindowOf(session_.display, pid(), false)) << "its window stayed listed";
    }
}

std::optional<bool> assistiveTechnologyEnabled(const DesktopSession& session) {
    std::string output;
    if (probe(session, {"is-enabled"}, &output) != 0) return std::nullopt;
    if (output == "true\n") return true;
    if (output == "false\n") return false;
    return std::nullopt;
}

bool enableAssistiveTechnology(const DesktopSession& session) { return probe(session, {"enable"}) == 0; }

std::unique_ptr<FirstLook> FirstLook::start(const DesktopSession& session) {
    auto process = ChildProcess::start({QUIB_ATSPI_PROBE_PATH, "first-look"}, sessionEnvironment(session),
                                       scratchLog("first-look"), strayVariables);
    if (!process || process->readLine(10s) != "watching") {
        ADD_FAILURE() << "the probe did not start watching the session bus";
        return nullptr;
    }
    return std::make_unique<FirstLook>(Passkey{}, std::move(*process));
}

std::optional<bool> FirstLook::seen() {
    const auto line = probe_.readLine(12s);
    if (line == "true" || line == "false") return line == "true";
    return std::nullopt;
}

}  // namespace quib::testing
