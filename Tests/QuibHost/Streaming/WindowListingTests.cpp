#include "QuibHost/Streaming/WindowListing.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/Eventually.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using Window = SimulatedDesktop::Window;

// Its "JPEG" is the picture's width and height, two bytes each.
class SizeJpeg final : public JpegEncoder {
public:
    std::optional<Bytes> encode(const RgbPicture& picture, int quality) override {
        if (quality != 50) return std::nullopt;
        return Bytes{static_cast<std::uint8_t>(picture.width >> 8), static_cast<std::uint8_t>(picture.width),
                     static_cast<std::uint8_t>(picture.height >> 8), static_cast<std::uint8_t>(picture.height)};
    }
    static std::pair<int, int> sizeOf(const Bytes& jpeg) { return {jpeg[0] << 8 | jpeg[1], jpeg[2] << 8 | jpeg[3]}; }
};

class WindowListingTest : public ::testing::Test {
protected:
    WindowListingTest() {
        desktop->start(app);
        desktop->setTrusted(true);
        desktop->setScreenRecordingGranted(true);
    }
    WindowListService::WindowList list(std::optional<std::uint32_t> pinned = std::nullopt) {
        return listing.windows(app, pinned, true);
    }
    void open(std::uint32_t id, double width, double height, std::string title = {}) {
        desktop->openWindow(app, {.id = id, .title = std::move(title), .frame = {10, 10, width, height}});
    }
    static std::vector<std::uint32_t> ids(const WindowListService::WindowList& list) {
        std::vector<std::uint32_t> listed;
        for (const auto& window : list.windows) listed.push_back(window.id);
        return listed;
    }

    const std::string app = "org.example.Editor";
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    WindowListing listing{
        {.desktop = desktop->services(), .permissions = desktop, .jpeg = std::make_shared<SizeJpeg>(), .clock = clock}};
};

