#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11EventWatcher.hpp"
#include "Platform/Workspace.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The applications of an X desktop. Installed apps are the desktop entries; an app runs while
// the window manager lists a window whose class its entry claims, and each process behind such
// windows is one instance, the one owning the highest window first. Activating asks the window
// manager for the instance's highest window and succeeds only once the window manager names
// one of the instance's windows active; without a window manager the window is raised and given
// the keyboard directly. Launching starts the entry's command line detached.
//
// Safe on any thread: the workspace's own connection is used under its lock, and one activation
// waits at a time. A watcher on a second connection hears the active window change.
class X11Workspace final : public Workspace {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // How long the window manager has to make an activated app's window active.
    static constexpr std::chrono::milliseconds activationLimit{1000};

    // The workspace of `displayName` (empty: $DISPLAY) with the apps of `apps`; none when the
    // display cannot be opened.
    static std::shared_ptr<X11Workspace> open(const std::string& displayName, std::shared_ptr<DesktopEntries> apps);

    X11Workspace(Passkey, std::shared_ptr<X11Connection> connection, std::shared_ptr<DesktopEntries> apps);
    ~X11Workspace() override;

    bool isInstalled(const std::string& bundleID) override;
    std::vector<RunningApp> runningInstances(const std::string& bundleID) override;
    bool activate(const RunningApp& app) override;
    Result<void> launch(const std::string& bundleID) override;
    // The app of the active window (of the keyboard focus without a window manager); none when
    // no window is active or no installed app claims it.
    std::optional<RunningApp> frontmostApp() override;
    std::vector<ListedApp> runningApps() override;

private:
    // Counts the changes of the active window, as the watcher hears them.
    struct ActiveChanges {
        Mutex mutex;
        std::condition_variable changed;
        std::uint64_t count GUARDED_BY(mutex) = 0;
        void bump();
    };
    // What an activation found under the connection's lock.
    struct Request {
        bool done = false;       // the app is in front already, or the direct fallback answered
        bool succeeded = false;  // when done
        std::vector<Window> windows;
        std::uint64_t changesBefore = 0;
    };

    Request requestActivation(const DesktopEntry& app, std::int64_t processID);
    bool awaitActive(const std::vector<Window>& windows, std::uint64_t seen);
    bool isActive(const std::vector<Window>& windows);
    std::vector<DesktopEntry> installed() const { return apps_->installed(); }

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<DesktopEntries> apps_;
    std::shared_ptr<ActiveChanges> changes_ = std::make_shared<ActiveChanges>();
    std::unique_ptr<X11EventWatcher> watcher_;
    // One activation at a time, so that the active-window changes one waits for are its own. It
    // orders requests to the window manager and guards no member.
    Mutex activating_;
};

}  // namespace quib
