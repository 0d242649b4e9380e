#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include <X11/Xlib.h>

#include "Platform/Linux/X11/RowBands.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// Reading one window's pixels into memory, as often as wanted. The window is redirected off
// screen (Composite, automatically, so it still shows as before) and its contents named as a
// pixmap, which holds the window's own pixels even where other windows cover it, without the
// window manager's frame. Only the region asked for is read: from a shared-memory segment the
// grab keeps (MIT-SHM), or through the X connection when the server has no MIT-SHM or cannot
// attach the segment (a display on another machine).
//
// Windows of depth 24 (TrueColor, red 0xff0000, green 0xff00, blue 0xff) and of depth 32 (the
// same with alpha, which is ignored) are read; others are refused. Pixels arrive as B, G, R and
// one unused byte each.
//
// A pixmap already named outlives its window: after the window is unmapped or destroyed, grabs
// still read its last picture. After a resize, or once an unmapped window is mapped again,
// `rename` names the new contents.
//
// Each call takes the connection's lock itself: never call one inside a use of the connection.
// One thread at a time. Destroying the grab frees the pixmap and the segment and un-redirects
// the window.
class X11WindowGrab {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Options {
        bool sharedMemory = true;  // false: always read through the connection (XGetImage)
        // Once redirected, a window that was covered holds nothing where it was covered until
        // its app has painted there again, which the server asks it to. With a limit, `open`
        // waits for that, at most this long: until the window's damage has settled (a quiet
        // spell after the last), or the limit passes. Zero: no wait.
        std::chrono::milliseconds settle{0};
    };

    // A part of the window, in pixels from the top left corner inside its border.
    struct Region {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Region&) const = default;
    };

    // Pixels of one grab: `height` rows of `width` pixels, B, G, R, unused, rows `stride` bytes
    // apart. They belong to the grab and stay valid until its next grab, rename or destruction;
    // the holder may draw on them meanwhile.
    struct Image {
        std::uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        int stride = 0;
    };

    // Why a window that is unmapped, or was never shown, cannot be grabbed.
    static constexpr std::string_view notShown = "the window is not shown";

    // Redirects `window` and names its pixmap. Fails, in a sentence, when the window is gone or
    // not shown, its visual is not one of the two above ("unsupported window visual (depth N)"),
    // or the server lacks Composite.
    static Result<std::unique_ptr<X11WindowGrab>> open(std::shared_ptr<X11Connection> connection, Window window,
                                                       Options options);

    X11WindowGrab(Passkey, std::shared_ptr<X11Connection> connection, Window window, Options options);
    ~X11WindowGrab();
    X11WindowGrab(const X11WindowGrab&) = delete;
    X11WindowGrab& operator=(const X11WindowGrab&) = delete;

    // The window's size when its pixmap was last named, inside its border.
    int width() const { return width_; }
    int height() const { return height_; }
    // Whether grabs go through a shared-memory segment.
    bool usesSharedMemory() const;

    // Names the window's pixmap again, for its present size and contents; a failure (the window
    // is not shown, or gone) keeps the old pixmap.
    Result<void> rename();
    // Reads `region`, clipped to the window. Fails when nothing of it lies inside the window or
    // the server cannot give the pixels.
    Result<Image> grab(Region region);
    // Whether a regrab of `region` can read just some of its rows: the last grab read that same
    // region, through the segment, from the pixmap named now.
    bool keeps(Region region) const;
    // As `grab`, but where `keeps(region)`, reads again only `rows` (of the window) and leaves the
    // last grab's other pixels as they are: what the holder drew on them since must lie in `rows`.
    Result<Image> regrab(Region region, std::span<const RowBands::Span> rows);

private:
    struct Segment;
    struct ImageDelete {
        void operator()(XImage* image) const;
    };

    // The window's damage up to `limit`, until it has been quiet for a while after the last.
    void settle(unsigned long damage, int damageEvent, std::chrono::milliseconds limit);

    // With the connection held.
    Result<void> name(Display* display);
    void makeSegment(Display* display);
    void dropSegment(Display* display);
    std::optional<Region> clipped(Region region) const;
    Result<Image> grabShared(Display* display, const Region& region);
    Result<Image> grabRows(Display* display, const Region& region, std::span<const RowBands::Span> rows);
    Result<Image> grabThroughConnection(Display* display, const Region& region);

    const std::shared_ptr<X11Connection> connection_;
    const Window window_;
    const Options options_;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    int border_ = 0;
    int width_ = 0;
    int height_ = 0;
    Pixmap pixmap_ = None;
    std::unique_ptr<Segment> segment_;
    std::unique_ptr<XImage, ImageDelete> image_;  // the last grab's, or the segment's header
    std::optional<Region> kept_;                  // what the segment holds of the pixmap named now
};

}  // namespace quib