TEST_F(WindowListingTest, NotesFollowTheAppAndEachPermission) {
    EXPECT_EQ(listing.windows("org.example.Absent", std::nullopt, true).note, WindowListing::notRunningNote);
    EXPECT_EQ(list().note, WindowListing::noWindowsNote);
    open(1, 800, 600, "one");

    desktop->setTrusted(false);
    desktop->setScreenRecordingGranted(false);
    auto listed = list();
    EXPECT_TRUE(listed.windows.empty());
    EXPECT_EQ(listed.note, WindowListing::accessibilityNote);
    EXPECT_EQ(listing.windows("org.example.Absent", std::nullopt, true).note, WindowListing::notRunningNote);

    desktop->setTrusted(true);  // accessibility only: cards without size or picture
    listed = list();
    ASSERT_EQ(ids(listed), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(listed.windows[0].width, 0);
    EXPECT_EQ(listed.windows[0].height, 0);
    EXPECT_TRUE(listed.windows[0].isOnScreen);
    EXPECT_FALSE(listed.windows[0].preview);
    EXPECT_EQ(listed.note, WindowListing::screenRecordingNote);

    desktop->setTrusted(false);  // screen recording only: on-screen large windows, none raisable
    desktop->setScreenRecordingGranted(true);
    open(2, 121, 121);
    open(3, 120, 500);
    open(4, 500, 500);
    desktop->setMinimised(4, true);
    listed = list();
    EXPECT_EQ(ids(listed), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_TRUE(std::ranges::none_of(listed.windows, &MacWindow::canRaise));
    EXPECT_EQ(listed.note, WindowListing::cannotRaiseNote);

    // Both: the minimised window is listed, dimmed, without a picture, and its note wins.
    desktop->setTrusted(true);
    desktop->openUnownedWindow({.id = 9, .title = {}, .frame = {0, 0, 500, 500}});
    listed = list(2);
    EXPECT_EQ(ids(listed), (std::vector<std::uint32_t>{1, 2, 4}));
    const auto& minimised = listed.windows[2];
    EXPECT_TRUE(minimised.isMinimized);
    EXPECT_FALSE(minimised.isOnScreen);
    EXPECT_FALSE(minimised.isFrontmost);
    EXPECT_FALSE(minimised.preview);
    EXPECT_EQ(minimised.width, 500);
    EXPECT_TRUE(listed.windows[1].isPinned);
    EXPECT_EQ(listed.windows[0].appName, app);
    EXPECT_EQ(listed.note, WindowListing::minimisedNote);
}

TEST_F(WindowListingTest, JoinsBothSidesOnceEachAndSortsStably) {
    desktop->openWindow(app, {.id = 1, .title = {}, .frame = {0, 0, 300, 300}, .numbered = false});  // capture only
    desktop->openWindow(app, {.id = 2, .title = "first", .frame = {0, 0, 400, 300}});
    desktop->openWindow(app, {.id = 2, .title = "second", .frame = {0, 0, 400, 300}});
    desktop->openWindow(app, {.id = 3, .title = "unsized", .frame = {0, 0, 200, 200}, .sized = false});
    desktop->setScreenRecordingGranted(false);
    auto listed = list();
    // Without capture: the unnumbered window is unknown, the repeated number listed once, the
    // unsized window 0 × 0.
    ASSERT_EQ(ids(listed), (std::vector<std::uint32_t>{3, 2}));
    EXPECT_EQ(listed.windows[1].title, "first");  // the first of the two listed wins

    desktop->setScreenRecordingGranted(true);
    listed = list();
    ASSERT_EQ(ids(listed), (std::vector<std::uint32_t>{2, 1, 3}));
    EXPECT_TRUE(listed.windows[0].canRaise);
    EXPECT_EQ(listed.windows[0].width, 400);  // the capture frame
    EXPECT_FALSE(listed.windows[1].canRaise);

    // A frontmost window sorts before a larger one; equal ones keep their order.
    ASSERT_TRUE(desktop->raise(3, app, "Editor", false).raised);
    listed = list();
    EXPECT_EQ(ids(listed), (std::vector<std::uint32_t>{3, 2, 1}));
    EXPECT_TRUE(listed.windows[0].isFrontmost);
    EXPECT_EQ(std::ranges::count_if(listed.windows, &MacWindow::isFrontmost), 1);
}

TEST_F(WindowListingTest, KeepsTwelveAndJudgesTheNoteOnThem) {
    for (std::uint32_t id = 1; id <= 12; ++id) open(id, 400 + id, 400);
    desktop->openWindow(
        app, {.id = 13, .title = {}, .frame = {0, 0, 200, 200}, .numbered = false});  // capture only, smallest
    const auto listed = list();
    ASSERT_EQ(listed.windows.size(), 12u);
    EXPECT_EQ(listed.windows.front().id, 12u);
    EXPECT_TRUE(std::ranges::all_of(listed.windows, &MacWindow::canRaise));
    EXPECT_EQ(listed.note, std::nullopt);
}

TEST_F(WindowListingTest, PreviewsFitThreeHundredTwentyPointsAndMissOnlyWhenLate) {
    EXPECT_EQ(WindowListing::previewSize(3000, 200), (WindowListing::PreviewSize{320, 21}));
    EXPECT_EQ(WindowListing::previewSize(200, 150), (WindowListing::PreviewSize{200, 150}));
    EXPECT_EQ(WindowListing::previewSize(5000, 1), (WindowListing::PreviewSize{320, 8}));
    open(1, 3000, 200);
    open(2, 200, 150);
    open(3, 130, 130);
    // One thread takes the pictures largest window first; the last one's takes past the limit.
    WindowListing oneByOne{{.desktop = desktop->services(),
                            .permissions = desktop,
                            .jpeg = std::make_shared<SizeJpeg>(),
                            .clock = clock,
                            .previewThreads = 1}};
    desktop->setPictureGate([&](std::uint32_t window) {
        if (window == 3) clock->advance(2500ms);
    });
    std::map<std::uint32_t, std::optional<Bytes>> previews;
    for (const auto& window : oneByOne.windows(app, std::nullopt, true).windows) previews[window.id] = window.preview;
    ASSERT_TRUE(previews[1] && previews[2]);
    EXPECT_EQ(SizeJpeg::sizeOf(*previews[1]), (std::pair{320, 21}));
    EXPECT_EQ(SizeJpeg::sizeOf(*previews[2]), (std::pair{200, 150}));
    EXPECT_FALSE(previews[3]);
    EXPECT_EQ(desktop->picturesTaken(), 3u);
}

// All limits start with the listing: twelve stuck pictures on four threads cost one limit.
TEST_F(WindowListingTest, TwelveStuckPicturesEndTheListingAtTheLimit) {
    for (std::uint32_t id = 1; id <= 12; ++id) open(id, 400, 400);
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::atomic<int> held{0};
    desktop->setPictureGate([&](std::uint32_t) {
        ++held;
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return release; });
    });
    const auto started = clock->now();
    auto listed = std::async(std::launch::async, [&] { return list(); });
    ASSERT_TRUE(testing::eventually([&] { return held.load() == 4; }));
    clock->advance(WindowListing::timeLimit);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    const auto windows = listed.get().windows;
    EXPECT_EQ(held.load(), 4);
    EXPECT_EQ(clock->now() - started, WindowListing::timeLimit);
    EXPECT_TRUE(std::ranges::none_of(windows, [](const MacWindow& w) { return w.preview.has_value(); }));
}

TEST_F(WindowListingTest, TheFrontWindowFrameIsTheMainThenTheLargestThenTheFirst) {
    desktop->openWindow(app, {.id = 1, .title = {}, .frame = {0, 0, 300, 300}, .sized = false});
    desktop->openWindow(app, {.id = 2, .title = {}, .frame = {5, 5, 200, 200}, .sized = false});
    EXPECT_EQ(desktop->frontWindowFrame(app), (Rect{0, 0, 300, 300}));  // no size known: the first
    desktop->openWindow(app, {.id = 3, .title = {}, .frame = {7, 7, 250, 250}});
    EXPECT_EQ(desktop->frontWindowFrame(app), (Rect{7, 7, 250, 250}));  // the largest known
    ASSERT_TRUE(desktop->raise(2, app, "Editor", false).raised);
    EXPECT_EQ(desktop->frontWindowFrame(app), (Rect{5, 5, 200, 200}));  // the main one
}

}  // namespace
}  // namespace quib
