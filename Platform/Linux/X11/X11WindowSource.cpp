#include "Platform/Linux/X11/X11WindowSource.hpp"

#include "Platform/Linux/Media/RgbScaler.hpp"
#include "Platform/Linux/X11/X11ClientWindows.hpp"

namespace quib {

X11WindowSource::X11WindowSource(std::shared_ptr<X11Connection> connection, std::string displayName,
                                 std::shared_ptr<DesktopEntries> apps, std::shared_ptr<LogindScreenLock> lock,
                                 X11WindowStream::Options streams)
    : connection_(std::move(connection)),
      displayName_(std::move(displayName)),
      apps_(std::move(apps)),
      lock_(std::move(lock)),
      streams_(std::move(streams)) {}

std::optional<std::vector<WindowSource::Window>> X11WindowSource::shareableWindows() {
    const auto installed = apps_->installed();
    std::vector<Window> windows;
    const bool read = connection_->use([&](Display* display) {
        const auto active = X11ClientWindows::activeWindow(display);
        const auto desktop = X11ClientWindows::currentDesktop(display);
        const auto stack = X11ClientWindows::stacking(display);
        for (auto window = stack.rbegin(); window != stack.rend(); ++window) {
            if (auto described = describe(display, *window, active, desktop, installed)) {
                windows.push_back(std::move(*described));
            }
        }
    });
    if (!read) return std::nullopt;
    return windows;
}

// The frame is read last: a window that answers it was there for every read before.
std::optional<WindowSource::Window> X11WindowSource::describe(Display* display, ::Window window,
                                                              std::optional<::Window> active,
                                                              std::optional<unsigned long> desktop,
                                                              std::span<const DesktopEntry> installed) const {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return std::nullopt;
    Window described;
    described.number = static_cast<std::uint32_t>(window);
    described.title = X11ClientWindows::title(display, window);
    if (const auto app = X11ClientWindows::owner(display, window, installed)) {
        described.owner =
            Owner{app->id, app->localizedName(), X11ClientWindows::processID(display, window).value_or(0)};
    }
    described.layer = X11ClientWindows::isNormalWindow(display, window) ? 0 : otherLayer;
    described.onScreen = attributes.map_state == IsViewable && !X11ClientWindows::isHidden(display, window) &&
                         X11ClientWindows::isOnDesktop(display, window, desktop);
    described.active = active == window;
    const auto frame = X11ClientWindows::frame(display, window);
    if (!frame) return std::nullopt;
    described.frame = *frame;
    return described;
}

std::shared_ptr<X11Connection> X11WindowSource::pictureConnection() {
    MutexLock lock(picturesLock_);
    return pictures_.connection;
}

// A connection that went away takes what was read through it along.
std::shared_ptr<X11Connection> X11WindowSource::keptConnection() {
    if (pictures_.connection && !pictures_.connection->isGone()) return pictures_.connection;
    pictures_.grab.reset();
    pictures_.screen.reset();
    pictures_.connection = X11Connection::open(displayName_);
    return pictures_.connection;
}

Result<RgbPicture> X11WindowSource::windowPicture(std::uint32_t window, int width, int height) {
    MutexLock lock(picturesLock_);
    const auto connection = keptConnection();
    if (!connection) return fail(std::string(X11WindowStream::serverGone));
    auto picture = readWindow(connection, window, width, height);
    if (!picture) pictures_.grab.reset();
    return picture;
}

// The last window's grab names its contents again (its size may have changed); another window,
// or one the grab cannot name any more, is grabbed anew. A window that is unmapped (minimised,
// say) has no contents to name: the grab finds it not shown, and so does the server's BadMatch
// for its pixmap, which the grab's trap takes.
Result<RgbPicture> X11WindowSource::readWindow(const std::shared_ptr<X11Connection>& connection, std::uint32_t window,
                                               int width, int height) {
    if (pictures_.grab && (pictures_.window != window || !pictures_.grab->rename())) pictures_.grab.reset();
    if (!pictures_.grab) {
        // A window that was covered is painted again once redirected: its picture waits for that.
        auto grab = X11WindowGrab::open(connection, window,
                                        {.sharedMemory = streams_.frames.sharedMemory, .settle = pictureSettle});
        if (connection->isGone()) return fail(std::string(X11WindowStream::serverGone));
        if (!grab) {
            if (grab.error().message == X11WindowGrab::notShown) return fail(std::string(windowHidden));
            return grab.error();
        }
        pictures_.grab = std::move(grab).value();
        pictures_.window = window;
    }
    auto& grab = *pictures_.grab;
    const auto image = grab.grab({0, 0, grab.width(), grab.height()});
    if (connection->isGone()) return fail(std::string(X11WindowStream::serverGone));
    if (!image) return image.error();
    return RgbScaler::scale(image.value().pixels, image.value().width, image.value().height, image.value().stride,
                            width, height);
}

Result<RgbPicture> X11WindowSource::displayPicture(const Rect& region, int width, int height) {
    MutexLock lock(picturesLock_);
    const auto connection = keptConnection();
    if (!connection) return fail(std::string(X11WindowStream::serverGone));
    return X11ScreenGrab::picture(*connection, region, width, height, streams_.frames.sharedMemory, &pictures_.screen);
}

bool X11WindowSource::screenLocked() { return lock_ && lock_->isLocked(); }

Result<std::shared_ptr<WindowStream>> X11WindowSource::openStream(std::uint32_t window,
                                                                  const WindowStream::Configuration& configuration,
                                                                  std::shared_ptr<Executor> executor,
                                                                  WindowStream::Handlers handlers) {
    auto stream =
        X11WindowStream::open(displayName_, window, configuration, std::move(executor), std::move(handlers), streams_);
    if (!stream) return stream.error();
    return std::shared_ptr<WindowStream>(std::move(stream).value());
}

}  // namespace quib
