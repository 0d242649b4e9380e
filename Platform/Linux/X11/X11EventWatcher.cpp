#include "Platform/Linux/X11/X11EventWatcher.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quib {

std::unique_ptr<X11EventWatcher> X11EventWatcher::start(Config config) {
    auto connection = X11Connection::open(config.displayName);
    if (!connection) return nullptr;
    bool ready = false;
    connection->use([&](Display* display) {
        ready = config.setup(display);
        XFlush(display);
    });
    if (!ready || connection->isGone()) return nullptr;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    return std::make_unique<X11EventWatcher>(Passkey{}, std::move(config), std::move(connection), wake[0], wake[1]);
}

X11EventWatcher::X11EventWatcher(Passkey, Config config, std::shared_ptr<X11Connection> connection, int wakeRead,
                                 int wakeWrite)
    : config_(std::move(config)),
      connection_(std::move(connection)),
      wakeRead_(wakeRead),
      wakeWrite_(wakeWrite),
      thread_(config_.label, [this] { run(); }) {}

X11EventWatcher::~X11EventWatcher() {
    (void)wakeWrite_.writeAll("x");
    thread_.join();
}

// Sleeps until the server sends something or the owner wakes it to stop. A server that went
// away shows as a readable connection whose read fails inside Xlib.
void X11EventWatcher::run() {
    Display* display = connection_->unlockedDisplay();
    const int xfd = ConnectionNumber(display);
    for (;;) {
        if (!dispatchPending(display)) {
            if (config_.gone) config_.gone();
            return;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
    }
}

bool X11EventWatcher::dispatchPending(Display* display) {
    for (;;) {
        const int pending = XPending(display);
        if (connection_->isGone()) return false;
        if (pending <= 0) return true;
        XEvent event;
        XNextEvent(display, &event);
        if (connection_->isGone()) return false;
        config_.handle(display, event);
    }
}

}  // namespace quib
