#include "QuibHost/Streaming/PanelStreamer.hpp"

#include <gtest/gtest.h>

#include <iostream>

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
        config.interfaces = [this] { return interfaces; };
        config.instrumentation = &instrumentation;
        streamer = quib::PanelStreamer::create(std::move(config));
        main->runPending();
    }

    std::filesystem::path tmuxPath() const { return scratch.path / "tmux"; }
    void installTmux() {
        std::ofstream(tmuxPath()) << "#!/bin/sh\n";
        std::filesystem::permissions(tmuxPath(), std::filesystem::perms::owner_all);
    }

    std::shared_ptr<FakeViewConnection> viewer(const std::string& name, std::string address = "127.0.0.1") {
        return std::make_shared<FakeViewConnection>(events, name, std::move(address));
    }

    // The saved targets, with `activeID` active, published as the store does.
    void setTargets(std::vector<QuibTarget> saved, std::optional<std::string> activeID) {
        store->setSnapshot({saved, {}}, activeID);
        store->targets().set(std::move(saved));
        store->activeTargetID().set(std::move(activeID));
        main->runPending();
    }
    // A viewer of the frontmost window at 800 × 600 on `address`, once the capture follows it.
    std::shared_ptr<FakeViewConnection> watching(const std::string& name, std::string address = "127.0.0.1") {
        auto connection = viewer(name, std::move(address));
        streamer->attach(connection, hello(name, 800, 600));
        after("capture.start - - 800x600 0,0,1,1");
        return connection;
    }
    // One picture captured; when it passes the gate, encoded to `bytes`. Whether it was encoded.
    bool shoot(std::size_t bytes = 100, const Rect& crop = {0, 0, 1, 1}) {
        const auto before = encoder->waiting();
        capture->deliver(640, 480, crop);
        if (encoder->waiting() == before) return false;
        encoder->finish(bytes);
        return true;
    }
    // A picture every 100 ms for `seconds`, each sent within a millisecond.
    void cleanFrames(FakeViewConnection& connection, int seconds) {
        for (int frame = 0; frame < seconds * 10; ++frame) {
            pass(100ms);
            ASSERT_TRUE(shoot());
            clock->advance(1ms);
            connection.complete(connection.count() - 1);
        }
    }
    // What `connection` was last sent: "key" or "delta", or its kind.
    static std::string lastSent(const FakeViewConnection& connection) {
        const auto sent = connection.sent();
        if (sent.empty()) return "nothing";
        const auto& frame = sent.back().frame;
        if (frame.kind != ViewFrame::Kind::video) return std::string(quib::enumName(frame.kind));
        return frame.isKeyframe.value_or(false) ? "key" : "delta";
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
    std::vector<quib::InterfaceAddresses::Entry> interfaces{{.name = "lo", .host = "127.0.0.1"}};
    quib::Instrumentation instrumentation{clock, settings};
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

    (void)settings->set(quib::PanelStreamer::viewerAllowanceKey, 0.5);
    EXPECT_EQ(quib::PanelStreamer::readViewerAllowance(settings.get()), 0.5);
    for (double outside : {0.0, 2.0, -1.0}) {
        (void)settings->set(quib::PanelStreamer::viewerAllowanceKey, outside);
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

    capture->say("Give Quib an X display with Composite, DAMAGE and XFIXES, then restart it", false);
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
    const std::string missing = "phone state: Gone | tmux not found on this computer";
    EXPECT_EQ(switchTo("G", missing), (Events{"mirror.stop", "capture.stop", missing}));
}

TEST_F(PanelStreamer, TheGateKeepsOnePictureInTheEncoderAndOnlyForViewersWithRoom) {
    make();
    const auto ada = watching("Ada");
    capture->deliver(640, 480);
    capture->deliver(640, 480);
    EXPECT_EQ(encoder->waiting(), 1u) << "a second picture waits for nothing";
    encoder->finish();
    EXPECT_EQ(lastSent(*ada), "key");

    // One small frame in flight leaves room; a second does not.
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*ada), "delta");
    EXPECT_FALSE(shoot()) << "two frames in flight";
    ada->complete(0);
    ada->complete(1);

    // A frame of the whole budget (75000 bytes at 12 Mbit/s) leaves no room either.
    ASSERT_TRUE(shoot(80000));
    EXPECT_FALSE(shoot());
    ada->complete(2);
    ASSERT_TRUE(shoot());
    EXPECT_EQ(ada->count(), 4u);
}

