#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {
namespace {

PasteboardItem textItem(std::string_view text) { return PasteboardItem{}.set(PasteboardType::string, bytesOf(text)); }

TEST(SimulatedDesktop, MouseEventsMoveThePointerAndPressButtons) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    desktop->setPointer({10.5, 20.25});
    EXPECT_EQ(desktop->pointerLocation(), (Point{10.5, 20.25}));

    auto down = InputEvent::mouse(EventType::rightMouseDown, {30.75, 40}, EventButton::right);
    down.setField(EventField::mouseClickState, 2);
    desktop->post(down);
    desktop->post(InputEvent::mouse(EventType::otherMouseDown, {31, 41}, EventButton::middle));
    EXPECT_EQ(desktop->pointerLocation(), (Point{31, 41}));
    EXPECT_EQ(desktop->pressedButtons(), (std::set<std::int64_t>{EventButton::right, EventButton::middle}));

    desktop->post(InputEvent::mouse(EventType::rightMouseUp, {32, 42}, EventButton::right));
    EXPECT_EQ(desktop->pressedButtons(), std::set<std::int64_t>{EventButton::middle});

    // Scrolls and keys leave the pointer where it is.
    desktop->post(InputEvent::pixelScroll(-3, 4));
    desktop->post(InputEvent::key(0, true, 0));
    EXPECT_EQ(desktop->pointerLocation(), (Point{32, 42}));

    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0], down);
    EXPECT_EQ(events[0].field(EventField::mouseClickState), 2);
    EXPECT_EQ(events[3].wheels, (std::array<std::int32_t, 3>{-3, 4, 0}));
    desktop->clearEvents();
    EXPECT_TRUE(desktop->events().empty());
}

TEST(SimulatedDesktop, CommandVMakesTheFocusedAppReadThePasteboard) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    desktop->start("org.example.editor");
    desktop->start("org.example.terminal");
    desktop->write({textItem("first")});

    // Nothing has focus: the press lands nowhere.
    desktop->post(InputEvent::key(SimulatedDesktop::pasteKeyCode, true, EventFlags::command));
    EXPECT_TRUE(desktop->app("org.example.editor")->keys.empty());

    desktop->focus("org.example.editor");
    desktop->post(InputEvent::key(SimulatedDesktop::pasteKeyCode, true, EventFlags::command));
    desktop->post(InputEvent::key(SimulatedDesktop::pasteKeyCode, false, EventFlags::command));
    desktop->write({textItem("second")});
    // Command-Shift-V and a plain V are key presses, not pastes.
    desktop->post(InputEvent::key(SimulatedDesktop::pasteKeyCode, true, EventFlags::command | EventFlags::shift));
    desktop->post(InputEvent::key(SimulatedDesktop::pasteKeyCode, true, 0));

    const auto editor = desktop->app("org.example.editor");
    ASSERT_TRUE(editor);
    ASSERT_EQ(editor->pastes.size(), 1u);
    EXPECT_EQ(editor->pastes[0], std::vector<PasteboardItem>{textItem("first")});
    EXPECT_EQ(editor->keys, (std::vector<SimulatedDesktop::KeyPress>{
                                {9, EventFlags::command}, {9, EventFlags::command | EventFlags::shift}, {9, 0}}));
    EXPECT_TRUE(desktop->app("org.example.terminal")->pastes.empty());

    // Only a running app can take focus.
    desktop->focus("org.example.missing");
    EXPECT_EQ(desktop->focusedApp(), "org.example.editor");
    EXPECT_FALSE(desktop->app("org.example.missing"));
}

TEST(SimulatedDesktop, PasteboardCountsEachChangeOnceAndHandsOutCopies) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    const std::int64_t start = desktop->changeCount();
    desktop->write({textItem("a"), PasteboardItem{}.set(PasteboardType::png, {1, 2, 3})});
    EXPECT_EQ(desktop->changeCount(), start + 1);

    auto items = desktop->items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(*items[1].data(PasteboardType::png), (Bytes{1, 2, 3}));
    EXPECT_EQ(items[1].data(PasteboardType::string), nullptr);
    items[0].set(PasteboardType::string, bytesOf("changed"));
    EXPECT_EQ(textOf(*desktop->items()[0].data(PasteboardType::string)), "a");

    desktop->clear();
    EXPECT_EQ(desktop->changeCount(), start + 2);
    EXPECT_TRUE(desktop->items().empty());
}

