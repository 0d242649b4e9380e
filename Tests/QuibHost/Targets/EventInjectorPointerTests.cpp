#include <cmath>
#include <limits>

#include "EventInjectorFixture.hpp"
#include "Runtime/Logger.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

std::vector<std::optional<std::int64_t>> fieldOf(const std::vector<InputEvent>& events, EventField field) {
    std::vector<std::optional<std::int64_t>> values;
    for (const auto& event : events) values.push_back(event.field(field));
    return values;
}

TEST_F(EventInjector, MovesStayOnTheDisplaysWhileTheDeltaFieldsCarryThePhonesMovement) {
    injector().move(5000, 0);
    auto event = lastEvent();
    EXPECT_EQ(event.type, EventType::mouseMoved);
    EXPECT_EQ(event.location, (Point{1439, 100}));
    EXPECT_EQ(event.field(EventField::mouseDeltaX), 5000);
    EXPECT_EQ(event.field(EventField::mouseDeltaY), 0);
    EXPECT_EQ(desktop->pointerLocation(), (Point{1439, 100}));

    desktop->setPointer({100, 100});
    injector().move(2.5, -2.5);
    event = lastEvent();
    EXPECT_EQ(event.location, (Point{102.5, 97.5}));  // fractions are kept
    EXPECT_EQ(event.field(EventField::mouseDeltaX), 3);
    EXPECT_EQ(event.field(EventField::mouseDeltaY), -3);
}

TEST_F(EventInjector, APointOffTheDisplaysGoesToTheNearestOneAndTheFirstOnATie) {
    // A shorter display to the right of the main one: below it is a gap.
    desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}, {1440, 0, 1280, 720}});
    injector().point({2000, 800});
    EXPECT_EQ(lastEvent().location, (Point{2000, 719}));
    EXPECT_EQ(lastEvent().field(EventField::mouseDeltaX), 1900);
    EXPECT_EQ(lastEvent().field(EventField::mouseDeltaY), 619);

    // Between two displays, equally far from both.
    desktop->setDisplays(std::vector<Rect>{{0, 0, 100, 100}, {201, 0, 100, 100}});
    injector().point({150, 50});
    EXPECT_EQ(lastEvent().location, (Point{99, 50}));
    injector().point({151, 50});
    EXPECT_EQ(lastEvent().location, (Point{201, 50}));
    injector().point({250.5, 10.25});  // on a display: unchanged
    EXPECT_EQ(lastEvent().location, (Point{250.5, 10.25}));
}

TEST_F(EventInjector, MovesDragWithTheFirstHeldButton) {
    const auto moveType = [&] {
        injector().move(1, 1);
        return std::pair{lastEvent().type, lastEvent().mouseButton};
    };
    injector().click(MouseButton::right, ClickPhase::down, 1);
    EXPECT_EQ(moveType(), std::pair(EventType::rightMouseDragged, EventButton::right));
    injector().click(MouseButton::left, ClickPhase::down, 1);
    EXPECT_EQ(moveType(), std::pair(EventType::leftMouseDragged, EventButton::left));
    injector().click(MouseButton::left, ClickPhase::up, 1);
    injector().click(MouseButton::right, ClickPhase::up, 1);
    injector().click(MouseButton::middle, ClickPhase::down, 1);
    EXPECT_EQ(moveType(), std::pair(EventType::otherMouseDragged, EventButton::middle));
    injector().click(MouseButton::middle, ClickPhase::up, 1);
    EXPECT_EQ(moveType(), std::pair(EventType::mouseMoved, EventButton::left));
    EXPECT_TRUE(desktop->pressedButtons().empty());
}

TEST_F(EventInjector, ClicksCarryThePhonesClickCountAndAtLeastOne) {
    injector().click(MouseButton::left, ClickPhase::click, 2);
    auto events = desktop->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EventType::leftMouseDown);
    EXPECT_EQ(events[1].type, EventType::leftMouseUp);
    EXPECT_EQ(fieldOf(events, EventField::mouseClickState), (std::vector<std::optional<std::int64_t>>{2, 2}));
    EXPECT_EQ(events[0].location, (Point{100, 100}));
    EXPECT_TRUE(desktop->pressedButtons().empty());

    desktop->clearEvents();
    injector().click(MouseButton::right, ClickPhase::click, 0);
    injector().click(MouseButton::middle, ClickPhase::click, int64Min);
    injector().click(MouseButton::middle, ClickPhase::click, int64Max);
    events = desktop->events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].type, EventType::rightMouseDown);
    EXPECT_EQ(events[3].type, EventType::otherMouseUp);
    EXPECT_EQ(fieldOf(events, EventField::mouseClickState),
              (std::vector<std::optional<std::int64_t>>{1, 1, 1, 1, int64Max, int64Max}));
}