// The key frame waits until the viewer that missed a frame can take it: meanwhile the others
// keep their delta frames.
TEST_F(PanelStreamer, AViewerThatMissedAFrameGetsAKeyFrameOnceItHasRoomForIt) {
    make();
    const auto ada = watching("Ada");
    const auto bob = watching("Bob");
    ASSERT_TRUE(shoot(80000));  // both get the big key frame
    bob->complete(0);
    ASSERT_TRUE(shoot());  // Ada's frame fills her budget: Bob alone gets this one
    EXPECT_EQ(ada->count(), 1u);
    EXPECT_EQ(lastSent(*bob), "delta");
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*bob), "delta") << "Ada, who missed a frame, has no room for a key frame yet";
    bob->complete(1);
    bob->complete(2);
    ada->complete(0);
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*ada), "key") << "Ada has room now";
    EXPECT_EQ(lastSent(*bob), "key");
    ada->complete(1);
    bob->complete(3);
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*ada), "delta") << "the key frame cleared Ada's mark";
    EXPECT_EQ(lastSent(*bob), "delta");

    // A new window starts with a key frame.
    capture->show(Rect{0, 0, 100, 100}, 7);
    ada->complete(2);
    bob->complete(4);
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*ada), "key");
}

// A viewer that stops reading costs the others nothing: they keep their delta frames, and
// after 3 s it no longer holds everyone to its small size. The same ten seconds of pictures are
// counted as they reach a viewer that reads.
TEST_F(PanelStreamer, AStalledViewerCostsTheOthersNoKeyFramesAndLosesItsSay) {
    make();
    const auto ada = watching("Ada");
    const auto bob = watching("Bob");
    const auto cy = viewer("Cy");
    streamer->attach(cy, hello("Cy", 400, 300));
    after("capture.start - - 400x300 0,0,1,1");
    const std::string freed = "capture.start - - 800x600 0,0,1,1";
    std::size_t keys = 0, bytes = 0, frames = 0;
    bool sizeFreed = false;
    for (int picture = 0; picture < 100; ++picture) {
        pass(100ms);
        // Cy stalled past its 3 s some pictures ago, and the source starts anew off this thread:
        // the pictures wait for it, as a real source's would, so that its first one counts here.
        if (picture == 40) sizeFreed = events.waitFor(freed);
        const auto before = encoder->waiting();
        capture->deliver(640, 480);
        if (encoder->waiting() == before) continue;
        encoder->finish(80000, 5000);
        clock->advance(1ms);
        for (const auto& reader : {ada, bob})
            if (reader->count() > 0) reader->complete(reader->count() - 1);
        const auto sent = ada->sent().back();  // a copy: sent() is a snapshot
        if (sent.frame.isKeyframe.value_or(false)) ++keys;
        bytes += sent.bytes;
        ++frames;
        if (picture == 25) {
            const auto seen = events.all();
            EXPECT_EQ(std::ranges::count(seen, freed), 0) << "Cy stalled for under 3 s";
        }
    }
    std::cout << "stalled viewer: Ada got " << frames << " frames, " << keys << " key frames, " << bytes << " bytes\n";
    EXPECT_EQ(frames, 100u);
    EXPECT_EQ(keys, 2u) << "the first picture, and the first of the source started anew without Cy";
    EXPECT_TRUE(sizeFreed) << "Cy, stalled, still sets the size";
    EXPECT_EQ(cy->count(), 1u);
}

TEST_F(PanelStreamer, AFrameNoViewerTakesMarksEveryoneAndCutsTheRate) {
    make();
    const auto ada = watching("Ada");
    ASSERT_TRUE(shoot());
    capture->deliver(640, 480);  // passes the gate: one small frame in flight
    ASSERT_EQ(encoder->waiting(), 1u);
    capture->say("Window went away", true);  // a state goes to everyone: now two in flight
    encoder->finish();
    EXPECT_EQ(ada->count(), 2u) << "the video frame was dropped";
    EXPECT_EQ(encoder->rate(), 8640000) << "the pacer was told of congestion";
    ada->complete(0);
    ada->complete(1);
    ASSERT_TRUE(shoot());
    EXPECT_EQ(lastSent(*ada), "key");
}

