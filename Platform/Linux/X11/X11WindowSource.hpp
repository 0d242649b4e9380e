#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <X11/Xlib.h>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/LogindScreenLock.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11ScreenGrab.hpp"
#include "Platform/Linux/X11/X11WindowGrab.hpp"
#include "Platform/Linux/X11/X11WindowStream.hpp"
#include "Platform/WindowSource.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The windows of an X display that the host may capture: the window manager's clients, front to
// back, numbered by their window IDs, with the titles, frames and owning apps the workspace reads
// too. A window is on the ordinary layer (0) when it is an app's window or a dialog, and on
// another (1) when it is a dock, panel, menu or the like; it is on screen when it is viewable,
// not minimised and on the desktop the window manager shows. A window that goes away while the
// list is read is left out of it. Points are pixels: the backing scale is 1.
//
// The screen is locked when logind says the host's session is. Streams run on a connection of
// their own each (X11WindowStream).
//
// Streams have connections of their own; the listing uses one of its own, under its lock, from
// any thread. Pictures (stills and previews) are taken one at a time on one more connection,
// kept from one picture to the next with what the last ones read through: the last window's
// grab (its redirection and shared-memory segment, so a window asked for again is read at once)
// and the screen's segment. It is opened again once the server has gone.
class X11WindowSource final : public WindowSource {
public:
    // Owners are told by `apps`; `lock` says whether the screen is locked (none: never).
    // `displayName` is where streams connect.
    X11WindowSource(std::shared_ptr<X11Connection> connection, std::string displayName,
                    std::shared_ptr<DesktopEntries> apps, std::shared_ptr<LogindScreenLock> lock,
                    X11WindowStream::Options streams = {});

    std::optional<std::vector<Window>> shareableWindows() override;
    bool screenLocked() override;
    std::optional<double> backingScaleFactor() override { return 1.0; }
    // A client window is captured without the window manager's frame, whose corners are the
    // only rounded ones: the pictures have square corners.
    std::optional<double> windowCornerRadius() override { return std::nullopt; }
    // A window's picture is read through X11WindowGrab (its composite pixmap), the screen's
    // through X11ScreenGrab; both are scaled by RgbScaler.
    Result<RgbPicture> windowPicture(std::uint32_t window, int width, int height) override;
    Result<RgbPicture> displayPicture(const Rect& region, int width, int height) override;
    // The connection pictures are taken on now; none before the first.
    std::shared_ptr<X11Connection> pictureConnection();
    Result<std::shared_ptr<WindowStream>> openStream(std::uint32_t window,
                                                     const WindowStream::Configuration& configuration,
                                                     std::shared_ptr<Executor> executor,
                                                     WindowStream::Handlers handlers) override;

    // How long a picture of a window waits, at most, for its app to paint what was covered.
    static constexpr std::chrono::milliseconds pictureSettle{50};
    // The layer of windows that are not ordinary app windows or dialogs.
    static constexpr std::int32_t otherLayer = 1;

private:
    // One client window as listed; none when it went away meanwhile.
    std::optional<Window> describe(Display* display, ::Window window, std::optional<::Window> active,
                                   std::optional<unsigned long> desktop, std::span<const DesktopEntry> installed) const;

    // Under picturesLock_: the kept connection, opened when there is none or it has gone.
    std::shared_ptr<X11Connection> keptConnection() REQUIRES(picturesLock_);
    Result<RgbPicture> readWindow(const std::shared_ptr<X11Connection>& connection, std::uint32_t window, int width,
                                  int height) REQUIRES(picturesLock_);

    struct Pictures {
        std::shared_ptr<X11Connection> connection;
        std::uint32_t window = 0;             // the grab's
        std::unique_ptr<X11WindowGrab> grab;  // holds the connection itself
        X11ScreenGrab::KeptSegment screen;
    };

    std::shared_ptr<X11Connection> connection_;
    std::string displayName_;
    std::shared_ptr<DesktopEntries> apps_;
    std::shared_ptr<LogindScreenLock> lock_;
    X11WindowStream::Options streams_;
    Mutex picturesLock_;
    Pictures pictures_ GUARDED_BY(picturesLock_);
};

}  // namespace quib