TEST_F(EventInjector, AConnectionsEndReleasesOnlyItsOwnButtons) {
    injector().click(MouseButton::left, ClickPhase::down, 1);
    injector().click(MouseButton::right, ClickPhase::down, 1);
    desktop->clearEvents();
    injector().release({MouseButton::right, MouseButton::middle});
    ASSERT_EQ(desktop->events().size(), 1u);
    EXPECT_EQ(lastEvent().type, EventType::rightMouseUp);
    EXPECT_EQ(lastEvent().field(EventField::mouseClickState), 1);
    EXPECT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::left});

    injector().click(MouseButton::middle, ClickPhase::down, 1);
    desktop->clearEvents();
    injector().releaseAllButtons();
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EventType::leftMouseUp);
    EXPECT_EQ(events[1].type, EventType::otherMouseUp);
    EXPECT_TRUE(desktop->pressedButtons().empty());
    injector().releaseAllButtons();
    EXPECT_EQ(desktop->events().size(), 2u);
}

TEST_F(EventInjector, AGestureIsFramedByItsPhases) {
    injector().scroll(ScrollGesturePhase::began);
    EXPECT_TRUE(desktop->events().empty());
    injector().scroll(0, 10);
    injector().scroll(1.5, -2.5);
    injector().scroll(0, 10);
    injector().scroll(ScrollGesturePhase::ended);
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(fieldOf(events, EventField::scrollPhase), (std::vector<std::optional<std::int64_t>>{1, 2, 2, 4}));
    EXPECT_EQ(fieldOf(events, EventField::momentumPhase), (std::vector<std::optional<std::int64_t>>(4)));
    EXPECT_EQ(fieldOf(events, EventField::scrollIsContinuous), (std::vector<std::optional<std::int64_t>>(4, 1)));
    EXPECT_EQ(events[1].wheels, (std::array<std::int32_t, 3>{-3, 2, 0}));
    EXPECT_EQ(events[3].wheels, (std::array<std::int32_t, 3>{0, 0, 0}));
    EXPECT_EQ(events[3].wheelCount, 2);

    // Ending again, or ending a momentum run that never began, posts nothing.
    injector().scroll(ScrollGesturePhase::ended);
    injector().scroll(ScrollGesturePhase::momentumEnded);
    EXPECT_EQ(desktop->events().size(), 4u);
}

TEST_F(EventInjector, PlainScrollsBeginAGestureAndAStallBeginsANewOne) {
    injector().scroll(0, 1);
    wait(400ms);
    injector().scroll(0, 1);
    wait(401ms);
    injector().scroll(0, 1);
    EXPECT_EQ(fieldOf(desktop->events(), EventField::scrollPhase), (std::vector<std::optional<std::int64_t>>{1, 2, 1}));
}

TEST_F(EventInjector, MomentumScrollsCarryOnlyMomentumPhases) {
    injector().scroll(ScrollGesturePhase::momentumBegan);
    injector().scroll(0, 30);
    injector().scroll(0, 20);
    injector().scroll(ScrollGesturePhase::momentumEnded);
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(fieldOf(events, EventField::momentumPhase), (std::vector<std::optional<std::int64_t>>{1, 2, 3}));
    EXPECT_EQ(fieldOf(events, EventField::scrollPhase), (std::vector<std::optional<std::int64_t>>(3)));
    EXPECT_EQ(events[2].wheels, (std::array<std::int32_t, 3>{0, 0, 0}));
}

