#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Permissions.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/HostWords.hpp"

namespace quib {

// The windows of the desktop's apps as the host raises them: bringing one window of an app to
// the front (refusing a minimised one), bringing it back first when it is minimised, and the
// frame of an app's front window. A window is named by its number (on X11 its window ID).
//
// Every operation is synchronous and safe on any thread.
class WindowRoster {
public:
    static constexpr std::string_view closedText = "The window you picked has closed \u2014 pick another";
    static std::string notRunningText(const std::string& name) { return name + " isn't running"; }
    static std::string minimisedText(const std::string& title) {
        return (title.empty() ? std::string("That window") : title) + " is minimised \u2014 open it on " +
               HostWords::yourComputer.str() + ", or pick another";
    }
    static std::string stuckMinimisedText(const std::string& name) {
        return name + " wouldn't bring that window back \u2014 open it on " + HostWords::yourComputer.str();
    }

    // What raising or opening a window gave: the window's title (possibly empty), or a sentence
    // for the user when nothing was raised.
    struct Raise {
        bool raised = false;
        // The window's title when raised, else the refusal.
        std::string text;
        // Where the raised window is, when the pointer is to move into it and its frame could be
        // read; the caller lands the pointer there.
        std::optional<Rect> frame;

        static Raise raisedWindow(std::string title, std::optional<Rect> frame = std::nullopt) {
            return {true, std::move(title), frame};
        }
        static Raise refused(std::string message) { return {false, std::move(message), std::nullopt}; }
        bool operator==(const Raise&) const = default;
    };

    struct WindowSize {
        double width = 0;
        double height = 0;
        bool operator==(const WindowSize&) const = default;
    };
    // One of an app's windows as the accessibility side sees it.
    struct AccessibleWindow {
        std::optional<std::uint32_t> number;  // none when it cannot be told
        std::string title;                    // empty when it has none
        bool minimised = false;
        std::optional<WindowSize> size;  // in points; none when it cannot be read
        bool main = false;               // the app's main window
        bool operator==(const AccessibleWindow&) const = default;
    };

    virtual ~WindowRoster() = default;

    // The app's windows in the accessibility side's order (on X11 highest first); none without
    // the host's accessibility trust or when the app does not run.
    virtual std::vector<AccessibleWindow> accessibleWindows(const std::string& bundleID) = 0;

    // Raises the app's window with this number, makes it the app's main window and activates the
    // app. Refuses without the host's accessibility trust (Permissions::accessibilityRefusal),
    // when the app does not run (notRunningText), when no window has the number (closedText) and
    // when the window is minimised (minimisedText). With `movingPointer`, the result carries the
    // window's frame when it can be read.
    virtual Raise raise(std::uint32_t windowID, const std::string& bundleID, const std::string& name,
                        bool movingPointer) = 0;
    // As raise, but a minimised window is brought back first (stuckMinimisedText when that
    // fails); it never carries a frame.
    virtual Raise open(std::uint32_t windowID, const std::string& bundleID, const std::string& name) = 0;
    // The frame of the app's front window in global display coordinates: its main window, else
    // its largest (the earlier of equals), minimised windows never. None without the host's
    // accessibility trust, when the app does not run, has no such window, or the frame cannot be
    // read.
    virtual std::optional<Rect> frontWindowFrame(const std::string& bundleID) = 0;
};

}  // namespace quib
