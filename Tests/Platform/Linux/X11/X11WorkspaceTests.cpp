// The apps of the shared test display as the host's workspace sees them, launches and
// activates them; and, on servers of the tests' own, a window manager that ignores activation
// and no window manager at all.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <X11/Xatom.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Workspace.hpp"
#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using RunningApp = Workspace::RunningApp;

constexpr const char* termClass = "QuibBarsTerm";

// An application folder with the terminal app, whose windows carry a class of their own, a
// hidden entry and an app whose program is missing.
class AppFolder {
public:
    explicit AppFolder(const std::string& display) {
        write("quibbars-term.desktop", "Name=Bars Term\nExec=xterm -display " + display + " -class " + termClass +
                                           " -e sleep 60 %U\nStartupWMClass=" + termClass +
                                           "\nCategories=System;TerminalEmulator;\n");
        write("quib-hidden.desktop", "Name=Hidden\nExec=xterm\nHidden=true\n");
        write("quib-missing.desktop", "Name=Missing\nExec=quib-no-such-program --x\n");
        write("quib-other.desktop", "Name=Other\nExec=other\nStartupWMClass=QuibOther\n");
    }

    std::shared_ptr<DesktopEntries> entries() const {
        return std::make_shared<DesktopEntries>(std::vector{scratch.path}, quib::Subprocess::searchPath());
    }

private:
    void write(const std::string& name, const std::string& keys) const {
        std::ofstream(scratch.path / name) << "[Desktop Entry]\nType=Application\n" << keys;
    }

    ScratchFolder scratch{"apps"};
};

class X11WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        apps.emplace(testDisplayName());
        workspace = X11Workspace::open(testDisplayName(), apps->entries());
        ASSERT_TRUE(workspace);
    }

    void TearDown() override {
        for (std::int64_t pid : launched) ::kill(static_cast<pid_t>(pid), SIGTERM);
    }

    std::unique_ptr<ClientWindow> openWindow(std::int64_t pid, const char* className = termClass) {
        auto window = ClientWindow::open(testDisplayName(), {.className = className, .processID = pid});
        EXPECT_TRUE(window);
        return window;
    }

    std::optional<Window> activeWindow() {
        auto control = X11Connection::open(testDisplayName());
        std::optional<Window> active;
        control->use([&](Display* display) { active = X11ClientWindows::activeWindow(display); });
        return active;
    }

    std::optional<AppFolder> apps;
    std::shared_ptr<X11Workspace> workspace;
    std::vector<std::int64_t> launched;
};

TEST_F(X11WorkspaceTest, AnAppIsInstalledByItsEntryUnlessHidden) {
    EXPECT_TRUE(workspace->isInstalled("quibbars-term"));
    EXPECT_TRUE(workspace->isInstalled("QuibBars-Term"));
    EXPECT_FALSE(workspace->isInstalled("quib-hidden"));
    EXPECT_FALSE(workspace->isInstalled("no.such.app"));
    EXPECT_EQ(workspace->runningInstances("no.such.app"), std::vector<RunningApp>{});
    EXPECT_FALSE(workspace->activate({"no.such.app", 1}));
}

TEST_F(X11WorkspaceTest, LaunchStartsTheAppDetachedAndItRunsUnderItsWindowClass) {
    ASSERT_EQ(workspace->runningInstances("quibbars-term"), std::vector<RunningApp>{});
    ASSERT_TRUE(workspace->launch("quibbars-term"));
    std::vector<RunningApp> running;
    ASSERT_TRUE(eventually([&] { return !(running = workspace->runningInstances("quibbars-term")).empty(); }, 10s));
    ASSERT_EQ(running.size(), 1u);
    launched.push_back(running[0].processID);
    EXPECT_EQ(running[0].bundleID, "quibbars-term");
    EXPECT_GT(running[0].processID, 0);
    // The terminal is nobody's child here.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);

    EXPECT_TRUE(workspace->activate(running[0]));
    EXPECT_EQ(workspace->frontmostApp(), running[0]);
    // In front already: nothing changes, and that is success.
    EXPECT_TRUE(workspace->activate(running[0]));
}

TEST_F(X11WorkspaceTest, LaunchFailsWithASentenceForAProgramThatIsMissing) {
    const auto missing = workspace->launch("quib-missing");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message, "Missing can't be started: quib-no-such-program was not found");
    EXPECT_FALSE(workspace->launch("no.such.app"));
}