TEST(SimulatedDesktop, DisplayChangesReachSubscribersUntilTheyLetGo) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    EXPECT_EQ(desktop->activeDisplayBounds(), std::vector<Rect>{});
    int changes = 0;
    auto watch = desktop->onChange([&] { ++changes; });
    desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}, {1440, 0, 1920, 1080}});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(desktop->activeDisplayBounds()->size(), 2u);
    desktop->setDisplays(std::nullopt);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(desktop->activeDisplayBounds(), std::nullopt);
    EXPECT_EQ(desktop->displayQueries(), 3u);

    watch.reset();
    desktop->setDisplays(std::vector<Rect>{{0, 0, 800, 600}});
    EXPECT_EQ(changes, 2);
}

TEST(SimulatedDesktop, TrustAndTheProbeAreSwitches) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    EXPECT_FALSE(desktop->accessibilityTrusted());
    EXPECT_FALSE(desktop->screenRecordingGranted());
    EXPECT_EQ(desktop->focusedElementError(), AccessibilityProbe::success);
    desktop->setTrusted(true);
    desktop->setScreenRecordingGranted(true);
    desktop->setFocusedElementError(AccessibilityProbe::apiDisabled);
    EXPECT_TRUE(desktop->accessibilityTrusted());
    EXPECT_TRUE(desktop->screenRecordingGranted());
    EXPECT_EQ(desktop->focusedElementError(), -25211);

    const DesktopServices services = desktop->services();
    EXPECT_EQ(services.events.get(), static_cast<EventPoster*>(desktop.get()));
    EXPECT_EQ(services.pasteboard.get(), static_cast<Pasteboard*>(desktop.get()));
}

TEST(SimulatedDesktop, LaunchesCompleteInTheBackgroundAfterTheirDelay) {
    auto clock = std::make_shared<FakeClock>();
    auto desktop = std::make_shared<SimulatedDesktop>(clock);
    Workspace& workspace = *desktop;
    EXPECT_FALSE(workspace.launch("org.example.editor"));
    desktop->install("org.example.editor");
    desktop->setLaunchDelay(std::chrono::seconds(2));
    ASSERT_TRUE(workspace.launch("org.example.editor"));
    EXPECT_EQ(desktop->launchRequests(), 1u);

    clock->advance(std::chrono::milliseconds(1999));
    EXPECT_TRUE(workspace.runningInstances("org.example.editor").empty());
    clock->advance(std::chrono::milliseconds(1));
    const auto running = workspace.runningInstances("org.example.editor");
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(workspace.frontmostApp(), std::nullopt);  // up, but not in front

    desktop->setActivationRefused(true);
    EXPECT_FALSE(workspace.activate(running[0]));
    desktop->setActivationRefused(false);
    EXPECT_FALSE(workspace.activate({"org.example.editor", running[0].processID + 1}));
    EXPECT_TRUE(workspace.activate(running[0]));
    EXPECT_EQ(workspace.frontmostApp(), running[0]);

    desktop->install("org.example.stuck");
    desktop->setLaunchDelay(std::nullopt);
    ASSERT_TRUE(workspace.launch("org.example.stuck"));
    clock->advance(std::chrono::hours(1));
    EXPECT_TRUE(workspace.runningInstances("org.example.stuck").empty());
}

// Every running app once, in the order it started, launched or started by hand; a program
// whose windows belong to no installed app has no bundle identifier.
TEST(SimulatedDesktop, ListsRunningAppsInOrderEachOnce) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    Workspace& workspace = *desktop;
    EXPECT_TRUE(workspace.runningApps().empty());
    desktop->start("org.example.editor");
    const auto unlisted = desktop->startUnlisted();
    desktop->install("org.example.mail");
    ASSERT_TRUE(workspace.launch("org.example.mail"));
    desktop->start("org.example.editor");

    const auto editor = workspace.runningInstances("org.example.editor").at(0).processID;
    const auto mail = workspace.runningInstances("org.example.mail").at(0).processID;
    EXPECT_EQ(workspace.runningApps(),
              (std::vector<Workspace::ListedApp>{
                  {"org.example.editor", editor}, {std::nullopt, unlisted}, {"org.example.mail", mail}}));
    EXPECT_EQ(std::set({editor, unlisted, mail}).size(), 3u);
}

