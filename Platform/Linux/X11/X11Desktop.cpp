#include "Platform/Linux/X11/X11Desktop.hpp"

#include <X11/extensions/XTest.h>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11DisplayList.hpp"
#include "Platform/Linux/X11/X11EventPoster.hpp"
#include "Platform/Linux/X11/X11Pasteboard.hpp"
#include "Platform/Linux/X11/X11Permissions.hpp"
#include "Platform/Linux/X11/X11WindowRoster.hpp"
#include "Platform/Linux/X11/X11WindowSource.hpp"
#include "Platform/Linux/X11/X11Workspace.hpp"
#include "Runtime/Logger.hpp"

namespace quib::X11Desktop {

std::optional<Opened> open(const std::string& displayName, std::shared_ptr<DesktopEntries> apps,
                           std::shared_ptr<Clock> clock) {
    auto posting = X11Connection::open(displayName);
    if (!posting) {
        quibLog().info("x11: no X display to open");
        return std::nullopt;
    }
    bool hasXTest = false;
    std::string name;
    posting->use([&](Display* display) {
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        hasXTest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
        name = DisplayString(display);
    });
    if (!hasXTest) {
        quibLog().error("x11: the X display ", pub(name), " lacks the XTEST extension, so input cannot be posted");
        return std::nullopt;
    }
    auto events = std::make_shared<X11EventPoster>(posting, apps, std::move(clock));
    // When the watcher finds the server gone, nothing is posted any more either.
    auto displays = std::make_shared<X11DisplayList>(posting, [posting] { posting->abandon(); });
    auto permissions = std::make_shared<X11Permissions>(posting);
    quibLog().info("x11: posting input on display ", pub(name));
    Opened opened;
    opened.services.events = events;
    opened.services.pointer = events;
    opened.services.displays = displays;
    opened.services.accessibility = permissions;
    opened.permissions = permissions;
    opened.services.pasteboard = X11Pasteboard::open(name);
    if (!opened.services.pasteboard) quibLog().error("x11: cannot own the clipboard of ", pub(name));
    opened.services.selection = X11Pasteboard::openPrimary(name);
    if (!apps) apps = std::make_shared<DesktopEntries>();
    if (auto windows = X11Connection::open(name)) {
        opened.services.roster = std::make_shared<X11WindowRoster>(std::move(windows), permissions, apps);
    }
    if (auto capture = X11Connection::open(name)) {
        opened.services.windowSource =
            std::make_shared<X11WindowSource>(std::move(capture), name, apps, std::make_shared<LogindScreenLock>());
    }
    opened.services.workspace = X11Workspace::open(name, std::move(apps));
    if (!opened.services.workspace) quibLog().error("x11: cannot follow the apps of ", pub(name));
    return opened;
}

}  // namespace quib::X11Desktop
