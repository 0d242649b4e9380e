#include "QuibHost/Streaming/PanelStreamer.hpp"

#include <gtest/gtest.h>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/FakeCapture.hpp"
#include "Tests/Support/FakeEncoder.hpp"
#include "Tests/Support/FakeMirror.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/FakeViewConnection.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/StreamerEvents.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace {

using namespace std::chrono_literals;
using quib::QuibTarget;
using quib::Rect;
using quib::ViewFrame;
using quib::ViewHelloPayload;
using quib::testing::FakeViewConnection;
using Events = std::vector<std::string>;

ViewHelloPayload hello(const std::string& name, std::int64_t width, std::int64_t height,
                       std::optional<Rect> crop = std::nullopt) {
    return ViewHelloPayload::make(23, name, "ID-" + name, width, height, crop.value_or(Rect{0, 0, 1, 1}));
}

QuibTarget target(const std::string& id, const std::string& name, QuibTarget::Kind kind) {
    QuibTarget made;
    made.id = id;
    made.name = name;
    made.kind = kind;
    return made;
}

QuibTarget paneTarget(const std::string& id, const std::string& name, std::optional<std::string> pane) {
    QuibTarget made = target(id, name, QuibTarget::Kind::tmux);
    made.tmuxTarget = std::move(pane);
    return made;
}

QuibTarget appTarget(const std::string& id, const std::string& name, std::optional<std::uint32_t> window = std::nullopt,
                     std::optional<std::string> title = std::nullopt) {
    QuibTarget made = target(id, name, QuibTarget::Kind::app);
    made.bundleID = "org.example." + id;
    made.pinnedWindowID = window;
    made.pinnedWindowTitle = std::move(title);
    return made;
}

// Only the events that match one of these beginnings, in order.
Events only(const Events& events, std::initializer_list<std::string_view> beginnings) {
    Events kept;
    for (const auto& event : events)
        for (auto beginning : beginnings)
            if (event.starts_with(beginning)) {
                kept.push_back(event);
                break;
            }
    return kept;
}

class PanelStreamer : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = quib::Logger::setSink(log);
        installTmux();
    }
    void TearDown() override {
        streamer.reset();
        quib::Logger::setSink(previousSink);
    }

    // The streamer, finding tmux where SetUp put it.
    void make() {
        quib::PanelStreamer::Config config{main, store, encoder, clock, settings, quib::Tmux({tmuxPath()})};
        config.makeCapture = [this](auto onFrame, auto onState) {
            capture = std::make_shared<quib::testing::FakeCapture>(events, std::move(onFrame), std::move(onState));
            return capture;
        };
        config.makeMirror = [this](auto onFrame) {
            mirror = std::make_shared<quib::testing::FakeMirror>(events, std::move(onFrame));
            return mirror;
        };
        streamer = quib::PanelStreamer::create(std::move(config));
        main->runPending();
    }

    std::filesystem::path tmuxPath() const { return scratch.path / "tmux"; }
    void installTmux() {
        std::ofstream(tmuxPath()) << "#!/bin/sh\n";
        std::filesystem::permissions(tmuxPath(), std::filesystem::perms::owner_all);
    }

    std::shared_ptr<FakeViewConnection> viewer(const std::string& name, bool peerToPeer = false) {
        return std::make_shared<FakeViewConnection>(events, name, peerToPeer);
    }

    // The saved targets, with `activeID` active, published as the store does.
    void setTargets(std::vector<QuibTarget> saved, std::optional<std::string> activeID) {
        store->setSnapshot({saved, {}}, activeID);
        store->targets().set(std::move(saved));
        store->activeTargetID().set(std::move(activeID));
        main->runPending();
    }
    // Lets debounced changes through.
    void pass(quib::Duration time) {
        clock->advance(time);
        main->runPending();
    }
    // Waits for `event`, then hands over what happened up to then.
    Events after(const std::string& event) {
        EXPECT_TRUE(events.waitFor(event)) << event << " never came; saw " << ::testing::PrintToString(events.all());
        return events.take();
    }

    quib::testing::ScratchFolder scratch{"streamer"};
    quib::testing::StreamerEvents events;
    std::shared_ptr<quib::FakeClock> clock = std::make_shared<quib::FakeClock>();
    std::shared_ptr<quib::MainLoop> main = std::make_shared<quib::MainLoop>(clock);
    std::shared_ptr<quib::Settings> settings = quib::Settings::inMemory();
    std::shared_ptr<quib::testing::FakeTargetStore> store = std::make_shared<quib::testing::FakeTargetStore>(main);
    std::shared_ptr<quib::testing::FakeEncoder> encoder = std::make_shared<quib::testing::FakeEncoder>(events);
    std::shared_ptr<quib::testing::FakeCapture> capture;
    std::shared_ptr<quib::testing::FakeMirror> mirror;
    std::shared_ptr<quib::PanelStreamer> streamer;
    std::shared_ptr<quib::CapturingLogSink> log = std::make_shared<quib::CapturingLogSink>();
    std::shared_ptr<quib::LogSink> previousSink;
};

}  // namespace