TEST_F(PanelStreamer, RaisesReachTheEncoderAfterACutAndTheUnsentLimitFollows) {
    make();
    const auto ada = watching("Ada");
    const auto bob = watching("Bob");
    EXPECT_EQ(ada->limits(), (std::vector<std::size_t>{75000}));

    // A big frame that takes 40 ms measures 1 MB/s: the cut goes to 82 % of it, about 6.56 Mbit/s.
    pass(100ms);
    ASSERT_TRUE(shoot(40000));
    const auto bytes = ada->sent().back().bytes;
    clock->advance(std::chrono::microseconds(bytes));
    bob->complete(0);
    clock->advance(39ms);
    ada->complete(0);
    ASSERT_TRUE(encoder->rate());
    const std::int64_t cut = *encoder->rate();
    EXPECT_NEAR(static_cast<double>(cut), 6560000, 70000);
    const auto lowWater = static_cast<std::size_t>(quib::PanelStreamer::notSentLowWater(cut));
    EXPECT_EQ(ada->limits().back(), lowWater);
    EXPECT_EQ(bob->limits().back(), lowWater);
    EXPECT_EQ(quib::PanelStreamer::notSentLowWater(6560000), 41000);
    EXPECT_EQ(quib::PanelStreamer::notSentLowWater(700000), 4375);

    streamer->detach(bob.get());
    cleanFrames(*ada, 20);
    std::vector<std::int64_t> applied;
    for (const auto& event : events.all())
        if (event.starts_with("encoder.updateRate ")) applied.push_back(std::stoll(event.substr(19)));
    ASSERT_GE(applied.size(), 4u);
    EXPECT_EQ(applied.front(), cut);
    EXPECT_EQ(applied.back(), 12000000) << "the last step reaches the ceiling, however small";
    for (std::size_t step = 1; step + 1 < applied.size(); ++step)
        EXPECT_GE(applied[step] * 8, applied[step - 1] * 9) << "each step before is an eighth or more";
    EXPECT_TRUE(log->contains("view: 12000 kbps at "));
    EXPECT_EQ(ada->limits().back(), 75000u);
}

TEST_F(PanelStreamer, APeerToPeerViewerHoldsEveryoneToItsCeilingUntilItLeaves) {
    interfaces = {{.name = "lo", .host = "127.0.0.1"},
                  {.name = "p2p-wlan0-0", .host = "192.168.49.1"},
                  {.name = "awdl0", .host = "fe80::1%awdl0"}};
    for (const std::string address : {"192.168.49.1", "fe80::1"}) {
        make();
        const auto ada = watching("Ada");
        const auto near = watching("Near", address);
        EXPECT_EQ(encoder->rate(), 2500000) << address;
        EXPECT_EQ(ada->limits().back(), 15625u);
        streamer->detach(near.get());
        cleanFrames(*ada, 5);
        EXPECT_GT(*encoder->rate(), 3000000) << "the rate climbs back";
        streamer.reset();
        events.take();
    }
}

TEST_F(PanelStreamer, FramesCarryTheirPictureAndTheWindowsLooks) {
    make();
    const auto ada = watching("Ada");
    capture->setLooks(0.04, quib::UnitSpot{0.25, 0.75});
    ASSERT_TRUE(shoot(100, Rect{0.25, 0, 0.5, 1}));
    auto frame = ada->sent().back().frame;
    EXPECT_EQ(frame.title, "Focused");
    EXPECT_EQ(frame.codec, ViewFrame::Codec::h264);
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    ASSERT_TRUE(frame.parameterSets);
    EXPECT_EQ(frame.parameterSets->size(), 2u);
    EXPECT_EQ(frame.cornerRadius, 0.04);
    EXPECT_EQ(frame.pointer, (quib::UnitSpot{0.25, 0.75}));
    EXPECT_EQ(frame.cropRect(), (Rect{0.25, 0, 0.5, 1}));

    ada->complete(0);
    capture->setLooks(std::nullopt, std::nullopt);
    ASSERT_TRUE(shoot());
    frame = ada->sent().back().frame;
    EXPECT_FALSE(frame.crop);
    EXPECT_FALSE(frame.pointer);
    EXPECT_FALSE(frame.cornerRadius);
    EXPECT_FALSE(frame.parameterSets);

    // With nobody left the session ends; the next viewer starts a new one with a key frame.
    streamer->detach(ada.get());
    after("encoder.invalidate");
    const auto bob = watching("Bob");
    ASSERT_TRUE(shoot());
    EXPECT_EQ(only(events.take(), {"encoder.open"}), (Events{"encoder.open"}));
    EXPECT_EQ(lastSent(*bob), "key");
    EXPECT_TRUE(bob->sent().back().frame.parameterSets);
}

