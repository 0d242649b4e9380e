#include "QuibHost/Streaming/StillCapture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <limits>
#include <mutex>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib {
namespace {

using Still = StillCaptureService::Still;
using Refusal = StillCaptureService::Refusal;

// Keeps the pictures it is given; its PNG is the picture's size and first pixel.
class KeptPictures final : public PngEncoder {
public:
    std::optional<Bytes> encode(const RgbPicture& picture) override {
        std::lock_guard lock(mutex_);
        pictures.push_back(picture);
        if (fails) return std::nullopt;
        return Bytes{'P', 'N', 'G'};
    }
    bool fails = false;
    std::vector<RgbPicture> pictures;

private:
    std::mutex mutex_;
};

QuibTarget target(QuibTarget::Kind kind, std::string name, std::optional<std::string> bundleID = std::nullopt) {
    QuibTarget made;
    made.id = "T1";
    made.name = std::move(name);
    made.kind = kind;
    made.bundleID = std::move(bundleID);
    return made;
}

class StillCaptureTest : public ::testing::Test {
protected:
    StillCaptureTest() {
        desktop->setScreenRecordingGranted(true);
        desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
        desktop->start(editor);
        desktop->nameApp(editor, "Editor");
        desktop->openWindow(editor, {.id = 41, .title = "notes", .frame = {100, 100, 1000, 700}});
    }

    std::shared_ptr<StillCapture> capture(std::shared_ptr<Permissions> permissions = nullptr) {
        return std::make_shared<StillCapture>(
            StillCapture::Config{.desktop = desktop->services(),
                                 .screenAccess = std::make_shared<ScreenAccess>(permissions ? permissions : desktop),
                                 .png = png});
    }
    static std::string refusal(const StillCaptureService::Outcome& outcome) {
        const auto* refused = std::get_if<Refusal>(&outcome);
        return refused ? refused->message() : "a still";
    }
    static std::pair<std::int64_t, std::int64_t> size(const StillCaptureService::Outcome& outcome) {
        const auto* still = std::get_if<Still>(&outcome);
        return still ? std::pair{still->width, still->height} : std::pair<std::int64_t, std::int64_t>{0, 0};
    }

    const std::string editor = "org.example.Editor";
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::shared_ptr<KeptPictures> png = std::make_shared<KeptPictures>();
};

// A 1000 × 700-point window at two pixels a point.
TEST_F(StillCaptureTest, AnAppsBestWindowIsShrunkToTheLongEdgeButNeverEnlarged) {
    const auto app = target(QuibTarget::Kind::app, "My editor", editor);
    const std::vector<std::pair<std::int64_t, std::pair<std::int64_t, std::int64_t>>> cases{
        {1000, {1000, 700}}, {4000, {2000, 1400}}, {100, {320, 224}},
        {0, {320, 224}},     {-5, {320, 224}},     {std::numeric_limits<std::int64_t>::max(), {2000, 1400}}};
    for (const auto& [edge, expected] : cases) {
        const auto outcome = capture()->captureNow(app, edge);
        EXPECT_EQ(size(outcome), expected) << edge;
        ASSERT_TRUE(std::holds_alternative<Still>(outcome));
        EXPECT_EQ(std::get<Still>(outcome).title, "Editor");
        EXPECT_EQ(std::get<Still>(outcome).png, (Bytes{'P', 'N', 'G'}));
    }
    ASSERT_FALSE(png->pictures.empty());
    EXPECT_EQ(png->pictures.back().at(0, 0), SimulatedDesktop::windowColour(41));
}

TEST_F(StillCaptureTest, OutputSizeIsClampedForAnySizeOrScale) {
    EXPECT_EQ(StillCapture::outputSize(1000, 700, std::nullopt, 1000), (StillCapture::PixelSize{1000, 700}));
    EXPECT_EQ(StillCapture::outputSize(1440, 900, 1.0, 1000), (StillCapture::PixelSize{1000, 625}));
    EXPECT_EQ(StillCapture::outputSize(0, 0, 1.0, std::numeric_limits<std::int64_t>::min()),
              (StillCapture::PixelSize{1, 1}));
    EXPECT_EQ(StillCapture::outputSize(1, 100000, 1.0, 320), (StillCapture::PixelSize{1, 320}));
}

TEST_F(StillCaptureTest, TheHostFrontmostOrATmuxTargetPhotographsTheDisplayUnderThePointer) {
    desktop->install("quib-host");
    desktop->start("quib-host");
    desktop->focus("quib-host");
    const auto frontmost = target(QuibTarget::Kind::frontmost, "Frontmost");
    auto outcome = capture()->captureNow(frontmost, 4000);
    ASSERT_TRUE(std::holds_alternative<Still>(outcome));
    EXPECT_EQ(std::get<Still>(outcome).title, "Screen");
    EXPECT_EQ(size(outcome), (std::pair<std::int64_t, std::int64_t>{2880, 1800}));
    EXPECT_EQ(png->pictures.back().at(0, 0), SimulatedDesktop::displayColour);

    desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}, {1440, 0, 1000, 800}});
    desktop->setPointer({1500, 10});
    outcome = capture()->captureNow(target(QuibTarget::Kind::tmux, "Work"), 1000);
    ASSERT_TRUE(std::holds_alternative<Still>(outcome));
    EXPECT_EQ(std::get<Still>(outcome).title, "Display 2");
    EXPECT_EQ(size(outcome), (std::pair<std::int64_t, std::int64_t>{1000, 800}));
    desktop->setPointer({-50, -50});  // on no display: the first
    EXPECT_EQ(size(capture()->captureNow(target(QuibTarget::Kind::tmux, "Work"), 1000)),
              (std::pair<std::int64_t, std::int64_t>{1000, 625}));

    // Another app in front is photographed by its window; the host's own process counts as the
    // host whatever its name.
    desktop->focus(editor);
    EXPECT_EQ(std::get<Still>(capture()->captureNow(frontmost, 1000)).title, "Editor");
    const auto self =
        std::make_shared<StillCapture>(StillCapture::Config{.desktop = desktop->services(),
                                                            .screenAccess = std::make_shared<ScreenAccess>(desktop),
                                                            .png = png,
                                                            .hostProcessID = desktop->app(editor)->processID});
    EXPECT_EQ(std::get<Still>(self->captureNow(frontmost, 1000)).title, "Display 1");
}