TEST_F(PanelStreamer, ViewersGetTheirSidesHeldWithinLimitsAndAHelloTellsWhatChanged) {
    using Client = quib::PanelStreamer::ViewClient;
    Client client(nullptr, hello("Ada", 100, 5000, Rect{0.5, 0.5, 0.25, 0.25}));
    EXPECT_EQ(client.maxWidth, 160);
    EXPECT_EQ(client.maxHeight, 4096);
    EXPECT_EQ(client.crop, (Rect{0.5, 0.5, 0.25, 0.25}));
    client.inFlightFrames = 1;
    client.missedFrame = true;
    EXPECT_FALSE(client.adopt(hello("Ada's", 150, 4097, Rect{0.5, 0.5, 0.25, 0.25})));
    EXPECT_EQ(client.name, "Ada's");
    EXPECT_TRUE(client.adopt(hello("Ada", 150, 4097)));
    EXPECT_EQ(client.crop, (Rect{0, 0, 1, 1}));
    EXPECT_TRUE(client.adopt(hello("Ada", 800, 4097)));
    EXPECT_EQ(client.inFlightFrames, 1);
    EXPECT_TRUE(client.missedFrame);

    settings->set(quib::PanelStreamer::viewerAllowanceKey, 0.5);
    EXPECT_EQ(quib::PanelStreamer::readViewerAllowance(settings.get()), 0.5);
    for (double outside : {0.0, 2.0, -1.0}) {
        settings->set(quib::PanelStreamer::viewerAllowanceKey, outside);
        EXPECT_EQ(quib::PanelStreamer::readViewerAllowance(settings.get()), 0.12);
    }
}

// Without an active target the frontmost app's window is shown, titled "Focused", at the
// smallest size any viewer wants and with every viewer's crop.
TEST_F(PanelStreamer, TheCaptureServesTheSmallestDemandOfAllViewers) {
    make();
    auto phone = viewer("phone");
    auto tablet = viewer("tablet");
    auto whole = viewer("whole");
    streamer->attach(phone, hello("phone", 1179, 2556, Rect{0.1, 0.2, 0.3, 0.3}));
    after("capture.start - - 1179x2556 0.1,0.2,0.3,0.3");
    streamer->attach(tablet, hello("tablet", 800, 600, Rect{0.5, 0.4, 0.2, 0.2}));
    after("capture.start - - 800x600 0.1,0.2,0.6,0.4");
    streamer->attach(whole, hello("whole", 5000, 5000));
    const auto started = after("capture.start - - 800x600 0,0,1,1");
    EXPECT_EQ(only(started, {"mirror", "encoder", "capture"}),
              (Events{"encoder.forceKeyframe", "capture.requestFrame", "mirror.invalidate", "encoder.forceKeyframe",
                      "mirror.stop", "capture.start - - 800x600 0,0,1,1"}));
    EXPECT_TRUE(log->contains("view: tablet at 800x600"));
    EXPECT_TRUE(log->contains("view: whole at 5000x5000"));

    capture->say("Grant Screen Recording to Fennic on your Mac, then relaunch it", false);
    const auto said = phone->sent().back().frame;
    EXPECT_EQ(said.title, "Focused");
    EXPECT_FALSE(said.canOpen);
}

