// The pointer, its buttons and the scroll wheels on the shared test display.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Linux/X11/X11EventPoster.hpp"
#include "Tests/Display/X11DesktopFixture.hpp"

namespace quib::testing {
namespace {

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
    EXPECT_EQ(queryPointer().location, (Point{1919, 100}));

    warpPointer({100, 100});
    for (int i = 0; i < 8; ++i) injector->move(0.25, 0);
    EXPECT_EQ(queryPointer().location, (Point{102, 100}));

    // Someone else moved the pointer meanwhile: their position wins over the host's fraction.
    injector->move(0.25, 0);
    warpPointer({300, 300});
    injector->move(1, 0);
    EXPECT_EQ(queryPointer().location, (Point{301, 300}));
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

TEST_F(X11EventPosterPointer, ADoubleClickIsTwoClicksInARow) {
    openDesktop();
    openProbe({.managed = false});
    warpPointer(probe->centre());
    injector->click(MouseButton::middle, ClickPhase::click, 2);
    EXPECT_EQ(buttonsPressed(probe->waitForType(ButtonPress, 2)), (std::vector<unsigned int>{2, 2}));
    EXPECT_EQ(probe->waitForType(ButtonRelease, 2).size(), 2u);
    EXPECT_EQ(queryPointer().mask & anyButtonMask, 0u);
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
