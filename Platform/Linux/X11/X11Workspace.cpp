#include "Platform/Linux/X11/X11Workspace.hpp"

#include <algorithm>
#include <set>

#include "Platform/Freedesktop/ExecLine.hpp"
#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Subprocess.hpp"

namespace quib {
namespace {

bool contains(const std::vector<Window>& windows, std::optional<Window> window) {
    return window && std::ranges::find(windows, *window) != windows.end();
}

}  // namespace

void X11Workspace::ActiveChanges::bump() {
    {
        MutexLock lock(mutex);
        ++count;
    }
    changed.notify_all();
}

std::shared_ptr<X11Workspace> X11Workspace::open(const std::string& displayName, std::shared_ptr<DesktopEntries> apps) {
    auto connection = X11Connection::open(displayName);
    if (!connection) return nullptr;
    return std::make_shared<X11Workspace>(Passkey{}, std::move(connection), std::move(apps));
}

X11Workspace::X11Workspace(Passkey, std::shared_ptr<X11Connection> connection, std::shared_ptr<DesktopEntries> apps)
    : connection_(std::move(connection)), apps_(apps ? std::move(apps) : std::make_shared<DesktopEntries>()) {
    std::string name;
    connection_->use([&](Display* display) { name = DisplayString(display); });
    auto activeAtom = std::make_shared<Atom>(None);
    watcher_ = X11EventWatcher::start({
        .displayName = name,
        .label = "com.brenmoor.quib.host.workspace",
        .setup =
            [activeAtom](Display* display) {
                *activeAtom = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
                XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
                return true;
            },
        .handle =
            [activeAtom, changes = changes_](Display*, XEvent& event) {
                if (event.type == PropertyNotify && event.xproperty.atom == *activeAtom) changes->bump();
            },
        // Activations then end at their limit, as under a window manager that does not answer.
        .gone = {},
    });
    if (!watcher_) quibLog().error("x11: cannot watch the active window; activations will not be confirmed");
}

X11Workspace::~X11Workspace() = default;

bool X11Workspace::isInstalled(const std::string& bundleID) { return apps_->application(bundleID).has_value(); }

std::vector<Workspace::RunningApp> X11Workspace::runningInstances(const std::string& bundleID) {
    const auto installed = this->installed();
    const auto app = DesktopEntries::find(installed, bundleID);
    if (!app) return {};
    std::vector<RunningApp> instances;
    connection_->use([&](Display* display) {
        for (Window window : X11ClientWindows::windowsOf(display, *app, installed)) {
            const std::int64_t pid = X11ClientWindows::processID(display, window).value_or(0);
            const RunningApp instance{app->id, pid};
            if (std::ranges::find(instances, instance) == instances.end()) instances.push_back(instance);
        }
    });
    return instances;
}

bool X11Workspace::activate(const RunningApp& app) {
    const auto entry = apps_->application(app.bundleID);
    if (!entry) return false;
    MutexLock one(activating_);
    const Request request = requestActivation(*entry, app.processID);
    if (request.done) return request.succeeded;
    return awaitActive(request.windows, request.changesBefore);
}

// The instance's highest window is asked for, unless one of its windows is active already (an
// app in front causes no change to hear). Changes heard from here on count.
X11Workspace::Request X11Workspace::requestActivation(const DesktopEntry& app, std::int64_t processID) {
    const auto installed = this->installed();
    Request request;
    const bool used = connection_->use([&](Display* display) {
        for (Window window : X11ClientWindows::windowsOf(display, app, installed)) {
            if (processID == 0 || X11ClientWindows::processID(display, window).value_or(0) == processID) {
                request.windows.push_back(window);
            }
        }
        request.done = true;
        if (request.windows.empty()) return;
        const Window target = request.windows.front();
        if (!X11ClientWindows::hasWindowManager(display)) {
            request.succeeded = X11ClientWindows::focusDirectly(display, target);
            return;
        }
        if (contains(request.windows, X11ClientWindows::activeWindow(display))) {
            request.succeeded = true;
            return;
        }
        {
            MutexLock lock(changes_->mutex);
            request.changesBefore = changes_->count;
        }
        request.done = false;
        X11ClientWindows::requestActivation(display, target);
    });
    if (!used) return Request{.done = true, .succeeded = false, .windows = {}, .changesBefore = 0};
    return request;
}

// Looks again at each change of the active window until one names a window of the app, or the
// limit passes.
bool X11Workspace::awaitActive(const std::vector<Window>& windows, std::uint64_t seen) {
    const auto deadline = std::chrono::steady_clock::now() + activationLimit;
    for (;;) {
        {
            UniqueLock lock(changes_->mutex);
            // Looked at once more at the limit, should no watcher be there to tell.
            if (!changes_->changed.wait_until(lock.native(), deadline,
                                              [&]() REQUIRES(changes_->mutex) { return changes_->count != seen; }))
                break;
            seen = changes_->count;
        }
        if (isActive(windows)) return true;
    }
    return isActive(windows);
}

bool X11Workspace::isActive(const std::vector<Window>& windows) {
    bool active = false;
    connection_->use([&](Display* display) { active = contains(windows, X11ClientWindows::activeWindow(display)); });
    return active;
}

Result<void> X11Workspace::launch(const std::string& bundleID) {
    const auto app = apps_->application(bundleID);
    if (!app) return fail(bundleID + " isn't installed");
    const auto words = ExecLine::arguments(*app);
    if (!words) return fail(words.error().message);
    const std::string& program = words->front();
    const auto path = Subprocess::onPath(program, Subprocess::searchPath());
    const std::string name = app->localizedName();
    if (!path) return fail(name + " can't be started: " + program + " was not found");
    if (auto failure = Subprocess::startDetached(*path, *words)) return fail(name + " can't be started: " + *failure);
    quibLog().info("launched ", pub(app->id));
    return {};
}

std::optional<Workspace::RunningApp> X11Workspace::frontmostApp() {
    const auto installed = this->installed();
    std::optional<RunningApp> front;
    connection_->use([&](Display* display) {
        const auto window = X11Properties::focusedWindow(display);
        if (!window) return;
        const auto owner = X11ClientWindows::owner(display, *window, installed);
        if (owner) front = RunningApp{owner->id, X11ClientWindows::processID(display, *window).value_or(0)};
    });
    return front;
}

// Windows of no installed app are told apart by their process, else by their class.
std::vector<Workspace::ListedApp> X11Workspace::runningApps() {
    const auto installed = this->installed();
    std::vector<ListedApp> apps;
    std::set<std::string> seen;
    connection_->use([&](Display* display) {
        for (Window window : X11ClientWindows::clients(display)) {
            const auto owner = X11ClientWindows::owner(display, window, installed);
            const std::int64_t pid = X11ClientWindows::processID(display, window).value_or(0);
            std::string key = owner ? "app:" + owner->id : "pid:" + std::to_string(pid);
            if (!owner && pid == 0) {
                const auto windowClass = X11Properties::windowClass(display, window);
                key = "class:" + (windowClass ? windowClass->className : std::string());
            }
            if (!seen.insert(key).second) continue;
            apps.push_back({owner ? std::optional(owner->id) : std::nullopt, pid});
        }
    });
    return apps;
}

}  // namespace quib