// The same hello again only asks for a key frame and a fresh picture; another size or crop
// starts the source again.
TEST_F(PanelStreamer, ARepeatedHelloRestartsTheSourceOnlyWhenItChangedSomething) {
    make();
    auto phone = viewer("phone");
    streamer->attach(phone, hello("phone", 800, 600));
    after("capture.start - - 800x600 0,0,1,1");
    log->clear();
    streamer->attach(phone, hello("phone", 800, 600));
    streamer->attach(phone, hello("phone", 640, 600));
    const auto seen = after("capture.start - - 640x600 0,0,1,1");
    EXPECT_EQ(only(seen, {"encoder", "capture", "mirror"}),
              (Events{"encoder.forceKeyframe", "capture.requestFrame", "mirror.invalidate", "encoder.forceKeyframe",
                      "capture.requestFrame", "mirror.invalidate", "encoder.forceKeyframe", "mirror.stop",
                      "capture.start - - 640x600 0,0,1,1"}));
    EXPECT_EQ(log->lines(), Events{"view: phone at 640x600"});
}

// A state goes to every viewer, busy or not, once while it stays the same; a new viewer hears
// it again.
TEST_F(PanelStreamer, AStateReachesEveryViewerOnceUntilSomethingElseWasShown) {
    make();
    setTargets({appTarget("E", "Editor", 7, "Notes")}, "E");
    auto phone = viewer("phone");
    auto tablet = viewer("tablet");
    streamer->attach(phone, hello("phone", 800, 600));
    after("capture.start org.example.E 7 800x600 0,0,1,1");
    streamer->attach(tablet, hello("tablet", 800, 600));
    after("capture.start org.example.E 7 800x600 0,0,1,1");
    capture->say("The window is minimised", true);
    capture->say("The window is minimised", true);
    capture->say("The window is minimised", true);
    EXPECT_EQ(only(events.take(), {"phone", "tablet"}),
              (Events{"phone state: Editor · Notes | The window is minimised",
                      "tablet state: Editor · Notes | The window is minimised"}));
    EXPECT_EQ(phone->sent().back().frame.canOpen, true);

    streamer->attach(phone, hello("phone", 800, 600));
    capture->say("The window is minimised", true);
    EXPECT_EQ(only(events.take(), {"phone", "tablet"}),
              (Events{"phone state: Editor · Notes | The window is minimised",
                      "tablet state: Editor · Notes | The window is minimised"}));
}

// A pane's text goes only to a viewer with nothing in flight; one that reaches nobody is asked
// for again. Completions free the viewer, never below nothing in flight.
TEST_F(PanelStreamer, TextWaitsForAViewerWithNothingInFlight) {
    make();
    setTargets({paneTarget("W", "Work", "%3")}, "W");
    auto phone = viewer("phone");
    streamer->attach(phone, hello("phone", 800, 600));
    after("mirror.start %3 | Work · %3");
    mirror->text("Work · %3", "one");
    mirror->text("Work · %3", "two");
    EXPECT_EQ(only(events.take(), {"phone", "mirror"}), (Events{"phone text: Work · %3 | one", "mirror.invalidate"}));

    phone->complete(0);
    phone->complete(0);  // told twice: still only one frame out at a time
    mirror->text("Work · %3", "three");
    mirror->text("Work · %3", "four");
    EXPECT_EQ(only(events.take(), {"phone", "mirror"}), (Events{"phone text: Work · %3 | three", "mirror.invalidate"}));
    EXPECT_EQ(phone->sent().back().frame.columns, 80);
}

TEST_F(PanelStreamer, AFailedSendEndsOnlyItsViewer) {
    make();
    auto phone = viewer("phone");
    auto tablet = viewer("tablet");
    streamer->attach(phone, hello("phone", 800, 600));
    after("capture.start - - 800x600 0,0,1,1");
    streamer->attach(tablet, hello("tablet", 640, 480));
    after("capture.start - - 640x480 0,0,1,1");
    capture->say("first", false);
    phone->complete(0, false);
    const auto restarted = after("capture.start - - 640x480 0,0,1,1");
    EXPECT_EQ(only(restarted, {"capture.stop", "encoder.invalidate"}), Events{});
    capture->say("second", false);
    EXPECT_EQ(only(events.take(), {"phone", "tablet"}), (Events{"tablet state: Focused | second"}));
}

TEST_F(PanelStreamer, TheLastViewerToLeaveStopsEverySource) {
    make();
    auto phone = viewer("phone");
    auto tablet = viewer("tablet");
    streamer->attach(phone, hello("phone", 800, 600));
    after("capture.start - - 800x600 0,0,1,1");
    streamer->attach(tablet, hello("tablet", 640, 480));
    after("capture.start - - 640x480 0,0,1,1");
    int unknown = 0;
    streamer->detach(&unknown);
    streamer->detach(tablet->identity());
    after("capture.start - - 800x600 0,0,1,1");
    streamer->detach(phone->identity());
    EXPECT_EQ(after("encoder.invalidate"), (Events{"mirror.stop", "capture.stop", "encoder.invalidate"}));
    EXPECT_TRUE(log->contains("view: last viewer left, capture stopped"));
    capture->say("nobody hears this", false);
    EXPECT_EQ(phone->sent().size(), 0u);
}