TEST(SimulatedDesktop, RaisesWindowsAsTheRealRosterWould) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    WindowRoster& roster = *desktop;
    desktop->start("org.example.editor");
    desktop->openWindow("org.example.editor", {7, "notes.txt", {10, 20, 300, 200}, false});
    desktop->openWindow("org.example.editor", {8, "", {50, 60, 400, 300}, true});
    EXPECT_EQ(roster.raise(7, "org.example.editor", "Editor", true).text,
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");

    desktop->setTrusted(true);
    EXPECT_EQ(roster.frontWindowFrame("org.example.editor"), (Rect{10, 20, 300, 200}));
    EXPECT_EQ(roster.raise(7, "org.example.mail", "Mail", true), WindowRoster::Raise::refused("Mail isn't running"));
    EXPECT_EQ(roster.raise(9, "org.example.editor", "Editor", true).text,
              "The window you picked has closed \u2014 pick another");
    EXPECT_EQ(roster.raise(8, "org.example.editor", "Editor", true).text,
              "That window is minimised \u2014 open it on your computer, or pick another");

    EXPECT_EQ(roster.open(8, "org.example.editor", "Editor"), WindowRoster::Raise::raisedWindow(""));
    EXPECT_EQ(desktop->focusedApp(), "org.example.editor");
    EXPECT_EQ(roster.frontWindowFrame("org.example.editor"), (Rect{50, 60, 400, 300}));
    EXPECT_EQ(roster.raise(7, "org.example.editor", "Editor", true),
              WindowRoster::Raise::raisedWindow("notes.txt", Rect{10, 20, 300, 200}));
    EXPECT_EQ(roster.raise(7, "org.example.editor", "Editor", false), WindowRoster::Raise::raisedWindow("notes.txt"));
}

// The main window wins even when another is larger; without one the largest does, the earlier
// of equals; a minimised window never does.
TEST(SimulatedDesktop, FrontWindowIsTheMainOneElseTheLargestShownOne) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    WindowRoster& roster = *desktop;
    desktop->start("org.example.editor");
    desktop->openWindow("org.example.editor", {1, "small", {0, 0, 200, 100}, false});
    desktop->openWindow("org.example.editor", {2, "wide", {10, 0, 400, 100}, false});
    desktop->openWindow("org.example.editor", {3, "tall", {20, 0, 100, 400}, false});
    desktop->openWindow("org.example.editor", {4, "huge", {30, 0, 900, 900}, true});
    EXPECT_EQ(roster.frontWindowFrame("org.example.editor"), std::nullopt);

    desktop->setTrusted(true);
    EXPECT_EQ(roster.frontWindowFrame("org.example.editor"), (Rect{10, 0, 400, 100}));
    ASSERT_TRUE(roster.raise(1, "org.example.editor", "Editor", false).raised);
    EXPECT_EQ(roster.frontWindowFrame("org.example.editor"), (Rect{0, 0, 200, 100}));
    EXPECT_EQ(roster.frontWindowFrame("org.example.mail"), std::nullopt);

    desktop->start("org.example.mail");
    desktop->openWindow("org.example.mail", {5, "inbox", {0, 0, 500, 500}, true});
    EXPECT_EQ(roster.frontWindowFrame("org.example.mail"), std::nullopt);
}

// What capture lists is the same desktop that raising and the workspace see.
TEST(SimulatedDesktop, CaptureListsTheWindowsFrontToBackUnderTheRecordingSwitch) {
    auto desktop = std::make_shared<SimulatedDesktop>();
    WindowSource& source = *desktop;
    desktop->start("org.example.editor");
    desktop->start("org.example.mail");
    desktop->nameApp("org.example.editor", "Editor");
    desktop->openWindow("org.example.editor", {1, "notes", {0, 0, 300, 200}});
    SimulatedDesktop::Window inbox{2, "inbox", {10, 10, 400, 300}};
    inbox.layer = 3;
    desktop->openWindow("org.example.mail", inbox);
    SimulatedDesktop::Window hidden{3, "", {0, 0, 50, 20}};
    hidden.onScreen = false;
    desktop->openUnownedWindow(hidden);
    EXPECT_EQ(source.shareableWindows(), std::nullopt);

    desktop->setScreenRecordingGranted(true);
    const std::int64_t editor = desktop->app("org.example.editor")->processID;
    using Listed = WindowSource::Window;
    const Listed notes{1,    "notes", WindowSource::Owner{"org.example.editor", "Editor", editor}, 0, {0, 0, 300, 200},
                       true, false};
    auto listed = source.shareableWindows();
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 3u);
    EXPECT_EQ((*listed)[0], (Listed{3, "", std::nullopt, 0, {0, 0, 50, 20}, false, false}));
    EXPECT_EQ((*listed)[1].owner->name, "org.example.mail");  // unnamed: its bundle identifier
    EXPECT_EQ((*listed)[1].layer, 3);
    EXPECT_EQ((*listed)[2], notes);

    // Raising brings a window to the front and makes it the active one; a minimised one is off
    // screen; a window can change hands, move and close.
    desktop->setTrusted(true);
    ASSERT_TRUE(desktop->raise(1, "org.example.editor", "Editor", false).raised);
    desktop->setMinimised(2, true);
    desktop->moveWindowToApp(3, "org.example.editor");
    desktop->setWindowFrame(1, {5, 6, 700, 500});
    listed = source.shareableWindows();
    ASSERT_EQ(listed->size(), 3u);
    EXPECT_EQ((*listed)[0].number, 1u);
    EXPECT_TRUE((*listed)[0].active);
    EXPECT_EQ((*listed)[0].frame, (Rect{5, 6, 700, 500}));
    EXPECT_EQ((*listed)[1].owner->bundleID, "org.example.editor");
    EXPECT_FALSE((*listed)[2].onScreen);
    desktop->closeWindow(1);
    desktop->moveWindowToApp(3, std::nullopt);
    listed = source.shareableWindows();
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ((*listed)[0].owner, std::nullopt);
    EXPECT_EQ(desktop->app("org.example.editor")->windows.size(), 0u);

    EXPECT_FALSE(source.screenLocked());
    EXPECT_EQ(source.backingScaleFactor(), 2.0);
    desktop->setLocked(true);
    desktop->setBackingScale(std::nullopt);
    EXPECT_TRUE(source.screenLocked());
    EXPECT_EQ(source.backingScaleFactor(), std::nullopt);

    // A held read waits inside the call until released, and then sees the desktop as it is.
    desktop->holdWindowReads();
    std::optional<std::vector<Listed>> late;
    std::thread reader([&] { late = source.shareableWindows(); });
    ASSERT_TRUE(desktop->waitForHeldWindowRead(std::chrono::seconds(10)));
    desktop->closeWindow(2);
    desktop->releaseWindowReads();
    reader.join();
    ASSERT_TRUE(late);
    EXPECT_EQ(late->size(), 1u);
    EXPECT_EQ(desktop->windowReads(), 5u);
}

