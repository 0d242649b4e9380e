#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/EventPoster.hpp"
#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Linux/X11/WheelClickAccumulator.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11EventWatcher.hpp"
#include "Platform/Linux/X11/X11Keymap.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Platform/PointerLocation.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// Posts the host's input on an X display through XTEST, as if it came from the keyboard and
// mouse, and reads the pointer back.
//
// Keys: a key code becomes the key's name and the name a keysym, pressed on the keycode the
// live keyboard map gives it (with Shift when the keysym sits at level 2 only); a keysym the map
// lacks is bound to a spare keycode for the press, and the map restored afterwards. Modifiers
// are pressed before the key and released after it in reverse order, each once: Control,
// Option as Alt, Shift, and Command as Control (as Control and Shift when a terminal emulator
// has the keyboard, where Control-C and Control-V mean something else).
//
// Pointer: moves go to the rounded point; the fractional point last posted stands for the
// pointer while the server still reports its rounded value, so small moves add up. The server is
// asked where the pointer is only when something else may have moved it: when the host posted no
// move for `pointerTrust`, or when a pointing device other than the host's own (XTEST) moved,
// which a watcher of raw motion on a connection of its own hears. Buttons
// left, middle and right are X buttons 1, 2 and 3. X has no click count: toolkits count the
// presses that come within their multi-click time. So a press that continues the run of clicks
// last posted (same button and place, soon enough) is posted alone, and the earlier clicks of a
// run never posted (a double click out of nowhere) are made up before it; the presses of a run
// are a few milliseconds apart, so that toolkits see each of them.
//
// Scrolls: pixels add up per axis into wheel clicks (buttons 4 and 5 vertical, 6 and 7
// horizontal); what is left over lasts as long as the gesture or momentum run.
//
// A move is only flushed to the server; every other post ends in a round trip, so it has reached
// the server when `post` returns (and what the server reported meanwhile, an error included, has
// been read). Safe on any thread: the connection's lock orders the posts. Once the server is
// gone, posts are dropped.
class X11EventPoster final : public EventPoster, public PointerLocation {
public:
    // How many pixels of a scroll one wheel click stands for: about what one click scrolls, so
    // that content moves about as far as the finger did. Measured under Xvfb, one click scrolls
    // an xterm 65 px (five lines of 13 px) and a GTK 3 text view the view's height to the power
    // 2/3: 54 px in a view 400 px tall, 71 px at 600 px, 100 px at 1000 px.
    static constexpr double pixelsPerWheelClick = 65;
    // How long a spare keycode keeps its keysym after the key is let go: clients read the new
    // map when the change reaches them, which may be after the press did, and must still find it.
    static constexpr std::chrono::milliseconds spareKeySettle{100};
    // How soon a click must follow the last one to continue its run, and how near it must be:
    // the common toolkits' defaults. A longer wait would let toolkits with a shorter time see
    // two single clicks; a shorter one would make a run up again where they see it go on.
    static constexpr Duration multiClickTime = std::chrono::milliseconds(400);
    static constexpr int multiClickDistance = 5;
    // Between the clicks of a run, kept by the server: toolkits lose presses that come in the
    // same instant as the click before.
    static constexpr std::chrono::milliseconds multiClickSpacing{5};
    // How long after its last move the host takes its own position for the pointer's.
    static constexpr Duration pointerTrust = std::chrono::milliseconds(100);

    // Terminal emulators are told by `apps` and by their window class; none: by class only.
    // Multi-click runs are timed by `clock` (none: the system clock).
    X11EventPoster(std::shared_ptr<X11Connection> connection, std::shared_ptr<DesktopEntries> apps,
                   std::shared_ptr<Clock> clock = nullptr);
    ~X11EventPoster() override;

    void post(const InputEvent& event) override;
    // A plain xterm or urxvt has focus: its paste keys read PRIMARY only.
    bool focusPastesSelection() override;
    // The focused window is a terminal emulator's, by its class and the installed apps.
    bool focusIsTerminal() override;
    Point pointerLocation() override;

private:
    // A key held down by the host, and what to undo when it is let go.
    struct Press {
        KeyCode keycode = 0;
        std::vector<KeyCode> modifiers;  // in the order pressed
        bool spare = false;              // the keycode was bound for this press
    };
    // The last press posted: the click it was of its run.
    struct Click {
        unsigned int button = 0;
        MonoTime at;
        int x = 0;
        int y = 0;
        std::int64_t count = 0;
    };

    void postMotion(Point location);
    void postButton(const InputEvent& event, bool down);
    void postScroll(const InputEvent& event);
    void pressKey(const InputEvent& event);
    void releaseKey(const InputEvent& event);
    // With the connection's lock held:
    std::vector<KeyCode> modifierKeycodes(Display* display, std::uint64_t flags, bool levelShift, bool terminal);
    std::optional<X11Properties::WindowClass> focusedClass();
    int clicksToMakeUp(unsigned int button, Point place, std::int64_t count);
    void sync(Display* display);
    void takeEvents(Display* display);
    std::optional<Point> trustedLocation();
    void watchOtherDevices(const std::string& displayName);

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<DesktopEntries> apps_;
    std::shared_ptr<Clock> clock_;
    // Guarded by the connection's lock:
    X11Keymap keymap_;
    std::map<std::uint16_t, Press> pressed_;  // by the host's key code
    std::optional<Point> lastPosted_;
    MonoTime lastPostedAt_;
    // Set by the watcher when another device moved the pointer; cleared by asking the server.
    std::shared_ptr<std::atomic<bool>> movedElsewhere_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<X11EventWatcher> motionWatcher_;
    std::optional<Click> lastClick_;
    WheelClickAccumulator vertical_{pixelsPerWheelClick};
    WheelClickAccumulator horizontal_{pixelsPerWheelClick};
};

}  // namespace quib
