// The pointer, its buttons and the scroll wheels on the shared test display.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11EventPoster.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Tests/Platform/Linux/X11/X11DesktopFixture.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/Xclip.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using X11EventPosterPointer = X11DesktopTest;

constexpr unsigned int anyButtonMask = Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask;

std::vector<unsigned int> buttonsPressed(const std::vector<ProbeWindow::Event>& events) {
    std::vector<unsigned int> buttons;
    for (const auto& event : events) {
        if (event.type == ButtonPress) buttons.push_back(event.button);
    }
    return buttons;
}

TEST_F(X11EventPosterPointer, MovesStayOnTheScreenAndSmallOnesAddUp) {
    openDesktop();
    EXPECT_EQ(desktop->services.displays->activeDisplayBounds(), (std::vector<Rect>{{0, 0, 1920, 1080}}));
    warpPointer({100, 100});
    injector->move(5000, 0);
    EXPECT_TRUE(pointerReaches({1919, 100}));

    warpPointer({100, 100});
    for (int i = 0; i < 8; ++i) injector->move(0.25, 0);
    EXPECT_TRUE(pointerReaches({102, 100}));

    // Someone else moved the pointer meanwhile: their position wins over the host's fraction.
    injector->move(0.25, 0);
    warpPointer({300, 300});
    injector->move(1, 0);
    EXPECT_TRUE(pointerReaches({301, 300}));
}

// The watcher of the user's own pointing devices hears nothing of the host's moves: they come
// through XTEST, whose motion it does not ask for.
TEST_F(X11EventPosterPointer, TheHostsOwnMovesWakeNoWatcher) {
    X11EventPoster poster(X11Connection::open(testDisplayName()), std::make_shared<DesktopEntries>());
    for (int step = 0; step < 50; ++step) {
        poster.post(InputEvent::mouse(EventType::mouseMoved, {200.0 + step, 300}, EventButton::left));
    }
    EXPECT_TRUE(pointerReaches({249, 300}));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(poster.watcherEvents(), 0u);
}

TEST_F(X11EventPosterPointer, MovesWithTheLeftButtonDownDragAndReleasingLeavesNoButtonDown) {
    openDesktop();
    openProbe({.managed = false});
    warpPointer(probe->centre());
    injector->click(MouseButton::left, ClickPhase::down, 1);
    injector->move(10, 0);
    EXPECT_TRUE(probe->waitFor([](const std::vector<ProbeWindow::Event>& events) {
        return std::ranges::any_of(events, [](const ProbeWindow::Event& event) {
            return event.type == MotionNotify && (event.state & Button1Mask) != 0;
        });
    }));

    injector->click(MouseButton::right, ClickPhase::down, 1);
    EXPECT_EQ(queryPointer().mask & anyButtonMask, static_cast<unsigned int>(Button1Mask | Button3Mask));
    injector->releaseAllButtons();
    EXPECT_EQ(queryPointer().mask & anyButtonMask, 0u);
}

// A phone sends a double tap as a click, then the same click counted 2. The presses end with a
// wheel click, so that presses that should not have come would show before it.
TEST_F(X11EventPosterPointer, AClickCountGoesOnFromTheClickPostedLastOrMakesUpTheClicksBefore) {
    openDesktop();
    openProbe({.managed = false});
    warpPointer(probe->centre());
    injector->click(MouseButton::left, ClickPhase::click, 1);
    injector->click(MouseButton::left, ClickPhase::click, 2);    // goes on: one press
    injector->click(MouseButton::middle, ClickPhase::click, 2);  // a run never posted: two
    injector->click(MouseButton::right, ClickPhase::click, 1);
    clock->advance(X11EventPoster::multiClickTime + 1ms);
    injector->click(MouseButton::right, ClickPhase::click, 2);  // too late to go on: two
    injector->click(MouseButton::left, ClickPhase::click, 1);
    injector->move(X11EventPoster::multiClickDistance + 1, 0);
    injector->click(MouseButton::left, ClickPhase::click, 2);  // too far to go on: two
    injector->scroll(0, X11EventPoster::pixelsPerWheelClick);

    EXPECT_TRUE(probe->waitFor([](const std::vector<ProbeWindow::Event>& events) {
        return std::ranges::any_of(events,
                                   [](const auto& event) { return event.type == ButtonPress && event.button == 4; });
    }));
    EXPECT_EQ(buttonsPressed(probe->events()), (std::vector<unsigned int>{1, 1, 2, 2, 3, 3, 3, 1, 1, 1, 4}));
    EXPECT_EQ(probe->waitForType(ButtonRelease, 11).size(), 11u);
    EXPECT_EQ(queryPointer().mask & anyButtonMask, 0u);
}