TEST(SimulatedDesktop, StreamsHandOverWhatTheTestTakesOnTheirExecutor) {
    auto clock = std::make_shared<FakeClock>();
    auto desktop = std::make_shared<SimulatedDesktop>(clock);
    auto queue = std::make_shared<SerialQueue>("test.capture", clock);
    desktop->start("org.example.editor");
    desktop->openWindow("org.example.editor", {1, "", {0, 0, 300, 200}});
    std::vector<WindowStream::Sample> samples;
    std::vector<std::string> stops;
    std::vector<bool> updates;
    WindowStream::Handlers handlers{[&](WindowStream::Sample sample) { samples.push_back(std::move(sample)); },
                                    [&](std::string why) { stops.push_back(std::move(why)); }};
    WindowStream::Configuration configuration;
    configuration.width = 600;
    configuration.height = 400;
    configuration.queueDepth = 2;
    WindowStream::Configuration smaller = configuration;
    smaller.width = 100;
    smaller.height = 50;

    EXPECT_FALSE(desktop->openStream(1, configuration, queue, handlers));  // no screen recording
    desktop->setScreenRecordingGranted(true);
    desktop->setOpenFailure("The window server said no");
    const auto refused = desktop->openStream(1, configuration, queue, handlers);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, "The window server said no");
    desktop->setOpenFailure(std::nullopt);
    EXPECT_FALSE(desktop->openStream(9, configuration, queue, handlers));
    ASSERT_TRUE(desktop->openStream(1, configuration, queue, handlers));
    auto stream = desktop->windowStreams().at(0);

    // Pictures come sized as configured, at most the queue depth at once, never copied.
    auto first = stream->deliver(WindowStream::FrameStatus::started);
    clock->advance(std::chrono::milliseconds(16));
    auto second = stream->deliver();
    EXPECT_EQ(stream->deliver(), nullptr);
    EXPECT_EQ(stream->deliver(WindowStream::FrameStatus::idle, false), nullptr);
    desktop->setUpdateFailure("Not now");
    stream->update(smaller, [&](Result<void> done) { updates.push_back(done.ok()); });
    desktop->setUpdateFailure(std::nullopt);
    stream->update(smaller, [&](Result<void> done) { updates.push_back(done.ok()); });
    auto third = stream->deliver();
    stream->stopBySystem("The display went to sleep");
    ASSERT_TRUE(queue->sync([] {}));

    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0].picture, first);
    EXPECT_EQ(samples[0].status, WindowStream::FrameStatus::started);
    EXPECT_EQ(samples[0].picture->width(), 600);
    EXPECT_EQ(samples[1].presentationTime - samples[0].presentationTime, std::chrono::milliseconds(16));
    EXPECT_EQ(samples[2].picture, nullptr);
    EXPECT_EQ(samples[3].picture->width(), 100);
    EXPECT_EQ(updates, (std::vector<bool>{false, true}));
    EXPECT_EQ(stream->configuration().width, 100);
    EXPECT_EQ(stream->updates(), 1u);
    EXPECT_EQ(stops, std::vector<std::string>{"The display went to sleep"});

    stream->requestFrame();
    stream->stop();
    EXPECT_EQ(stream->frameRequests(), 1u);
    EXPECT_TRUE(stream->isStopped());
}

}  // namespace
}  // namespace quib
