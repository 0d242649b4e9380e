#include "QuibHost/Streaming/WindowCapture.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Streaming/WindowCaptureFixture.hpp"

namespace quib::streamingtests {
namespace {

using Capture = quib::WindowCapture;
using Listed = WindowSource::Window;
using State = WindowCaptureFixture::State;

class WindowCapture : public WindowCaptureFixture {};

Listed listed(std::uint32_t number, const char* app, Rect frame, bool active = false, bool onScreen = true) {
    return {number, "", WindowSource::Owner{app, app, 1}, 0, frame, onScreen, active};
}

TEST_F(WindowCapture, SizesAndCropsThePictureForTheViewers) {
    // The whole window: the zero source rectangle, scaled into the viewers' box turned to match.
    start(editorID);
    auto stream = lastStream();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->window(), 1u);
    EXPECT_EQ(stream->configuration(), Capture::configuration({2526, 1768}, Rect{}));
    EXPECT_EQ(logCount("view: capturing notes at 2526x1768"), 1u);
    auto picture = deliver(stream);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].picture, picture.get());  // handed on, not copied
    EXPECT_EQ(frames()[0].crop, Capture::wholeWindow);

    // A small viewer, then crops: the running stream is reconfigured in place.
    const std::vector<std::pair<Rect, Rect>> crops{
        {{0.5, 0.5, 0.001, 0.001}, {500, 350, 32, 32}},    // at least 32 × 32 points
        {{0.9, 0.95, 0.2, 0.2}, {800, 560, 200, 140}},     // moved back inside the window
        {{0.1004, 0.2, 0.5, 0.5}, {100, 140, 500, 350}}};  // whole points
    start(editorID, std::nullopt, Capture::wholeWindow, 100, 100);
    EXPECT_EQ(stream->configuration().width, 150);
    EXPECT_EQ(stream->configuration().height, 106);
    for (const auto& [crop, source] : crops) {
        start(editorID, std::nullopt, crop, 100, 100);
        EXPECT_EQ(stream->configuration().sourceRect, source);
        picture = deliver(stream);
        EXPECT_EQ(frames().back().crop, Capture::normalise(source, {100, 200, 1000, 700}));
    }
    EXPECT_EQ(frames().back().crop, (Rect{0.1, 0.2, 0.5, 0.5}));
    EXPECT_EQ(desktop->windowStreams().size(), 1u);
    EXPECT_EQ(stream->updates(), 4u);

    // Without a main display the scale is taken as 2; sides stay even.
    EXPECT_EQ(Capture::outputSize({0, 0, 1000, 700}, {}, std::nullopt, 1179, 2556, 2560),
              (Capture::OutputSize{2526, 1768}));
    EXPECT_EQ(Capture::outputSize({0, 0, 1001, 701}, {}, 1.0, 100, 100, 2560), (Capture::OutputSize{150, 106}));
}

// Where a point is one pixel, a picture is never enlarged past the window's own pixels: the
// phone scales it up as it does any smaller one. Made smaller it is as at any scale.
TEST_F(WindowCapture, NeverEnlargesPastTheWindowsOwnPixelsWhereAPointIsOnePixel) {
    desktop->setBackingScale(1.0);
    const std::vector<std::tuple<Rect, std::int64_t, std::int64_t, std::int64_t>> rows{
        {Capture::wholeWindow, 1179, 2556, 1000},  // would be 2.5 times: 2500 × 1750
        {Capture::wholeWindow, 4000, 4000, 1000},
        {{0, 0, 0.5, 0.5}, 1179, 2556, 500},  // a crop of 500 × 350 points
        {Capture::wholeWindow, 100, 100, 150},
    };
    for (const auto& [crop, viewerWidth, viewerHeight, width] : rows) {
        start(editorID, std::nullopt, crop, viewerWidth, viewerHeight);
        ASSERT_TRUE(lastStream());
        EXPECT_EQ(lastStream()->configuration().width, width) << viewerWidth << " " << crop.width;
    }
    EXPECT_EQ(Capture::outputSize({0, 0, 1000, 700}, {}, 1.0, 1179, 2556, 2560), (Capture::OutputSize{1000, 700}));
    EXPECT_EQ(Capture::outputSize({0, 0, 1000, 700}, {}, 2.0, 1179, 2556, 2560), (Capture::OutputSize{2526, 1768}));
}