// Once its owner lets it go, what the capture, the mirror, a connection or the target store
// still hand the streamer does nothing.
TEST_F(PanelStreamer, NothingHappensOnceTheStreamerIsGone) {
    setTargets({paneTarget("W", "Work", "%3")}, "W");
    make();
    auto phone = viewer("phone");
    streamer->attach(phone, hello("phone", 800, 600));
    after("mirror.start %3 | Work · %3");
    capture->say("said before", false);
    streamer.reset();
    events.take();

    phone->complete(0, false);
    capture->say("said after", false);
    mirror->text("Work · %3", "typed after");
    setTargets({paneTarget("W", "Work", "%3")}, std::nullopt);
    pass(120ms);
    EXPECT_EQ(events.all(), Events{});
    EXPECT_EQ(phone->sent().size(), 1u);
}

// The active target and its pinned window count 120 ms after their last change; the values
// current when the streamer began, and repeats, change nothing.
TEST_F(PanelStreamer, TargetChangesRestartTheSourceAfterTheyHaveSettled) {
    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "E");
    make();
    pass(200ms);
    auto phone = viewer("phone");
    streamer->attach(phone, hello("phone", 800, 600));
    after("capture.start org.example.E - 800x600 0,0,1,1");

    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "E");  // nothing changed
    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "W");
    pass(100ms);
    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "E");
    pass(100ms);
    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "W");
    pass(119ms);
    EXPECT_EQ(only(events.all(), {"mirror.start", "capture.start"}), Events{});
    pass(1ms);
    after("mirror.start %3 | Work · %3");

    setTargets({appTarget("E", "Editor"), paneTarget("W", "Work", "%3")}, "E");
    pass(120ms);
    after("capture.start org.example.E - 800x600 0,0,1,1");
    setTargets({appTarget("E", "Editor", 9, "Draft"), paneTarget("W", "Work", "%3")}, "E");
    pass(120ms);
    after("capture.start org.example.E 9 800x600 0,0,1,1");
    setTargets({appTarget("E", "Editor", 9, "Draft"), paneTarget("W", "Work", "%4")}, "E");
    pass(120ms);
    streamer->detach(phone->identity());
    EXPECT_EQ(only(after("encoder.invalidate"), {"capture.start", "mirror.start"}), Events{});
}

// A tmux target shows its pane; without a pane, or once tmux has gone, it says so, and
// whatever was shown before is stopped first, so that no text of the old pane follows the
// sentence. Each time the viewer is shown something else, the sentence is worth saying again.
TEST_F(PanelStreamer, ATmuxTargetWithNothingToMirrorStopsTheOldPaneBeforeSayingSo) {
    const std::vector<QuibTarget> targets{paneTarget("W", "Work", "%3"), paneTarget("N", "Notes", std::nullopt),
                                          paneTarget("G", "Gone", "%9")};
    setTargets(targets, "W");
    make();
    auto phone = viewer("phone");
    streamer->attach(phone, hello("phone", 800, 600));
    after("mirror.start %3 | Work · %3");
    const auto switchTo = [&](const std::string& id, const std::string& event) {
        setTargets(targets, id);
        pass(120ms);
        return only(after(event), {"mirror", "capture", "phone"});
    };

    const std::string noPane = "phone state: Notes | Notes has no tmux pane";
    EXPECT_EQ(switchTo("N", noPane), (Events{"mirror.stop", "capture.stop", noPane}));
    EXPECT_FALSE(phone->sent().back().frame.canOpen);
    switchTo("W", "mirror.start %3 | Work · %3");
    phone->complete(0);
    mirror->text("Work · %3", "$ ls");
    EXPECT_EQ(switchTo("N", noPane), (Events{"phone text: Work · %3 | $ ls", "mirror.stop", "capture.stop", noPane}));

    switchTo("W", "mirror.start %3 | Work · %3");
    std::filesystem::remove(tmuxPath());
    const std::string missing = "phone state: Gone | tmux not found on this Mac";
    EXPECT_EQ(switchTo("G", missing), (Events{"mirror.stop", "capture.stop", missing}));
}
