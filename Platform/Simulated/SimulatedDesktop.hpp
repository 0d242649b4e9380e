#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/Headless/MemoryPasteboard.hpp"
#include "Platform/MenuReader.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/Simulated/SimulatedWindowStream.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// A desktop that lives in memory, for tests: a real model with state rather than a mock. It
// keeps what a desktop keeps (the pointer in fractional points, the displays, the pressed
// buttons, the pasteboard with its change count, the installed and running apps with their
// windows and which app has focus, the accessibility trust) and moves it as posted events say,
// recording every event with all its fields. A Command-V makes the focused app read the
// pasteboard, and key presses land in the focused app, so tests see what landed where.
//
// The host's launch of an installed app completes after a set delay on the desktop's clock, in
// the background: the app runs then but does not take focus until it is activated. Activation
// can be refused. Running apps publish the menu trees a test gives their processes, read under
// the trust switch, each read taking a set time off the desktop's clock.
//
// Windows are stacked front to back: a window opens in front, and raising one brings it to the
// front and makes it the active one. Capture lists them under the screen recording switch, and
// streams them as SimulatedWindowStreams that tests drive picture by picture. Safe on any thread.
class SimulatedDesktop final : public EventPoster,
                               public PointerLocation,
                               public DisplayList,
                               public AccessibilityProbe,
                               public Pasteboard,
                               public Permissions,
                               public Workspace,
                               public WindowRoster,
                               public MenuReader,
                               public OpenDocuments,
                               public WindowSource,
                               public std::enable_shared_from_this<SimulatedDesktop> {
public:
    // The V key, which with Command alone pastes.
    static constexpr std::uint16_t pasteKeyCode = 9;

    // One window of a running app.
    struct Window {
        std::uint32_t id = 0;
        std::string title;
        Rect frame;
        bool minimised = false;
        std::int32_t layer = 0;  // 0: an ordinary app window
        bool onScreen = true;    // false: hidden (a minimised window is never on screen)
        bool active = false;
        bool numbered = true;  // false: the accessibility side cannot tell its number
        bool sized = true;     // false: the accessibility side cannot read its size
        bool operator==(const Window&) const = default;
    };

    struct KeyPress {
        std::uint16_t keyCode = 0;
        std::uint64_t flags = 0;
        bool operator==(const KeyPress&) const = default;
    };

    // One node of an app's menus as the accessibility interface shows it: the bar, a menu or an
    // item. An absent attribute cannot be read.
    struct MenuNode {
        std::optional<std::string> title;
        std::optional<std::string> commandCharacter;
        std::optional<std::int64_t> commandVirtualKey;
        std::optional<std::int64_t> commandModifiers;
        std::vector<MenuNode> children;
    };

    // One running app and what reached it while it had focus.
    struct App {
        std::string bundleID;
        std::string name;  // as the user sees it; the bundle identifier unless named
        std::int64_t processID = 0;
        std::vector<std::vector<PasteboardItem>> pastes;  // the pasteboard's items at each Command-V
        std::vector<KeyPress> keys;                       // every key pressed down, Command-V included
        std::vector<Window> windows;                      // in the order they were opened
        std::optional<std::uint32_t> mainWindow;          // the window raised last
    };

    // Delayed launches complete by `clock`; none: a clock of the desktop's own that never moves.
    explicit SimulatedDesktop(std::shared_ptr<Clock> clock = nullptr);

    // Every service of this desktop.
    DesktopServices services();

    // EventPoster: records the event, then applies it.
    void post(const InputEvent& event) override;
    // As a test set it: a terminal emulator's window has focus.
    bool focusIsTerminal() override;
    void setFocusIsTerminal(bool terminal);
    // PointerLocation.
    Point pointerLocation() override;
    // DisplayList.
    std::optional<std::vector<Rect>> activeDisplayBounds() override;
    Subscription onChange(std::function<void()> changed) override;
    // AccessibilityProbe.
    std::int32_t focusedElementError() override;
    // Pasteboard: another app's copy is a write too.
    std::int64_t changeCount() override { return pasteboard_.changeCount(); }
    std::vector<PasteboardItem> items() override { return pasteboard_.items(); }
    void clear() override { pasteboard_.clear(); }
    void write(std::vector<PasteboardItem> items) override { pasteboard_.write(std::move(items)); }
    // Permissions: the trust switch, and screen recording (off unless switched on).
    bool accessibilityTrusted() const override;
    bool screenRecordingGranted() const override;
    std::string accessibilityHelp() const override;
    std::string screenRecordingHelp() const override;

    // The displays; a change is announced to every subscriber. None: the desktop cannot be
    // asked for them.
    void setDisplays(std::optional<std::vector<Rect>> bounds);
    // How often the displays were asked for.
    std::size_t displayQueries() const;

    // Puts the pointer somewhere, as the user's own hand would.
    void setPointer(Point location);
    // The mouse buttons held down, as EventButton numbers.
    std::set<std::int64_t> pressedButtons() const;
    // Every event posted so far, in order.
    std::vector<InputEvent> events() const;
    void clearEvents();

    void setTrusted(bool trusted);
    void setFocusedElementError(std::int32_t error);
    void setScreenRecordingGranted(bool granted);

    // Workspace: a launch of an installed app completes after the launch delay.
    bool isInstalled(const std::string& bundleID) override;
    std::vector<RunningApp> runningInstances(const std::string& bundleID) override;
    bool activate(const RunningApp& app) override;
    Result<void> launch(const std::string& bundleID) override;
    std::optional<RunningApp> frontmostApp() override;
    // In the order the apps were started.
    std::vector<ListedApp> runningApps() override;
    // WindowRoster, under the trust switch; raising also activates the app, unless refused.
    Raise raise(std::uint32_t windowID, const std::string& bundleID, const std::string& name,
                bool movingPointer) override;
    Raise open(std::uint32_t windowID, const std::string& bundleID, const std::string& name) override;
    std::optional<Rect> frontWindowFrame(const std::string& bundleID) override;
    // Front to back; windows that share a number are listed one after the other. The main
    // window is the one raised last, unless minimised.
    std::vector<AccessibleWindow> accessibleWindows(const std::string& bundleID) override;
    // MenuReader, under the trust switch: the bar a test gave the process, read as it is now.
    bool isTrusted() override;
    std::shared_ptr<Element> menuBar(std::int64_t processID, Duration messagingTimeout) override;
    bool firstTopLevelItemIsSystemMenu() override;
    // OpenDocuments: what was set for the process, whether or not it runs.
    std::optional<std::string> documentURL(std::int64_t processID) override;
    // WindowSource: every window, front to back, under the screen recording switch.
    std::optional<std::vector<WindowSource::Window>> shareableWindows() override;
    bool screenLocked() override;
    std::optional<double> backingScaleFactor() override;
    std::optional<double> windowCornerRadius() override;
    // Pictures under the screen recording switch: a window is painted in its windowColour, the
    // screen in displayColour.
    Result<RgbPicture> windowPicture(std::uint32_t window, int width, int height) override;
    Result<RgbPicture> displayPicture(const Rect& region, int width, int height) override;
    Result<std::shared_ptr<WindowStream>> openStream(std::uint32_t window,
                                                     const WindowStream::Configuration& configuration,
                                                     std::shared_ptr<Executor> executor,
                                                     WindowStream::Handlers handlers) override;

    static constexpr std::array<std::uint8_t, 3> displayColour{0x20, 0x40, 0x60};
    static std::array<std::uint8_t, 3> windowColour(std::uint32_t window) {
        return {static_cast<std::uint8_t>(window), static_cast<std::uint8_t>(window >> 8), 0xc0};
    }

    // Installs an app, so that the host may launch it.
    void install(const std::string& bundleID);
    // How long the host's launches take to complete (at first no time at all); none: they never
    // do.
    void setLaunchDelay(std::optional<Duration> delay);
    // How many launches the host asked for.
    std::size_t launchRequests() const;
    // Whether activations are refused from now on.
    void setActivationRefused(bool refused);
    // Starts an app at once, as the user would (a second start changes nothing). Without a
    // process ID, its windows name no process.
    void start(const std::string& bundleID, bool withProcessID = true);
    // Quits a running app.
    void quit(const std::string& bundleID);
    // Starts a program whose windows belong to no installed app; returns its process id.
    std::int64_t startUnlisted();
    // Opens a window of a running app.
    void openWindow(const std::string& bundleID, Window window);
    // Gives focus to a running app, or to nothing.
    void focus(const std::optional<std::string>& bundleID);
    std::optional<std::string> focusedApp() const;
    // The document the process shows in its focused window; none: no document.
    void setDocumentURL(std::int64_t processID, std::optional<std::string> url);
    // How often a document was asked for.
    std::size_t documentQueries() const;
    // The app as it is now; none when it is not running.
    std::optional<App> app(const std::string& bundleID) const;
    // The name the user sees for a running app.
    void nameApp(const std::string& bundleID, std::string name);

    // Opens a window that belongs to no app, in front.
    void openUnownedWindow(Window window);
    // Moves and resizes a window.
    void setWindowFrame(std::uint32_t window, Rect frame);
    void closeWindow(std::uint32_t window);
    void setMinimised(std::uint32_t window, bool minimised);
    // Hands a window to another running app, or to none, keeping its place in the stack.
    void moveWindowToApp(std::uint32_t window, const std::optional<std::string>& bundleID);
    // Whether the screen is locked.
    void setLocked(bool locked);
    // Pixels per point of the main display (at first 2); none: there is no main display.
    void setBackingScale(std::optional<double> scale);
    // The corners of its windows (16.8 points at first); none: square.
    void setWindowCornerRadius(std::optional<double> radius);
    // Why the next streams fail to open, or updates of running streams are refused; none: they
    // succeed.
    void setOpenFailure(std::optional<std::string> description);
    void setUpdateFailure(std::optional<std::string> description);
    // Every stream opened, in order.
    std::vector<std::shared_ptr<SimulatedWindowStream>> windowStreams() const;
    // Runs before each window picture is taken, outside the desktop's lock, with the window's
    // number (a test may hold the picture there); none: nothing runs.
    void setPictureGate(std::function<void(std::uint32_t)> gate);
    // How many pictures were taken, of windows and of the screen.
    std::size_t picturesTaken() const;
    // How often the windows were read.
    std::size_t windowReads() const;
    // While held, reads of the windows wait inside the call until it is released.
    void holdWindowReads();
    // Waits until a read is held, up to `timeout`; false when none came.
    bool waitForHeldWindowRead(Duration timeout);
    void releaseWindowReads();

    // The menu bar of a process; none: it publishes none.
    void setMenuBar(std::int64_t processID, std::optional<MenuNode> bar);
    // How long each read of a menu element takes (at first no time at all); one that takes longer
    // than the reader's messaging timeout gives up then, with nothing. The time passes on the
    // desktop's clock at once, firing what falls due.
    void setMenuReadCost(Duration cost);
    // Whether every bar starts with the system's own menu.
    void setSystemMenuFirst(bool first);
    // How many menu elements were read, bars included.
    std::size_t menuReads() const;

private:
    void apply(const InputEvent& event) REQUIRES(mutex_);
    void land(const InputEvent& event) REQUIRES(mutex_);
    void startLocked(const std::string& bundleID, bool withProcessID = true);
    // Counts one menu read and lets its cost pass; false when it ran out of time.
    bool readMenu(Duration messagingTimeout);
    Raise bringForward(std::uint32_t windowID, const std::string& bundleID, const std::string& name, bool opening,
                       bool movingPointer);
    // Puts the window in front of all others (with mutex_ held).
    void stackInFront(std::uint32_t window);
    // The window with this number and the app it belongs to (none: no app); with mutex_ held.
    std::pair<Window*, App*> findWindow(std::uint32_t window);
    std::optional<std::string> updateRefusal() const;

    mutable Mutex mutex_;
    Point pointer_ GUARDED_BY(mutex_);
    std::optional<std::vector<Rect>> displays_ = std::vector<Rect>{};
    std::size_t displayQueries_ = 0;
    std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> displayWatchers_;
    std::uint64_t nextWatcher_ = 0;
    std::set<std::int64_t> pressed_ GUARDED_BY(mutex_);
    std::vector<InputEvent> events_ GUARDED_BY(mutex_);
    bool trusted_ GUARDED_BY(mutex_) = false;
    bool focusIsTerminal_ = false;
    bool screenRecording_ = false;
    std::int32_t focusedElementError_ = success;
    std::shared_ptr<Clock> clock_;
    std::set<std::string> installed_;
    std::map<std::string, App> apps_;
    std::vector<ListedApp> started_;  // the apps and unlisted programs in the order they started
    std::int64_t nextProcessID_ = 1000;
    std::optional<std::string> focused_;
    std::optional<Duration> launchDelay_ = Duration::zero();
    std::size_t launchRequests_ = 0;
    bool refusesActivation_ = false;
    std::map<std::int64_t, std::shared_ptr<const MenuNode>> menuBars_;
    Duration menuReadCost_ = Duration::zero();
    bool systemMenuFirst_ = false;
    std::size_t menuReads_ = 0;
    std::map<std::int64_t, std::string> documentURLs_;
    std::size_t documentQueries_ = 0;
    MemoryPasteboard pasteboard_;
    std::vector<Window> unownedWindows_;
    std::vector<std::uint32_t> stacking_;  // window numbers, front to back
    bool locked_ = false;
    std::optional<double> backingScale_ = 2.0;
    std::optional<double> cornerRadius_ = 16.8;
    std::optional<std::string> openFailure_;
    std::optional<std::string> updateFailure_;
    std::vector<std::shared_ptr<SimulatedWindowStream>> streams_;
    std::size_t windowReads_ = 0;
    std::function<void(std::uint32_t)> pictureGate_;
    std::size_t picturesTaken_ = 0;
    bool holdingReads_ GUARDED_BY(mutex_) = false;
    std::size_t heldReads_ GUARDED_BY(mutex_) = 0;  // reads waiting now
    std::condition_variable readsChanged_;
};

}  // namespace quib