TEST_F(WindowCapture, ReadsTheLargestEncodedSideOnceAndAcceptsOnly640AndMore) {
    for (const auto& [stored, read] : std::vector<std::pair<double, double>>{{500, 2560}, {640, 640}, {4000, 4000}}) {
        (void)settings->setReal(Capture::maxEncodedSideKey, stored);
        EXPECT_EQ(Capture::readMaxEncodedSide(settings.get()), read);
    }
    (void)settings->setString(Capture::maxEncodedSideKey, "big");
    EXPECT_EQ(Capture::readMaxEncodedSide(settings.get()), 2560);
    EXPECT_EQ(Capture::readMaxEncodedSide(nullptr), 2560);

    // Asked once, at creation: a big viewer gets 4000 a side, never enlarged past 2.5 times.
    int reads = 0;
    make([&] { return ++reads, 4000.0; });
    start(editorID, std::nullopt, Capture::wholeWindow, 4000, 4000);
    EXPECT_EQ(lastStream()->configuration().width, 4000);
    EXPECT_EQ(lastStream()->configuration().height, 2800);
    start(editorID, std::nullopt, {0, 0, 0.01, 0.01}, 4000, 4000);
    EXPECT_EQ(lastStream()->configuration().width, 160);  // 32 points at scale 2, 2.5 times
    tick();
    EXPECT_EQ(reads, 1);
}

TEST_F(WindowCapture, ChoosesTheActiveThenTheShownThenTheLargerWindowOfTheApp) {
    const Rect big{0, 0, 800, 600};
    const std::vector<Listed> windows{
        listed(1, mailID, {0, 0, 120, 900}),     // not wider than 120 points
        listed(2, editorID, {0, 0, 2000, 120}),  // not higher
        listed(3, editorID, {0, 0, 121, 121}),
    };
    EXPECT_EQ(Capture::bestWindow(mailID, windows), std::nullopt);
    EXPECT_EQ(Capture::bestWindow(editorID, windows)->number, 3u);

    Listed palette = listed(4, editorID, {0, 0, 3000, 3000});
    palette.layer = 8;
    Listed orphan = listed(5, editorID, {0, 0, 3000, 3000});
    orphan.owner.reset();
    EXPECT_EQ(Capture::bestWindow(editorID, {palette, orphan, listed(6, editorID, {0, 0, 200, 0})}), std::nullopt);

    EXPECT_EQ(
        Capture::bestWindow(editorID, {listed(1, editorID, big), listed(2, editorID, {0, 0, 200, 200}, true)})->number,
        2u);
    EXPECT_EQ(
        Capture::bestWindow(editorID, {listed(1, editorID, big, false, false), listed(2, editorID, {0, 0, 200, 200})})
            ->number,
        2u);
    EXPECT_EQ(Capture::bestWindow(editorID, {listed(1, editorID, {0, 0, 200, 200}), listed(2, editorID, big)})->number,
              2u);
    EXPECT_EQ(Capture::bestWindow(editorID, {listed(1, editorID, {0, 0, 600, 800}), listed(2, editorID, big)})->number,
              1u);

    // On the desktop: the active editor window, though smaller and behind.
    openWindow(editorID, 2, "big", {0, 0, 1500, 900});
    openWindow(editorID, 3, "small", {0, 0, 400, 300}, true);
    start(editorID);
    EXPECT_EQ(lastStream()->window(), 3u);
}

