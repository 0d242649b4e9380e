#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/RgbPicture.hpp"
#include "Platform/WindowStream.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// The windows the host may capture, and streams of them. A window is named by its number (on X11
// its window ID). The frontmost app and the pointer are the Workspace's and PointerLocation's.
//
// Every operation is safe on any thread. Reading the windows, taking a picture or opening a
// stream may take a while; the other two are quick.
class WindowSource {
public:
    // The app a window belongs to.
    struct Owner {
        std::string bundleID;
        std::string name;  // as the user sees it
        std::int64_t processID = 0;
        bool operator==(const Owner&) const = default;
    };

    struct Window {
        std::uint32_t number = 0;
        std::string title;           // empty when it has none
        std::optional<Owner> owner;  // none when no app owns it
        std::int32_t layer = 0;      // 0 is the layer of ordinary app windows
        Rect frame;                  // in points, origin at the top left of the main display
        bool onScreen = false;       // false for a minimised or hidden window
        bool active = false;         // the desktop's active window
        bool operator==(const Window&) const = default;
    };

    static constexpr std::string_view windowHidden = "the window isn't visible";

    virtual ~WindowSource() = default;

    // Every window that can be captured, on screen or not, front to back (never the desktop's
    // background); none when they cannot be read, as without the right to capture.
    virtual std::optional<std::vector<Window>> shareableWindows() = 0;
    // The screen is locked and only the desktop's lock screen shows.
    virtual bool screenLocked() = 0;
    // Pixels per point of the main display; none when there is no main display.
    virtual std::optional<double> backingScaleFactor() = 0;
    // The radius, in points, of the rounded corners the desktop gives its windows as they are
    // captured; none when their corners are square.
    virtual std::optional<double> windowCornerRadius() = 0;
    // One picture of the window's own contents, parts covered by other windows included, scaled
    // to `width` × `height` pixels, without the cursor. Fails in a sentence: windowHidden for a
    // window that is minimised or not shown.
    virtual Result<RgbPicture> windowPicture(std::uint32_t window, int width, int height) = 0;
    // One picture of `region` of the screen (in points) as it shows, scaled to `width` ×
    // `height` pixels, without the cursor. Fails in a sentence.
    virtual Result<RgbPicture> displayPicture(const Rect& region, int width, int height) = 0;
    // Starts capturing the window with `configuration`, its samples and stop report going to
    // `handlers` on `executor`. A failure says why in a sentence for the user.
    virtual Result<std::shared_ptr<WindowStream>> openStream(std::uint32_t window,
                                                             const WindowStream::Configuration& configuration,
                                                             std::shared_ptr<Executor> executor,
                                                             WindowStream::Handlers handlers) = 0;
};

}  // namespace quib