TEST_F(PanelStreamer, TapsLandOnTheWindowOnlyOnceAViewerHasSeenIt) {
    for (const double allowance : {2.0, 0.0, 1.9}) {
        (void)settings->setReal("quib.viewerAllowance", allowance);
        const auto wait =
            std::chrono::duration_cast<quib::Duration>(std::chrono::duration<double>(allowance == 1.9 ? 1.9 : 0.12));
        make();
        capture->show(Rect{10, 20, 800, 600}, 1);
        const auto ada = watching("Ada");
        EXPECT_FALSE(streamer->pointableWindowFrame()) << "nothing seen yet";
        ASSERT_TRUE(shoot());
        EXPECT_FALSE(streamer->pointableWindowFrame()) << "within the allowance";
        clock->advance(wait - 1ms);
        EXPECT_FALSE(streamer->pointableWindowFrame()) << allowance;
        clock->advance(1ms);
        EXPECT_EQ(streamer->pointableWindowFrame(), (Rect{10, 20, 800, 600})) << allowance;

        capture->show(Rect{10, 20, 800, 600}, 2);
        EXPECT_FALSE(streamer->pointableWindowFrame()) << "another window";
        streamer.reset();
        events.take();
    }
}

TEST_F(PanelStreamer, AStopLeavesTheCountRightWhateverTheEncoderFinishesMeanwhile) {
    make();
    const auto ada = watching("Ada");
    capture->deliver(640, 480);  // in the encoder when the source stops: counted down once
    ASSERT_EQ(encoder->waiting(), 1u);
    const auto bob = viewer("Bob");
    encoder->duringInvalidate = [&] {
        encoder->duringInvalidate = nullptr;
        streamer->attach(bob, hello("Bob", 800, 600));
        capture->deliver(640, 480);  // passes the gate before the count is cleared
    };
    streamer->detach(ada.get());
    after("capture.start - - 800x600 0,0,1,1");
    ASSERT_EQ(encoder->waiting(), 1u);
    encoder->finish();
    EXPECT_EQ(bob->count(), 0u) << "a picture of the stopped source is not shown";

    capture->deliver(640, 480);
    capture->deliver(640, 480);
    ASSERT_EQ(encoder->waiting(), 1u) << "one picture in the encoder, no more and no fewer";
    encoder->finish();
    EXPECT_EQ(lastSent(*bob), "key");
}

TEST_F(PanelStreamer, TheRateIsReportedAtMostOnceASecond) {
    instrumentation.setEnabled(true);
    make();
    const auto ada = watching("Ada");
    cleanFrames(*ada, 1);
    const auto reports = [&] {
        int count = 0;
        for (const auto& line : log->lines()) count += line.find("view: sending ") != std::string::npos;
        return count;
    };
    EXPECT_EQ(reports(), 1);
    EXPECT_TRUE(log->contains("view: sending 12000 kbps at "));
    EXPECT_TRUE(log->contains(" fps, link not measured"));
    pass(1s);
    ASSERT_TRUE(shoot(20000));
    clock->advance(10ms);
    ada->complete(ada->count() - 1);
    EXPECT_EQ(reports(), 2);
    EXPECT_TRUE(log->contains(" kbps measured"));
}

TEST_F(PanelStreamer, APictureTurnedAwayIsAskedForAgainOnceThereIsRoom) {
    make();
    const auto ada = watching("Ada");
    capture->deliver(640, 480);
    capture->deliver(640, 480);  // the encoder is busy: the window's last look is not shown
    events.take();
    encoder->finish();
    EXPECT_EQ(only(events.take(), {"capture.requestFrame"}), (Events{"capture.requestFrame"}));

    ASSERT_TRUE(shoot());
    ASSERT_FALSE(shoot());  // two frames in flight
    events.take();
    ada->complete(0);
    EXPECT_EQ(only(events.take(), {"capture.requestFrame"}), (Events{"capture.requestFrame"}));
    ada->complete(1);
    EXPECT_EQ(only(events.take(), {"capture.requestFrame"}), Events{}) << "asked once";
}