// X hands window numbers out again: under the pinned number, another app's window or another
// process's is not the window picked.
TEST_F(WindowCapture, CapturesAPinnedWindowOfTheTargetsAppUntilItCloses) {
    openWindow(editorID, 7, "tiny", {0, 0, 60, 40});
    start(editorID, 7u);
    ASSERT_TRUE(lastStream());
    EXPECT_EQ(lastStream()->window(), 7u);

    desktop->closeWindow(7);
    for (int pass = 0; pass < 2; ++pass) tick();
    openWindow(mailID, 7, "mail's", {0, 0, 800, 600});
    tick();
    const State closed{"The window you picked has closed \u2014 pick another on your phone", false};
    EXPECT_EQ(states(), (std::vector<State>{closed, closed, closed}));
    EXPECT_TRUE(lastStream()->isStopped());
    EXPECT_EQ(desktop->windowStreams().size(), 1u);  // neither the editor's window nor mail's is taken instead
    EXPECT_FALSE(capture->windowFrame());

    // The editor quits and starts again, and its new window gets the number.
    forgetStates();
    desktop->closeWindow(7);
    openWindow(editorID, 7, "tiny", {0, 0, 60, 40});
    start(editorID, 7u);
    ASSERT_EQ(desktop->windowStreams().size(), 2u);
    desktop->quit(editorID);
    desktop->start(editorID);
    openWindow(editorID, 7, "another tiny", {0, 0, 60, 40});
    tick();
    EXPECT_EQ(states(), (std::vector<State>{closed}));
    EXPECT_TRUE(lastStream()->isStopped());
    EXPECT_EQ(desktop->windowStreams().size(), 2u);

    // A window with no area is never configured; it is told on every pass, and tried again.
    forgetStates();
    openWindow(editorID, 8, "flat", {0, 0, 300, 0});
    start(editorID, 8u);
    tick();
    const State sizeless{"Capture failed: the window has no size", false};
    EXPECT_EQ(states(), (std::vector<State>{sizeless, sizeless}));
    desktop->setWindowFrame(8, {0, 0, 300, 10});
    tick();
    EXPECT_EQ(lastStream()->window(), 8u);
}

TEST_F(WindowCapture, WithoutScreenRecordingAsksOnceAndDoesNothingElse) {
    desktop->setScreenRecordingGranted(false);
    start(editorID);
    start(std::nullopt);
    const State grant{"Give Quib an X display with Composite, DAMAGE and XFIXES, then restart it", false};
    EXPECT_EQ(states(), (std::vector<State>{grant, grant}));
    EXPECT_EQ(logCount("view: asking for window capture"), 1u);
    EXPECT_EQ(clock->pendingTimers(), 0u);  // no watchdog
    tick();
    EXPECT_EQ(desktop->windowReads(), 0u);  // no pass
}

TEST_F(WindowCapture, ALockedScreenHidesTheFrontmostAppButNoNamedOne) {
    desktop->setLocked(true);
    start(std::nullopt);
    tick();
    const State locked{"Your computer is locked", false};
    EXPECT_EQ(states(), (std::vector<State>{locked, locked}));
    EXPECT_TRUE(desktop->windowStreams().empty());

    forgetStates();
    start(editorID);
    EXPECT_TRUE(states().empty());
    EXPECT_EQ(lastStream()->window(), 1u);
}

TEST_F(WindowCapture, TellsOfAMissingWindowOnceWhenItGoes) {
    start(mailID);
    tick();
    const State none{"No window found for org.example.mail", false};
    EXPECT_EQ(states(), std::vector<State>{none});

    openWindow(mailID, 2, "inbox", {0, 0, 500, 400});
    tick();
    ASSERT_EQ(lastStream()->window(), 2u);
    desktop->closeWindow(2);
    tick();
    tick();
    EXPECT_EQ(states(), (std::vector<State>{none, none}));
    EXPECT_TRUE(lastStream()->isStopped());

    forgetStates();
    desktop->focus(std::nullopt);
    start(std::nullopt);
    EXPECT_EQ(states(), (std::vector<State>{{"Nothing focused to mirror", false}}));
}