TEST_F(X11WorkspaceTest, InstancesComeHighestWindowFirstAndActivationBringsOneForward) {
    auto first = openWindow(70001);
    auto second = openWindow(70002);
    auto other = openWindow(70003, "QuibOther");
    auto stranger = openWindow(70004, "QuibStranger");
    ASSERT_TRUE(first && second && other && stranger);

    ASSERT_TRUE(workspace->activate({"quibbars-term", 70001}));
    EXPECT_EQ(activeWindow(), first->window());
    EXPECT_EQ(workspace->frontmostApp(), (RunningApp{"quibbars-term", 70001}));
    // The window manager names the active window before it restacks the frames, so the new
    // order shows a moment after the activation is confirmed.
    const std::vector<RunningApp> firstOnTop{{"quibbars-term", 70001}, {"quibbars-term", 70002}};
    EXPECT_TRUE(eventually([&] { return workspace->runningInstances("quibbars-term") == firstOnTop; }, 5s));

    ASSERT_TRUE(workspace->activate({"quibbars-term", 70002}));
    EXPECT_EQ(activeWindow(), second->window());
    EXPECT_TRUE(eventually(
        [&] {
            return workspace->runningInstances("quibbars-term").front() == RunningApp{"quibbars-term", 70002};
        },
        5s));

    ASSERT_TRUE(workspace->activate({"quib-other", 0}));
    EXPECT_EQ(workspace->frontmostApp(), (RunningApp{"quib-other", 70003}));
    ASSERT_TRUE(workspace->activate({"quibbars-term", 70001}));
    EXPECT_EQ(activeWindow(), first->window());

    const auto listed = workspace->runningApps();
    const auto count = [&](const Workspace::ListedApp& app) { return std::ranges::count(listed, app); };
    EXPECT_EQ(count({"quibbars-term", 70001}), 1);
    EXPECT_EQ(count({"quibbars-term", 70002}), 0) << "an app is listed once";
    EXPECT_EQ(count({"quib-other", 70003}), 1);
    EXPECT_EQ(count({std::nullopt, 70004}), 1);
}

TEST_F(X11WorkspaceTest, IsSafeToAskFromSeveralThreadsWhileWindowsComeAndGo) {
    std::atomic<bool> stop = false;
    std::atomic<int> wrong = 0;
    std::vector<std::thread> askers;
    for (int i = 0; i < 4; ++i) {
        askers.emplace_back([&, i] {
            while (!stop) {
                for (const auto& instance : workspace->runningInstances("quibbars-term")) {
                    if (instance.bundleID != "quibbars-term") ++wrong;
                    if (i == 0) (void)workspace->activate(instance);
                }
                for (const auto& app : workspace->runningApps()) {
                    if (app.bundleID == "quib-other") ++wrong;
                }
                (void)workspace->frontmostApp();
            }
        });
    }
    for (int round = 0; round < 8; ++round) {
        auto window = openWindow(71000 + round);
        ASSERT_TRUE(window);
        std::this_thread::sleep_for(20ms);
    }
    stop = true;
    for (auto& asker : askers) asker.join();
    EXPECT_EQ(wrong, 0);
    auto last = openWindow(71100);
    ASSERT_TRUE(last);
    EXPECT_TRUE(workspace->activate({"quibbars-term", 71100}));
    EXPECT_EQ(activeWindow(), last->window());
}

// Announces a window manager on `server` that never answers: a check window that names itself,
// and the client lists naming `client`.
std::shared_ptr<X11Connection> stubWindowManager(const std::string& server, Window client) {
    auto stub = X11Connection::open(server);
    stub->use([&](Display* display) {
        const Window root = DefaultRootWindow(display);
        const Window check = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
        const auto setWindows = [&](Window on, const char* name, const Window* windows, int count) {
            std::vector<long> values(windows, windows + count);
            XChangeProperty(display, on, XInternAtom(display, name, False), XA_WINDOW, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(values.data()), count);
        };
        setWindows(check, "_NET_SUPPORTING_WM_CHECK", &check, 1);
        setWindows(root, "_NET_SUPPORTING_WM_CHECK", &check, 1);
        setWindows(root, "_NET_CLIENT_LIST", &client, 1);
        setWindows(root, "_NET_CLIENT_LIST_STACKING", &client, 1);
        XSync(display, False);
    });
    return stub;
}

TEST(X11Workspace, AnActivationTheWindowManagerIgnoresFailsAtTheLimit) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    AppFolder apps(server->name());
    auto window = ClientWindow::open(server->name(), {.className = termClass, .processID = 72000});
    ASSERT_TRUE(window);
    auto stub = stubWindowManager(server->name(), window->window());
    auto workspace = X11Workspace::open(server->name(), apps.entries());
    ASSERT_TRUE(workspace);
    const auto instances = workspace->runningInstances("quibbars-term");
    ASSERT_EQ(instances, (std::vector<RunningApp>{{"quibbars-term", 72000}}));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(workspace->activate(instances[0]));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, X11Workspace::activationLimit);
    EXPECT_LT(waited, X11Workspace::activationLimit + 2s) << "it gives up at the limit";
}

TEST(X11Workspace, WithoutAWindowManagerTheWindowIsRaisedAndGivenTheKeyboard) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    AppFolder apps(server->name());
    auto window = ClientWindow::open(server->name(), {.className = termClass, .processID = 73000});
    auto cover = ClientWindow::open(server->name(), {.className = "QuibOther", .processID = 73001});
    ASSERT_TRUE(window && cover);
    auto workspace = X11Workspace::open(server->name(), apps.entries());
    ASSERT_TRUE(workspace);

    EXPECT_EQ(workspace->runningInstances("quibbars-term"), (std::vector<RunningApp>{{"quibbars-term", 73000}}));
    EXPECT_TRUE(workspace->activate({"quibbars-term", 73000}));
    EXPECT_EQ(workspace->frontmostApp(), (RunningApp{"quibbars-term", 73000}));
    window->use([&](Display* display) {
        EXPECT_EQ(X11ClientWindows::stacking(display).back(), window->window()) << "raised above the other";
    });
}

}  // namespace
}  // namespace quib::testing