TEST_F(EventInjector, DeltasBeyondWhatAnEventHoldsNeverBringTheHostDown) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    injector().move(nan, 0);
    injector().move(0, inf);
    injector().move(-inf, 1);
    injector().point({nan, 5});
    injector().point({1, inf});
    EXPECT_TRUE(desktop->events().empty());

    injector().move(1e300, 0);
    ASSERT_EQ(desktop->events().size(), 1u);
    EXPECT_EQ(lastEvent().location, (Point{1439, 100}));
    EXPECT_EQ(lastEvent().field(EventField::mouseDeltaX), int64Max);
    injector().move(0, -1e300);
    EXPECT_EQ(lastEvent().location, (Point{1439, 0}));
    EXPECT_EQ(lastEvent().field(EventField::mouseDeltaY), int64Min);

    // A scroll that does not fit a wheel posts nothing and leaves the gesture as it was.
    desktop->clearEvents();
    injector().scroll(0, 5);
    for (double delta : {1e300, 3e9, -3e9, nan, inf}) {
        injector().scroll(0, delta);
        injector().scroll(delta, 0);
    }
    injector().scroll(0, 2147483647);
    injector().scroll(0, -2147483648.0);
    const auto events = desktop->events();
    EXPECT_EQ(fieldOf(events, EventField::scrollPhase), (std::vector<std::optional<std::int64_t>>{1, 2, 2}));
    EXPECT_EQ(events[2].wheels[0], std::numeric_limits<std::int32_t>::min());

    // With no display at all a move still cannot leave the finite plane.
    desktop->setDisplays(std::vector<Rect>{});
    desktop->setPointer({1.7e308, 0});
    desktop->clearEvents();
    injector().move(1.7e308, 0);
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(EventInjector, PausingDropsInputButNeverTheReleases) {
    injector().click(MouseButton::left, ClickPhase::down, 1);
    injector().scroll(ScrollGesturePhase::began);
    injector().scroll(0, 1);
    desktop->clearEvents();

    injector().setPaused(true);
    EXPECT_TRUE(injector().isPaused());
    ASSERT_EQ(desktop->events().size(), 1u);  // the held left button let go
    EXPECT_EQ(lastEvent().type, EventType::leftMouseUp);
    injector().move(10, 10);
    injector().point({5, 5});
    injector().click(MouseButton::right, ClickPhase::click, 1);
    injector().scroll(0, 4);
    injector().scroll(ScrollGesturePhase::began);
    injector().follow({500, 500, 100, 100});
    injector().releaseAllButtons();
    EXPECT_EQ(desktop->events().size(), 1u);

    injector().setPaused(false);
    injector().scroll(0, 4);  // the gesture open before the pause is gone
    EXPECT_EQ(lastEvent().field(EventField::scrollPhase), 1);
}

TEST_F(EventInjector, FollowLandsThePointerInAWindowUnlessSwitchedOffOrDragging) {
    injector().follow({500, 300, 200, 100});
    EXPECT_EQ(desktop->pointerLocation(), (Point{600, 350}));
    desktop->clearEvents();
    injector().follow({500, 300, 200, 100});  // already inside
    EXPECT_TRUE(desktop->events().empty());

    injector().click(MouseButton::left, ClickPhase::down, 1);
    injector().follow({0, 0, 200, 100});
    EXPECT_EQ(desktop->pointerLocation(), (Point{600, 350}));
}

TEST_F(EventInjector, FollowNeverMovesThePointerWhenTheUserSwitchedItOff) {
    (void)settings->setBool("quib.followPointer", false);
    injector().follow({500, 300, 200, 100});
    EXPECT_TRUE(desktop->events().empty());
    // Read once: switching it back on waits for the next start.
    (void)settings->setBool("quib.followPointer", true);
    injector().follow({500, 300, 200, 100});
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(EventInjector, DisplayBoundsAreCachedUntilTheDisplaysChange) {
    injector().move(1, 0);
    injector().move(1, 0);
    EXPECT_EQ(desktop->displayQueries(), 1u);

    desktop->setDisplays(std::vector<Rect>{{0, 0, 800, 600}});
    injector().move(5000, 5000);
    EXPECT_EQ(lastEvent().location, (Point{799, 599}));
    EXPECT_EQ(desktop->displayQueries(), 2u);

    // A failed query, or one that lists nothing, is asked again next time.
    desktop->setDisplays(std::nullopt);
    injector().move(1, 0);
    injector().move(1, 0);
    EXPECT_EQ(desktop->displayQueries(), 4u);

    desktop->setDisplays(std::vector<Rect>{{0, 0, 800, 600}});
    injector().move(1, 0);
    injector().clearDisplayCache();
    injector().move(1, 0);
    EXPECT_EQ(desktop->displayQueries(), 6u);
}

TEST_F(EventInjector, MovesAreTimedWhenSamplesAreSwitchedOn) {
    auto log = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(log);
    instrumentation->setEnabled(true);
    injector().move(1, 0);
    wait(1s);
    injector().move(1, 0);
    Logger::setSink(previous);
    for (const char* series : {"1_cursor_read", "2_clamp", "3_build", "4_post", "5_move_total"}) {
        EXPECT_TRUE(log->contains(std::string("[perf] ") + series + " n=2 ")) << series;
    }
}

}  // namespace
}  // namespace quib::testing