TEST_F(WindowCapture, AMinimisedWindowCanBeOpenedAndIsToldOnEveryPass) {
    start(editorID);
    const auto stream = lastStream();
    desktop->setMinimised(1, true);
    tick();
    tick();
    const State minimised{"Editor is minimised", true};
    EXPECT_EQ(states(), (std::vector<State>{minimised, minimised}));
    EXPECT_TRUE(stream->isStopped());
    EXPECT_EQ(capture->windowFrame(), std::nullopt);

    forgetStates();
    const std::string nameless = "org.example.nameless";
    desktop->start(nameless);
    desktop->nameApp(nameless, "");
    openWindow(nameless, 9, "", {0, 0, 300, 300}, false, false);
    start(nameless, 9u);
    EXPECT_EQ(states(), (std::vector<State>{{"That window is minimised", true}}));

    desktop->setMinimised(1, false);
    start(editorID);
    EXPECT_EQ(lastStream()->window(), 1u);
    EXPECT_NE(lastStream(), stream);
}

TEST_F(WindowCapture, AFailedOrStoppedStreamIsOpenedAgainByTheNextPass) {
    desktop->setOpenFailure("The window server is busy");
    start(editorID);
    EXPECT_EQ(states(), (std::vector<State>{{"Capture failed: The window server is busy", false}}));
    EXPECT_TRUE(desktop->windowStreams().empty());
    desktop->setOpenFailure(std::nullopt);
    tick();
    const auto first = lastStream();
    ASSERT_TRUE(first);

    forgetStates();
    first->stopBySystem("The display went to sleep");
    ASSERT_TRUE(queue->sync([] {}));
    EXPECT_EQ(states(), (std::vector<State>{{"Capture stopped: The display went to sleep", false}}));
    EXPECT_EQ(logCount("view: stream stopped The display went to sleep"), 1u);
    EXPECT_EQ(log->records().back().level, LogLevel::error);
    deliver(first);
    EXPECT_TRUE(frames().empty());  // it is no longer the stream
    tick();
    EXPECT_EQ(desktop->windowStreams().size(), 2u);
    EXPECT_EQ(lastStream()->window(), 1u);

    // A stop reported by a stream the host replaced or stopped changes nothing.
    forgetStates();
    first->stopBySystem("Late");
    capture->stop();
    lastStream()->stopBySystem("Too late");
    settle();
    EXPECT_TRUE(states().empty());
}

// A window destroyed under a running stream is no failure: its number may name a new window at
// once, which gets a stream of its own, a new generation and no state.
TEST_F(WindowCapture, AStreamWhoseWindowWentIsOpenedAnewOnWhatNowResolves) {
    start(editorID);
    const auto first = lastStream();
    ASSERT_TRUE(first);
    const auto generation = capture->currentGeneration();
    desktop->closeWindow(1);
    openWindow(editorID, 1, "notes again", {100, 200, 1000, 700});
    first->windowGone();
    settle();
    EXPECT_TRUE(first->isStopped());
    ASSERT_EQ(desktop->windowStreams().size(), 2u) << "opened again without waiting for the watchdog";
    EXPECT_EQ(lastStream()->window(), 1u);
    EXPECT_NE(capture->currentGeneration(), generation);
    EXPECT_TRUE(states().empty());

    // A gone reported by a stream the host replaced changes nothing.
    first->windowGone();
    settle();
    EXPECT_EQ(desktop->windowStreams().size(), 2u);
    EXPECT_FALSE(lastStream()->isStopped());
}

