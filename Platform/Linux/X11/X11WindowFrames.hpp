#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <X11/Xlib.h>

#include "Platform/Linux/Media/PictureScaler.hpp"
#include "Platform/Linux/X11/CursorOverlay.hpp"
#include "Platform/Linux/X11/RowBands.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11WindowGrab.hpp"
#include "Platform/PixelBufferPool.hpp"
#include "Platform/WindowStream.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// The pictures of one window, taken tick by tick by whoever paces them (X11WindowStream), who
// asks between ticks whether there is news for the next.
//
// Each tick first handles what the server said about the window since the last one: its damage
// (DAMAGE), a change of size (the pixmap is named again, the segment made anew), its unmapping
// (from then on the tick takes and says nothing until it is mapped again) and its destruction
// (every tick from then on says the window has gone). Then,
// when there is something new to show (the window's contents changed, the cursor moved or
// changed over the captured part, the configuration changed, or it is the first picture), or a
// picture was asked for: takes a picture from the pool, reads the captured part of the window,
// draws the cursor in when the configuration shows it, and scales the pixels into the picture.
// Where the last read was of the same part, only the rows damaged since and those the cursor was
// drawn on are read again.
// Without anything new, the tick says "idle" without a picture. With every picture of the pool
// still held, the tick takes nothing and keeps what is new for the next one.
//
// The connection is the frames' own, used by one thread (the one that ticks); only
// `requestPicture` may come from any thread.
class X11WindowFrames {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Options {
        bool sharedMemory = true;  // false: pixels are read through the connection (XGetImage)
        int scaleThreads = 0;      // the colour conversion's threads; 0: one a processor, up to 8
    };

    // What one tick gave.
    struct Tick {
        std::optional<WindowStream::Sample> sample;  // none: nothing to say this tick
        bool connectionLost = false;                 // the server has gone; no more ticks
        bool windowGone = false;                     // the window was destroyed; no more pictures
    };

    // Starts watching `window` on `connection`, with pictures as `configuration` says. Fails, in a
    // sentence, when the window is gone or not shown, or cannot be captured.
    static Result<std::unique_ptr<X11WindowFrames>> open(std::shared_ptr<X11Connection> connection, Window window,
                                                         const WindowStream::Configuration& configuration,
                                                         Options options);

    X11WindowFrames(Passkey, std::shared_ptr<X11Connection> connection, Window window,
                    const WindowStream::Configuration& configuration, Options options);
    // Stops watching: the damage and the grab are freed, the window un-redirected.
    ~X11WindowFrames();
    X11WindowFrames(const X11WindowFrames&) = delete;
    X11WindowFrames& operator=(const X11WindowFrames&) = delete;

    // From the next tick on; always taken.
    void configure(const WindowStream::Configuration& configuration);
    // The next tick that can take a picture takes one, whether or not anything changed. Any thread.
    void requestPicture() { wantsPicture_.store(true); }

    // Handles the events the server has sent so far without taking a picture (for a wait between
    // ticks, so that they do not pile up); false once the server has gone.
    bool handleEvents();
    // Whether the next tick has something to say beyond "idle": the window's contents changed,
    // its pixmap is to be named again, a picture was asked for or the configuration changed, while
    // it is shown; or it was destroyed. Moves and changes of the cursor are not news: ticks find
    // them when they come.
    bool hasNews() const;
    // How many reports of damage to the window's contents have come so far: one each time the
    // damaged part grows.
    std::uint64_t damageReports() const { return damageReports_; }
    // One tick, at `now` on the uptime clock.
    Tick tick(MonoTime now);

    const std::shared_ptr<X11Connection>& connection() const { return connection_; }

private:
    struct Pointer {
        int x = 0;
        int y = 0;
        bool operator==(const Pointer&) const = default;
    };

    Result<void> watch();
    void handle(const XEvent& event);
    X11WindowGrab::Region region() const;
    // Where the pointer is on the window, with the cursor's image brought up to date.
    std::optional<Pointer> readPointer();
    bool cursorTouches(const std::optional<Pointer>& pointer, const X11WindowGrab::Region& region) const;
    bool cursorChanged(const std::optional<Pointer>& pointer, const X11WindowGrab::Region& region) const;
    std::shared_ptr<PixelBuffer> picture(const X11WindowGrab::Region& region, const std::optional<Pointer>& pointer);
    std::optional<std::vector<RowBands::Span>> takeDamage(const X11WindowGrab::Region& region);

    const std::shared_ptr<X11Connection> connection_;
    const Window window_;
    const Options options_;
    WindowStream::Configuration configuration_;
    std::unique_ptr<PixelBufferPool> pool_;
    std::unique_ptr<X11WindowGrab> grab_;
    PictureScaler scaler_;
    std::atomic<bool> wantsPicture_{false};

    unsigned long damage_ = 0;   // the DAMAGE object watching the window
    unsigned long damaged_ = 0;  // an XFIXES region that takes the damage read each time; 0 without XFIXES
    int damageEvent_ = 0;        // the event number of its reports
    std::uint64_t damageReports_ = 0;
    int cursorEvent_ = 0;  // of XFIXES's cursor changes; 0 without XFIXES
    bool changed_ = true;  // something new to show since the last picture (the first one, too)
    bool first_ = true;    // no picture taken yet
    bool shown_ = true;    // mapped; false from an unmap until the next map
    bool destroyed_ = false;
    bool renaming_ = false;  // the pixmap is to be named again (resized, or mapped again)

    std::optional<CursorOverlay> cursor_;
    bool cursorStale_ = true;                        // the cursor changed since its image was read
    unsigned long cursorSerial_ = 0;                 // of the image read
    unsigned long drawnSerial_ = 0;                  // of the cursor in the last picture
    std::optional<Pointer> drawnPointer_;            // where the pointer was for the last picture
    std::optional<RowBands::Span> drawnCursorRows_;  // the window's rows the cursor was drawn on then
};

}  // namespace quib