TEST_F(StillCaptureTest, RefusalsSayWhatIsMissing) {
    desktop->start("org.example.Tiny");
    desktop->openWindow("org.example.Tiny", {.id = 50, .title = {}, .frame = {0, 0, 120, 600}});
    desktop->openWindow("org.example.Tiny", {.id = 51, .title = {}, .frame = {0, 0, 600, 120}});
    EXPECT_EQ(refusal(capture()->captureNow(target(QuibTarget::Kind::app, "Tiny", "org.example.Tiny"), 1000)),
              "Couldn't find a window for Tiny");
    EXPECT_EQ(refusal(capture()->captureNow(target(QuibTarget::Kind::app, "Nameless"), 1000)),
              "Couldn't find a window for Nameless");
    desktop->focus("org.example.Tiny");  // a frontmost app without a window gives the display
    EXPECT_TRUE(std::holds_alternative<Still>(capture()->captureNow(target(QuibTarget::Kind::frontmost, "F"), 1000)));

    desktop->setDisplays(std::vector<Rect>{});
    EXPECT_EQ(refusal(capture()->captureNow(target(QuibTarget::Kind::tmux, "Work"), 1000)),
              "Couldn't find a display to photograph");
    desktop->setMinimised(41, true);
    EXPECT_EQ(refusal(capture()->captureNow(target(QuibTarget::Kind::app, "Editor", editor), 1000)),
              "Screenshot failed: the window isn't visible");
    desktop->setMinimised(41, false);
    png->fails = true;
    EXPECT_EQ(refusal(capture()->captureNow(target(QuibTarget::Kind::app, "Editor", editor), 1000)),
              "Screenshot failed: couldn't encode the screenshot");

    // Granted, but the desktop gives no window list.
    auto granted = std::make_shared<SettablePermissions>();
    granted->setScreenRecordingGranted(true);
    desktop->setScreenRecordingGranted(false);
    EXPECT_EQ(refusal(capture(granted)->captureNow(target(QuibTarget::Kind::tmux, "Work"), 1000)),
              "Screenshot failed: ScreenCaptureKit returned nothing");
}

TEST_F(StillCaptureTest, WithoutPermissionTheFirstRequestAsksOnceAndEveryOneIsRefused) {
    auto sink = std::make_shared<CapturingLogSink>();
    const auto previous = Logger::setSink(sink);
    desktop->setScreenRecordingGranted(false);
    const auto still = capture();
    std::vector<std::string> answers;
    for (int i = 0; i < 3; ++i) {
        std::promise<StillCaptureService::Outcome> answered;
        still->capture(target(QuibTarget::Kind::tmux, "Work"), 1000,
                       [&](StillCaptureService::Outcome outcome) { answered.set_value(std::move(outcome)); });
        answers.push_back(refusal(answered.get_future().get()));
    }
    Logger::setSink(previous);
    for (const auto& answer : answers)
        EXPECT_EQ(answer, "Quib needs an X display with Composite, DAMAGE and XFIXES first \u2014 see the Quib panel");
    const auto lines = sink->lines();
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& line) { return line.find("asking for window capture") != std::string::npos; }),
              1);
    EXPECT_EQ(desktop->picturesTaken(), 0u);
}

}  // namespace
}  // namespace quib