TEST_F(WindowCapture, AWatchdogTickWhileAPassRunsIsSkippedNotQueued) {
    make();
    desktop->holdWindowReads();
    capture->start(editorID, std::nullopt, 1179, 2556, Capture::wholeWindow);
    ASSERT_TRUE(desktop->waitForHeldWindowRead(10s));
    clock->advance(Capture::watchdogPeriod);
    ASSERT_TRUE(queue->sync([] {}));  // the tick found the pass running
    desktop->releaseWindowReads();
    settle();
    EXPECT_EQ(desktop->windowReads(), 1u);
    EXPECT_EQ(desktop->windowStreams().size(), 1u);
    tick();
    EXPECT_EQ(desktop->windowReads(), 2u);
}

// A pass that was under way when the owner stopped the capture opens nothing and tells nothing.
TEST_F(WindowCapture, AStopWhileAPassRunsLeavesNothingRunning) {
    make();
    desktop->holdWindowReads();
    capture->start(mailID, std::nullopt, 1179, 2556, Capture::wholeWindow);
    ASSERT_TRUE(desktop->waitForHeldWindowRead(10s));
    capture->stop();
    openWindow(mailID, 2, "inbox", {0, 0, 600, 400});
    desktop->releaseWindowReads();
    settle();
    EXPECT_TRUE(desktop->windowStreams().empty());
    EXPECT_TRUE(states().empty());
}

TEST_F(WindowCapture, FollowsTheWindowAndTheFrontmostApp) {
    start(std::nullopt);
    const auto editor = lastStream();
    const std::int64_t generation = capture->currentGeneration();
    EXPECT_EQ(capture->windowFrame(), (Rect{100, 200, 1000, 700}));

    desktop->setWindowFrame(1, {0, 0, 500, 350});
    tick();
    EXPECT_EQ(editor->configuration().width, 2500);
    EXPECT_EQ(lastStream(), editor);
    EXPECT_EQ(capture->currentGeneration(), generation);
    EXPECT_EQ(capture->windowFrame(), (Rect{0, 0, 500, 350}));
    tick();
    EXPECT_EQ(editor->updates(), 1u);  // nothing changed since

    openWindow(mailID, 2, "inbox", {0, 0, 600, 400});
    desktop->focus(mailID);
    tick();
    EXPECT_EQ(lastStream()->window(), 2u);
    EXPECT_TRUE(editor->isStopped());
    EXPECT_NE(capture->currentGeneration(), generation);
}

TEST_F(WindowCapture, ARefusedReconfigurationKeepsTheOldCropUntilOneIsTaken) {
    start(editorID);
    const auto stream = lastStream();
    desktop->setUpdateFailure("Not now");
    start(editorID, std::nullopt, {0, 0, 0.5, 0.5});
    deliver(stream);
    EXPECT_EQ(frames().back().crop, Capture::wholeWindow);
    EXPECT_EQ(stream->configuration().sourceRect, Rect{});
    EXPECT_EQ(logCount("Not now"), 1u);

    desktop->setUpdateFailure(std::nullopt);
    tick();
    deliver(stream);
    EXPECT_EQ(stream->configuration().sourceRect, (Rect{0, 0, 500, 350}));
    EXPECT_EQ(frames().back().crop, (Rect{0, 0, 0.5, 0.5}));
}

TEST_F(WindowCapture, DeliversNewPicturesTheFirstOfAStreamAndOnesAskedFor) {
    start(editorID);
    const auto stream = lastStream();
    const std::int64_t generation = capture->currentGeneration();
    deliver(stream, Status::idle);  // the first of the stream
    deliver(stream, Status::idle);  // nothing new
    deliver(stream, Status::blank);
    deliver(stream, Status::complete);  // new content
    capture->requestFrame();
    EXPECT_EQ(stream->frameRequests(), 1u);
    deliver(stream, Status::idle, false);  // no picture to give: the request waits
    deliver(stream, Status::idle);
    deliver(stream, Status::idle);
    ASSERT_EQ(frames().size(), 3u);
    for (const auto& frame : frames()) EXPECT_EQ(frame.generation, generation);

    // Nothing comes from a replaced stream, nor from any once the capture stops.
    openWindow(editorID, 2, "bigger", {0, 0, 1200, 900}, true);
    tick();
    ASSERT_NE(lastStream(), stream);
    deliver(stream);
    EXPECT_EQ(frames().size(), 3u);
    deliver(lastStream(), Status::started);
    EXPECT_NE(frames().back().generation, generation);
    capture->stop();
    deliver(lastStream());
    EXPECT_EQ(frames().size(), 4u);
    EXPECT_TRUE(lastStream()->isStopped());
    tick();
    EXPECT_EQ(desktop->windowStreams().size(), 2u);  // the watchdog stopped with it
}

