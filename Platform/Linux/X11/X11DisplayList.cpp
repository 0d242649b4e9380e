#include "Platform/Linux/X11/X11DisplayList.hpp"

#include <X11/extensions/Xrandr.h>

#include <vector>

#include "Runtime/Logger.hpp"

namespace quib {

X11DisplayList::X11DisplayList(std::shared_ptr<X11Connection> queries, std::function<void()> serverGone)
    : queries_(std::move(queries)) {
    std::string name;
    queries_->use([&](Display* display) { name = DisplayString(display); });
    auto eventBase = std::make_shared<int>(-1);
    watcher_ = X11EventWatcher::start({
        .displayName = name,
        .label = "com.brenmoor.quib.host.displays",
        .setup =
            [eventBase](Display* display) {
                int errorBase = 0;
                if (!XRRQueryExtension(display, eventBase.get(), &errorBase)) return false;
                XRRSelectInput(display, DefaultRootWindow(display),
                               RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
                return true;
            },
        .handle =
            [eventBase, subscribers = subscribers_](Display*, XEvent& event) {
                if (event.type == *eventBase + RRScreenChangeNotify) XRRUpdateConfiguration(&event);
                if (event.type == *eventBase + RRScreenChangeNotify || event.type == *eventBase + RRNotify) {
                    subscribers->notify();
                }
            },
        .gone = std::move(serverGone),
    });
    if (!watcher_) quibLog().error("x11: cannot watch the displays for changes");
}

X11DisplayList::~X11DisplayList() = default;

bool X11DisplayList::isWatching() const { return watcher_ && !watcher_->isGone(); }

std::optional<std::vector<Rect>> X11DisplayList::activeDisplayBounds() {
    std::optional<std::vector<Rect>> bounds;
    queries_->use([&](Display* display) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
        std::vector<Rect> rects;
        for (int i = 0; monitors && i < count; ++i) {
            rects.push_back({static_cast<double>(monitors[i].x), static_cast<double>(monitors[i].y),
                             static_cast<double>(monitors[i].width), static_cast<double>(monitors[i].height)});
        }
        if (monitors) XRRFreeMonitors(monitors);
        if (rects.empty()) {
            const int screen = DefaultScreen(display);
            rects.push_back({0, 0, static_cast<double>(DisplayWidth(display, screen)),
                             static_cast<double>(DisplayHeight(display, screen))});
        }
        bounds = std::move(rects);
    });
    if (queries_->isGone()) return std::nullopt;
    return bounds;
}

Subscription X11DisplayList::onChange(std::function<void()> changed) {
    MutexLock lock(subscribers_->mutex);
    const std::uint64_t id = subscribers_->nextID++;
    subscribers_->handlers[id] = std::make_shared<std::function<void()>>(std::move(changed));
    return Subscription([weak = std::weak_ptr<Subscribers>(subscribers_), id] {
        if (auto subscribers = weak.lock()) {
            MutexLock lock(subscribers->mutex);
            subscribers->handlers.erase(id);
        }
    });
}

// Outside the lock: a handler may subscribe or ask for the displays again.
void X11DisplayList::Subscribers::notify() {
    std::vector<std::shared_ptr<std::function<void()>>> called;
    {
        MutexLock lock(mutex);
        for (const auto& [id, handler] : handlers) called.push_back(handler);
    }
    for (const auto& handler : called) (*handler)();
}

}  // namespace quib
