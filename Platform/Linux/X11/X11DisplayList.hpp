#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "Platform/DisplayList.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11EventWatcher.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The displays of an X screen: its active RandR monitors, in root-window coordinates (the whole
// screen as one display where the server has no monitors to tell). An event watcher on a
// connection of its own hears the screen's changes and passes them on.
class X11DisplayList final : public DisplayList {
public:
    // Asks for the displays on `queries`, shared with its other users under its lock, and
    // watches the same display. `serverGone` is called once, from the watcher's thread, when the
    // watcher finds the server gone.
    X11DisplayList(std::shared_ptr<X11Connection> queries, std::function<void()> serverGone);
    ~X11DisplayList() override;

    std::optional<std::vector<Rect>> activeDisplayBounds() override;
    // Changes are reported on the watcher's thread.
    Subscription onChange(std::function<void()> changed) override;

    // The watcher runs (false once the server went away, or when it could not start).
    bool isWatching() const;

private:
    // Shared with the watcher's thread, which must never hold the list itself: the list's end
    // stops that thread.
    struct Subscribers {
        Mutex mutex;
        std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> handlers GUARDED_BY(mutex);
        std::uint64_t nextID GUARDED_BY(mutex) = 0;
        void notify();
    };

    std::shared_ptr<X11Connection> queries_;
    std::shared_ptr<Subscribers> subscribers_ = std::make_shared<Subscribers>();
    std::unique_ptr<X11EventWatcher> watcher_;
};

}  // namespace quib