TEST_F(WindowCapture, PlacesThePointerOnTheWholeWindow) {
    make();
    EXPECT_EQ(capture->pointerInWindow(), std::nullopt);
    start(editorID, std::nullopt, {0.5, 0.5, 0.5, 0.5});
    desktop->setPointer({600, 550});
    EXPECT_EQ(capture->pointerInWindow(), (UnitSpot{0.5, 0.5}));
    desktop->setPointer({1100, 900});
    EXPECT_EQ(capture->pointerInWindow(), (UnitSpot{1, 1}));
    desktop->setPointer({99, 550});
    EXPECT_EQ(capture->pointerInWindow(), std::nullopt);
    EXPECT_EQ(capture->cornerFraction(), 16.8 / 500) << "a fraction of the picture, which shows half the width";
    desktop->setWindowCornerRadius(std::nullopt);
    tick();
    EXPECT_EQ(capture->cornerFraction(), std::nullopt) << "square corners";
    (void)settings->setReal(WindowCorner::radiusKey, 10);
    tick();
    EXPECT_EQ(capture->cornerFraction(), 10.0 / 500);
}

TEST_F(WindowCapture, ReportsFrameRatesOnceASecondWhileTimingSamplesAreOn) {
    start(editorID);
    const auto stream = lastStream();
    instrumentation.setEnabled(true);
    clock->advance(1s);  // since the capture was made
    for (const std::int64_t status : {Status::idle, Status::complete, std::int64_t{7}, Status::unknown})
        deliver(stream, status, false);
    clock->advance(500ms);
    deliver(stream, Status::complete, false);
    clock->advance(500ms);
    deliver(stream, Status::complete, false);
    ASSERT_EQ(logCount("capture: "), 2u);
    EXPECT_TRUE(log->contains("capture: 1/s delivered, 0/s changed, status idle=1"));
    EXPECT_TRUE(log->contains("capture: 5/s delivered, 3/s changed, status status-1=1 complete=3 status7=1"));

    // Off, nothing is written and the counts go on: the next line covers the whole time.
    instrumentation.setEnabled(false);
    for (int i = 0; i < 6; ++i) {
        clock->advance(500ms);
        deliver(stream, Status::idle, false);
    }
    EXPECT_EQ(logCount("capture: "), 2u);
    instrumentation.setEnabled(true);
    deliver(stream, Status::complete, false);
    EXPECT_TRUE(log->contains("capture: 2/s delivered, 0/s changed, status complete=1 idle=6"));
}

// A capture made without a desktop service it follows stops at once, naming it.
TEST(WindowCaptureDeathTest, StopsWhenTheDesktopLacksAServiceItFollows) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Capture::create({}), "WindowCapture was made without its window source");
    EXPECT_DEATH(
        {
            auto desktop = HeadlessDesktop::services();
            desktop.pointer = nullptr;
            Capture::create({.desktop = desktop});
        },
        "WindowCapture was made without its pointer location");
    EXPECT_DEATH(Capture::create({.desktop = HeadlessDesktop::services()}),
                 "WindowCapture was made without its screen access");
}

}  // namespace
}  // namespace quib::streamingtests
