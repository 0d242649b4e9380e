// Pointer, click and scroll lines from phones, as the injector receives them on the simulated
// desktop, and the buttons a connection holds.

#include "HostServerFixture.hpp"

#include "Shared/Json.hpp"

using namespace std::chrono_literals;

namespace quib::testing {
namespace {

std::string click(const char* button, const char* phase, std::int64_t count = 1) {
    return std::string("{\"click\":{\"button\":\"") + button + "\",\"phase\":\"" + phase +
           "\",\"clickCount\":" + std::to_string(count) + "}}\n";
}

const std::string moveRight = R"({"move":{"dx":10,"dy":0}})"
                              "\n";

// The simulated desktop of these tests: one 1440 × 900 display, the pointer at (100, 100).
void showOneDisplay(SimulatedDesktop& desktop) {
    desktop.setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
    desktop.setPointer({100, 100});
}

}  // namespace

TEST_F(HostServer, PointerLinesReachTheInjectorInOrderOnTheNetworkQueue) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    phone->write(R"({"move":{"dx":5000,"dy":0}})"
                 "\n" +
                 click("left", "down", 2) + moveRight + click("left", "up", 2) +
                 R"({"scrollPhase":{"_0":"began"}})"
                 "\n"
                 R"({"scroll":{"dx":0,"dy":-12.5}})"
                 "\n"
                 R"({"scrollPhase":{"_0":"ended"}})"
                 "\n");
    ASSERT_TRUE(settle(*phone));

    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].location, (Point{1439, 100}));
    EXPECT_EQ(events[0].field(EventField::mouseDeltaX), 5000);
    EXPECT_EQ(events[1].type, EventType::leftMouseDown);
    EXPECT_EQ(events[1].field(EventField::mouseClickState), 2);
    EXPECT_EQ(events[2].type, EventType::leftMouseDragged);
    EXPECT_EQ(events[3].type, EventType::leftMouseUp);
    EXPECT_EQ(events[4].wheels[0], -13);
    EXPECT_EQ(events[4].field(EventField::scrollPhase), 1);
    EXPECT_EQ(events[5].field(EventField::scrollPhase), 4);
    EXPECT_TRUE(log->contains("click left down accessibility=false"));
    EXPECT_TRUE(log->contains("scroll dx=0.0 dy=-12.5"));
}

TEST_F(HostServer, APhoneNotApprovedMovesNothing) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(helloLine("D-NEW") + moveRight + click("left", "click"));
    ASSERT_TRUE(settle(phone));
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(HostServer, AConnectionsEndReleasesOnlyTheButtonsItHolds) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    auto first = approvedPhone(port, "D-1");
    auto second = approvedPhone(port, "D-2");
    first->write(click("right", "down") + click("middle", "click"));
    second->write(click("left", "down"));
    ASSERT_TRUE(settle(*first));
    ASSERT_TRUE(settle(*second));
    ASSERT_EQ(desktop->pressedButtons(), (std::set<std::int64_t>{EventButton::left, EventButton::right}));
    desktop->clearEvents();

    first->close();
    ASSERT_TRUE(eventually([&] { return desktop->pressedButtons() == std::set<std::int64_t>{EventButton::left}; }));
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EventType::rightMouseUp);
    EXPECT_EQ(events[0].field(EventField::mouseClickState), 1);
}

TEST_F(HostServer, StoppingReleasesHeldButtonsAndEndsTheScrollGesture) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    phone->write(click("left", "down") + R"({"scrollPhase":{"_0":"began"}})"
                                         "\n"
                                         R"({"scroll":{"dx":0,"dy":5}})"
                                         "\n");
    ASSERT_TRUE(settle(*phone));
    ASSERT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::left});

    onMain([&] { server->stop(); });
    EXPECT_TRUE(desktop->pressedButtons().empty());
    injector->scroll(0, 5);
    EXPECT_EQ(desktop->events().back().field(EventField::scrollPhase), 1);
}

TEST_F(HostServer, PointingAtThePanelLandsInTheMirroredWindow) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    phone->write(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"
                 "\n");
    ASSERT_TRUE(settle(*phone));
    EXPECT_TRUE(desktop->events().empty());  // nothing is mirrored

    panelStreamer->mirror(Rect{200, 100, 400, 300});
    phone->write(R"({"pointAtPanel":{"x":-0.3,"y":1.7}})"
                 "\n"
                 R"({"pointAtPanel":{"x":0.25,"y":0.5}})"
                 "\n");
    ASSERT_TRUE(settle(*phone));
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].location, (Point{200, 400}));
    EXPECT_EQ(events[1].location, (Point{300, 250}));

    panelStreamer->mirror(Rect{200, 100, 0, 300});
    phone->write(R"({"pointAtPanel":{"x":0.5,"y":0.5}})"
                 "\n");
    ASSERT_TRUE(settle(*phone));
    EXPECT_EQ(desktop->events().size(), 2u);
}

TEST_F(HostServer, TheMoveRateIsLoggedAtMostOnceASecond) {
    showOneDisplay(*desktop);
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-1");
    std::string moves;
    for (int i = 0; i < 49; ++i) moves += moveRight;
    phone->write(moves);
    ASSERT_TRUE(settle(*phone));
    clock->advance(2s);
    phone->write(moveRight);
    ASSERT_TRUE(settle(*phone));
    EXPECT_TRUE(log->contains("pointer: 25 moves/s, accessibility=false"));

    // The next window counts from the report.
    clock->advance(1s);
    phone->write(moveRight);
    ASSERT_TRUE(settle(*phone));
    EXPECT_TRUE(log->contains("pointer: 1 moves/s, accessibility=false"));
}

}  // namespace quib::testing