// An xterm showing "alpha", a long word and "omega" on its first line; its title becomes "drawn"
// once the line is.
class WordsXterm {
public:
    static constexpr const char* className = "QuibWords";
    static inline const std::string longWord = std::string(60, 'b');

    WordsXterm()
        : process_(ChildProcess::start({"xterm", "-class", className, "-geometry", "80x3+0+0", "-e", "sh", "-c",
                                        "printf 'alpha %s omega\\033]2;drawn\\007' \"$0\"; exec sleep 60", longWord},
                                       {{"DISPLAY", testDisplayName()}}, scratch_.path / "xterm.log")) {}

    // The window's frame once the line is drawn and the window has the keyboard; none when that
    // does not come about in time.
    std::optional<Rect> frameWhenDrawn(X11Connection& connection) {
        std::optional<Rect> frame;
        eventually(
            [&] {
                connection.use([&](Display* display) {
                    const auto focused = X11Properties::focusedWindow(display);
                    const auto windowClass = focused ? X11Properties::windowClass(display, *focused) : std::nullopt;
                    if (!windowClass || windowClass->className != className) return;
                    for (Window window : X11ClientWindows::clients(display)) {
                        const auto owner = X11Properties::windowClass(display, window);
                        if (owner && owner->className == className &&
                            X11ClientWindows::title(display, window) == "drawn")
                            frame = X11ClientWindows::frame(display, window);
                    }
                });
                return frame.has_value();
            },
            10s);
        if (!frame)
            ADD_FAILURE() << "the xterm did not come up; its log:\n" << fileContents(scratch_.path / "xterm.log");
        return frame;
    }

private:
    ScratchFolder scratch_{"quib-xterm"};
    std::optional<ChildProcess> process_;
};

// What the xterm selected, once it is `expected` or 5 s have passed.
std::string primaryOnce(const std::string& expected) {
    std::string selected;
    eventually([&] {
        selected = Xclip::readText(testDisplayName(), "UTF8_STRING", "primary").value_or("");
        return selected == expected;
    });
    return selected;
}

// Both ways a phone's double tap may come select a word, not the line.
TEST_F(X11EventPosterPointer, ADoubleTapSelectsAWordInAnXtermWithOrWithoutItsFirstTap) {
    openDesktop();
    WordsXterm xterm;
    const auto frame = xterm.frameWhenDrawn(*control);
    ASSERT_TRUE(frame);
    const double firstLine = frame->y + 8;

    injector->point({frame->x + 12, firstLine});
    injector->click(MouseButton::left, ClickPhase::click, 2);
    EXPECT_EQ(primaryOnce("alpha"), "alpha");

    std::this_thread::sleep_for(1s);  // past the xterm's own multi-click time
    injector->point({frame->x + frame->width / 2, firstLine});
    injector->click(MouseButton::left, ClickPhase::click, 1);
    injector->click(MouseButton::left, ClickPhase::click, 2);
    EXPECT_EQ(primaryOnce(WordsXterm::longWord), WordsXterm::longWord);
}

// Each check ends with a scroll whose clicks are known, so that clicks that should not have
// come would show before it.
TEST_F(X11EventPosterPointer, ScrollPixelsAddUpIntoWheelClicksWithinARun) {
    constexpr double click = X11EventPoster::pixelsPerWheelClick;
    openDesktop();
    openProbe({.managed = false});
    warpPointer(probe->centre());

    injector->scroll(0, 2 * click + 5);
    EXPECT_EQ(buttonsPressed(probe->waitForType(ButtonPress, 2)), (std::vector<unsigned int>{4, 4}));
    EXPECT_EQ(probe->waitForType(ButtonRelease, 2).size(), 2u);
    probe->clear();

    injector->scroll(-click, click - 5);  // the 5 px kept make a third click up
    EXPECT_EQ(buttonsPressed(probe->waitForType(ButtonPress, 2)), (std::vector<unsigned int>{4, 7}));
    probe->clear();

    injector->scroll(0, click - 5);
    injector->scroll(ScrollGesturePhase::ended);  // posts nothing, and forgets the rest
    injector->scroll(ScrollGesturePhase::began);
    injector->scroll(0, 5);
    injector->scroll(click, 0);
    EXPECT_EQ(buttonsPressed(probe->waitForType(ButtonPress, 1)), (std::vector<unsigned int>{6}));
}

}  // namespace
}  // namespace quib::testing
