// What a phone asks the host to know: terms, apps, windows and menus; and the view, listen and
// still channels.

#include "HostServerFixture.hpp"

#include "Platform/Simulated/SimulatedAudioCapture.hpp"
#include "QuibHost/Apps/TestRepository.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Streaming/AudioStreamer.hpp"
#include "Tests/Support/FakeAacConverterFactory.hpp"

#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"
#include "QuibHost/Streaming/StillCapture.hpp"
#include "Shared/StillFrame.hpp"
#include "Tests/Support/TestLines.hpp"

#include <future>
#include <map>

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

QuibTarget target(const std::string& id, const std::string& name, QuibTarget::Kind kind,
                  std::optional<std::string> bundleID = std::nullopt) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = kind;
    target.bundleID = std::move(bundleID);
    return target;
}

std::string line(const std::string& name, const Json& payload) { return Json{{name, payload}}.dump() + "\n"; }

std::vector<std::string> numberedTerms(std::size_t count) {
    std::vector<std::string> terms;
    for (std::size_t i = 0; i < count; ++i) terms.push_back("term" + std::to_string(i));
    return terms;
}

MacApp app(const std::string& bundleID) {
    MacApp app;
    app.bundleID = bundleID;
    app.name = bundleID;
    return app;
}

}  // namespace

// The payloads of the phone's next messages of one case, up to and including the final chunk;
// other cases (status, targets) are skipped.
class HostServerRequests : public HostServer {
protected:
    std::vector<Json> chunks(TestPhone& phone, const std::string& name,
                             std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::vector<Json> found;
        while (auto next = nextLine(phone, timeout)) {
            const Json message = Json::parse(*next);
            if (caseOf(message) != name) continue;
            found.push_back(message[name].contains("_0") ? message[name]["_0"] : message[name]);
            if (!found.back().is_object() || found.back().value("isFinal", true)) break;
        }
        return found;
    }

    Json next(TestPhone& phone, const std::string& name) {
        auto found = chunks(phone, name);
        return found.empty() ? Json() : found.front();
    }

    // Returns once `queue` has run every task queued on it before.
    static void drain(Executor& queue) {
        std::promise<void> ran;
        queue.post([&] { ran.set_value(); });
        ran.get_future().wait();
    }
};

TEST_F(HostServerRequests, VocabularyComesInChunksOfTwoHundredTermsAndAnUnknownTargetIsRefused) {
    targets->setSnapshot({{target("T1", "Work", QuibTarget::Kind::tmux)}, {}});
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");
    for (const auto& [count, expected] :
         std::vector<std::pair<std::size_t, std::vector<std::size_t>>>{{0, {0}}, {200, {200}}, {201, {200, 1}}}) {
        vocabulary->setTerms(numberedTerms(count));
        phone->write(line("requestVocabulary", {{"targetID", "T1"}}));
        const auto got = chunks(*phone, "vocabulary");
        ASSERT_EQ(got.size(), expected.size()) << count << " terms";
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i]["targetID"], "T1");
            EXPECT_EQ(got[i]["terms"].size(), expected[i]);
            EXPECT_EQ(got[i]["sequence"], i);
        }
        if (count == 201) {
            EXPECT_EQ(got[1]["terms"][0], "term200");
        }
        EXPECT_TRUE(eventually([&, count = count, n = expected.size()] {
            return log->contains("vocabulary for Work: " + std::to_string(count) + " terms in " + std::to_string(n) +
                                 " chunk(s)");
        }));
    }
    phone->write(line("requestVocabulary", {{"targetID", "nope"}}));
    EXPECT_EQ(next(*phone, "error"), "Unknown target");
}

// The real vocabulary behind the server, on its own queue: a repository of n - 1 files on branch
// "main" has n terms, the branch and each file's name.
TEST_F(HostServerRequests, ARepositorysTermsReachThePhoneInChunksOfTwoHundred) {
    desktop->setTrusted(true);
    std::vector<QuibTarget> saved;
    for (const std::size_t count : {0, 200, 201}) {
        const TestRepository repository(scratch.path / ("repo" + std::to_string(count)));
        for (std::size_t i = 0; i + 1 < count; ++i)
            repository.write(std::string("qz") + char('a' + i / 26 / 26 % 26) + char('a' + i / 26 % 26) +
                             char('a' + i % 26));
        if (count > 0) repository.commitAll();
        const std::string bundleID = "org.example.editor" + std::to_string(count);
        desktop->start(bundleID);
        desktop->setDocumentURL(desktop->app(bundleID)->processID,
                                "file://" + repository.root().string() + "/notes.md");
        saved.push_back(target("T" + std::to_string(count), "Editor", QuibTarget::Kind::app, bundleID));
    }
    targets->setSnapshot({saved, {}});
    remakeServerWith([&](quib::HostServer::Config& config) {
        config.neighbours.vocabulary = std::make_shared<Vocabulary>(
            Vocabulary::Config{.clock = clock,
                               .desktop = desktop->services(),
                               .injector = injector,
                               .paneFolder = [](const std::string& pane) { return Tmux().currentPath(pane); },
                               .dictionary = scratch.path / "no-words"});
    });
    auto phone = approvedPhone(startServer(), "D-A");
    for (const auto& [count, expected] :
         std::vector<std::pair<std::size_t, std::vector<std::size_t>>>{{0, {0}}, {200, {200}}, {201, {200, 1}}}) {
        const std::string id = "T" + std::to_string(count);
        phone->write(line("requestVocabulary", {{"targetID", id}}));
        const auto got = chunks(*phone, "vocabulary", 30s);  // git runs slowly on a busy machine
        ASSERT_EQ(got.size(), expected.size()) << count << " terms";
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i]["targetID"], id);
            EXPECT_EQ(got[i]["terms"].size(), expected[i]);
            EXPECT_EQ(got[i]["sequence"], i);
            EXPECT_EQ(got[i]["isFinal"], i + 1 == got.size());
        }
        if (count > 0) {
            EXPECT_EQ(got[0]["terms"][0], "main");
        }
    }
}

// Apps that already have a target are passed on; the suggestion list is limited to 30.
TEST_F(HostServerRequests, AppsAndIconsComeAsFinalChunksOfTheirPurpose) {
    targets->setSnapshot({{target("A", "Editor", QuibTarget::Kind::app, "org.editor"),
                           target("B", "Work", QuibTarget::Kind::tmux), target("C", "Odd", QuibTarget::Kind::app)},
                          {}});
    catalog->setApps({app("org.editor"), app("org.browser")});
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");

    phone->write(line("requestApps", {{"refresh", false}}));
    const auto suggestions = chunks(*phone, "apps");
    ASSERT_EQ(suggestions.size(), 1u);
    EXPECT_EQ(suggestions[0]["purpose"], "suggestions");
    EXPECT_EQ(suggestions[0]["apps"].size(), 2u);
    EXPECT_EQ(catalog->excluded(), std::set<std::string>{"org.editor"});
    EXPECT_EQ(catalog->limit(), 30u);

    phone->write(line("requestAppIcons", {{"bundleIDs", {"org.browser", "org.missing"}}}));
    const auto icons = chunks(*phone, "apps");
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0]["purpose"], "icons");
    ASSERT_EQ(icons[0]["apps"].size(), 1u);
    EXPECT_EQ(icons[0]["apps"][0]["bundleID"], "org.browser");
}

// Icons are drawn as the phone reads them: one that stops reading stops the drawing, instead of
// having every icon it named drawn and held for it.
TEST_F(HostServerRequests, IconsAreDrawnOnlyAsFastAsThePhoneReadsThem) {
    constexpr std::size_t count = 200;
    std::vector<MacApp> apps;
    std::vector<std::string> ids;
    for (std::size_t n = 0; n < count; ++n) {
        apps.push_back(app("org.app" + std::to_string(n)));
        apps.back().icon = Bytes(190 * 1024, static_cast<std::uint8_t>(n));  // one to a chunk
        ids.push_back(apps.back().bundleID);
    }
    catalog->setApps(std::move(apps));
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");
    phone->stopReading();
    phone->write(line("requestAppIcons", {{"bundleIDs", ids}}));
    ASSERT_TRUE(eventually([&] { return server->inspect().backlogged == 1; }));
    (void)server->catalogQueue().sync([] {});
    const std::size_t drawn = catalog->iconsDrawn;
    EXPECT_LT(drawn, count / 2);
    // The request was one task on the catalog queue, now over; nothing queued since draws more.
    (void)server->inspect();
    (void)server->catalogQueue().sync([] {});
    EXPECT_EQ(catalog->iconsDrawn, drawn);
}

// A phone that repeats itself holds one place in each queue, and a pane listing never waits
// behind deliveries.
TEST_F(HostServerRequests, RepeatedPaneAndAppRequestsWaitAsOneAndPanesPassHeldDeliveries) {
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");
    std::promise<void> release;
    const auto held = release.get_future().share();
    const auto hold = [held] { held.wait(); };
    server->injectionQueue().post(hold);
    phone->write(line("requestPanes", Json::object()));
    EXPECT_EQ(next(*phone, "panes"), Json::array());

    targets->tmuxQueue().post(hold);
    server->catalogQueue().post(hold);
    std::string burst;
    for (int i = 0; i < 300; ++i)
        burst += line("requestPanes", Json::object()) + line("requestApps", {{"refresh", i == 150}});
    phone->write(burst);
    ASSERT_TRUE(settle(*phone));
    release.set_value();
    // Every request was queued before the pong; the replies of their listings come before the next.
    drain(targets->tmuxQueue());
    drain(server->catalogQueue());
    std::map<std::string, int> answers;
    for (const auto& name : casesUntilSettled(*phone)) ++answers[name];
    EXPECT_EQ(answers["panes"], 1);
    EXPECT_EQ(answers["apps"], 1);
    EXPECT_EQ(catalog->refreshes(), std::vector<bool>{true});

    phone->write(line("requestApps", {{"refresh", false}}));  // the next one waits anew
    EXPECT_EQ(chunks(*phone, "apps").size(), 1u);
    EXPECT_EQ(catalog->refreshes(), (std::vector<bool>{true, false}));
}

// 2,000 window lists and 5,000 vocabularies asked for in one write once queued one listing each,
// and another phone's request waited behind them all (29.7 s for its apps). Repeats for a
// target join the request that waits for it: one listing a target, and the other phone's
// request comes next.
TEST_F(HostServerRequests, RepeatedWindowAndVocabularyRequestsWaitAsOneForEachTarget) {
    targets->setSnapshot({{target("A", "Editor", QuibTarget::Kind::app, "org.editor"),
                           target("B", "Browser", QuibTarget::Kind::app, "org.browser")},
                          {}});
    const auto port = startServer();
    auto flooding = approvedPhone(port, "D-A");
    auto other = approvedPhone(port, "D-B");
    std::promise<void> release;
    const auto held = release.get_future().share();
    const auto hold = [held] { held.wait(); };
    server->catalogQueue().post(hold);
    vocabulary->queue().post(hold);
    std::string burst;
    for (int i = 0; i < 2000; ++i) {
        for (const char* id : {"A", "B"}) {
            burst += line("requestWindows", {{"targetID", id}}) + line("requestVocabulary", {{"targetID", id}});
        }
    }
    flooding->write(burst);
    ASSERT_TRUE(settle(*flooding));
    other->write(line("requestApps", {{"refresh", false}}));
    ASSERT_TRUE(settle(*other));
    release.set_value();
    EXPECT_EQ(chunks(*other, "apps").size(), 1u);
    drain(server->catalogQueue());
    drain(vocabulary->queue());
    std::map<std::string, int> answers;
    for (const Json& message : heardUntilSettled(*flooding)) {
        const std::string name = caseOf(message);
        if (name != "windows" && name != "vocabulary") continue;
        const Json& body = message[name].contains("_0") ? message[name]["_0"] : message[name];
        ++answers[name + ":" + body["targetID"].get<std::string>()];
    }
    EXPECT_EQ(answers, (std::map<std::string, int>{
                           {"vocabulary:A", 1}, {"vocabulary:B", 1}, {"windows:A", 1}, {"windows:B", 1}}));
    EXPECT_EQ(windowList->listed(), (std::vector<std::string>{"org.editor", "org.browser"}));

    flooding->write(line("requestWindows", {{"targetID", "A"}}));  // the next one waits anew
    EXPECT_EQ(chunks(*flooding, "windows").size(), 1u);
    EXPECT_EQ(windowList->listed().size(), 3u);
}

TEST_F(HostServerRequests, WindowsOfAnythingButAnAppAreANoteAndARosterNoteAboutTheAppNamesIt) {
    targets->setSnapshot(
        {{target("T1", "Work", QuibTarget::Kind::tmux), target("A", "Editor", QuibTarget::Kind::app, "org.editor"),
          target("N", "Nameless", QuibTarget::Kind::app, "")},
         {}});
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");

    for (const char* id : {"T1", "N"}) {
        phone->write(line("requestWindows", {{"targetID", id}}));
        EXPECT_EQ(next(*phone, "windows"), (Json{{"targetID", id},
                                                 {"windows", Json::array()},
                                                 {"note", "Only an app has windows to pick from."},
                                                 {"sequence", 0},
                                                 {"isFinal", true}}));
    }
    windowList->list(WindowListService::WindowList{{}, "is running but has no windows open."});
    phone->write(line("requestWindows", {{"targetID", "A"}}));
    EXPECT_EQ(next(*phone, "windows")["note"], "Editor is running but has no windows open.");
    windowList->list(
        WindowListService::WindowList{{}, "Quib needs an X display with Composite, DAMAGE and XFIXES first"});
    phone->write(line("requestWindows", {{"targetID", "A"}}));
    EXPECT_EQ(next(*phone, "windows")["note"], "Quib needs an X display with Composite, DAMAGE and XFIXES first");

    phone->write(line("requestWindows", {{"targetID", "gone"}}));
    EXPECT_EQ(next(*phone, "error"), "Unknown target");
}

// The menu catalog is the server's own, on a desktop without a display.
TEST_F(HostServerRequests, MenuOfAnAppThatCannotBeReadSaysSo) {
    const auto port = startServer();
    auto phone = approvedPhone(port, "D-A");
    phone->write(line("requestMenu", {{"bundleID", "org.editor"}, {"refresh", true}}));
    EXPECT_EQ(next(*phone, "menu"),
              (Json{{"bundleID", "org.editor"},
                    {"outcome", "unreadable"},
                    {"note", "Quib needs the accessibility bus (AT-SPI) to read another app's menus"}}));
}

// A phone too old for the control connection may still listen and watch; the streamers are
// handed the channel and nothing else is ever written on it.
TEST_F(HostServerRequests, ViewAndListenChannelsGoToTheStreamersAndHearNoLineWhateverIsBroadcast) {
    targets->setSnapshot({{target("T1", "Work", QuibTarget::Kind::tmux)}, {}});
    const auto port = startUploads();
    TestPhone view(code), listen(code);
    ASSERT_FALSE(view.connect(port));
    ASSERT_FALSE(listen.connect(port));
    view.write(
        R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-U","maxWidth":8,"maxHeight":6}}})"
        "\n");
    listen.write(R"({"listenHello":{"_0":{"protocolVersion":3,"deviceName":"Pad","deviceID":"D-U"}}})"
                 "\n");
    ASSERT_TRUE(
        eventually([&] { return panelStreamer->attached().size() == 1 && audioStreamer->attached().size() == 1; }));
    EXPECT_EQ(panelStreamer->attached(), std::vector<std::string>{"view:D-U"});
    EXPECT_EQ(audioStreamer->attached(), std::vector<std::string>{"listen:D-U"});

    auto phone = approvedPhone(port, "D-U");
    EXPECT_TRUE(eventually([&] {
        const auto devices = server->connectedDevices().value();
        return devices.size() == 1 && devices[0].isHearing;
    }));
    phone->write(line("agentEvent", {{"_0", {{"targetID", "T1"}, {"kind", "done"}, {"atEpochMillis", 1}}}}));
    phone->write(line("requestApproval", {{"_0", {{"id", "R1"}}}}));
    server->broadcastStatus();
    EXPECT_FALSE(next(*phone, "agentEvent").is_null());
    ASSERT_TRUE(settle(*phone));
    clock->advance(quib::HostServer::helloDeadline + 1s);
    for (auto* channel : {&view, &listen}) {
        EXPECT_FALSE(nextLine(*channel, 100ms)) << "a side channel was sent a line";
        EXPECT_FALSE(channel->isClosed());
    }
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
}

// With the real streamer: a listen channel leaves it once, whether it closes or its phone is
// revoked (the revocation detaches it before cancelling it).
TEST_F(HostServerRequests, AListenChannelLeavesTheStreamerOnceWhenItClosesOrItsPhoneIsRevoked) {
    auto capture = std::make_shared<SimulatedAudioCapture>();
    auto streamer =
        AudioStreamer::make({capture, std::make_shared<FakeAacConverterFactory>(), settings, nullptr, clock});
    remakeServerWith([&](quib::HostServer::Config& config) { config.neighbours.audioStreamer = streamer; });
    const auto port = startUploads();
    const auto count = [&](const std::string& text) {
        const auto lines = log->lines();
        return std::count(lines.begin(), lines.end(), text);
    };
    for (const bool revoke : {false, true}) {
        SCOPED_TRACE(revoke ? "revoked" : "closed");
        TestPhone listen(code);
        ASSERT_FALSE(listen.connect(port));
        listen.write(R"({"listenHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-U"}}})"
                     "\n");
        ASSERT_TRUE(eventually([&] { return count("listen: Pad attached") == (revoke ? 2 : 1); }));
        if (revoke) {
            onMain([&] { (void)server->revoke("D-U"); });
            EXPECT_TRUE(listen.waitClosed());
        } else {
            listen.close();
        }
        EXPECT_TRUE(eventually([&] { return count("listen: Pad left, nobody listening") == (revoke ? 2 : 1); }));
        EXPECT_TRUE(eventually([&] { return server->inspect().clients == 0; }));
    }
    EXPECT_EQ(count("listen: Pad left, nobody listening"), 2);
    // An opening still under way when the last listener left stops its stream once it is done.
    EXPECT_TRUE(eventually([&] { return capture->liveStreams() == 0; }));
}

TEST_F(HostServerRequests, StillChannelGetsOneFrameOrOneErrorThenCloses) {
    targets->setSnapshot({{target("T1", "Work", QuibTarget::Kind::tmux)}, {}});
    const auto port = startUploads();
    auto still = [&](const std::string& fields) {
        auto phone = std::make_unique<TestPhone>(code);
        EXPECT_FALSE(phone->connect(port));
        phone->write(R"({"stillHello":{"_0":{"deviceName":"Pad","deviceID":"D-U")" + fields + "}}}\n");
        return phone;
    };
    const Bytes png{0x89, 'P', 'N', 'G', 1, 2, 3};
    stills->set(StillCaptureService::Still{png, 640, 480, "Work"});
    auto pictured = still(R"(,"targetID":"T1","maxLongEdge":800)");
    StillFrameReader reader(StillChannel::maxStillBytes);
    const auto frames = reader.append(pictured->readUntilClosed());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header, (StillFrame{"Work", 640, 480, 7}));
    EXPECT_EQ(frames[0].payload, png);
    EXPECT_TRUE(pictured->isClosed());
    EXPECT_TRUE(eventually([&] { return log->contains("still: 640\u00d7480, 7 bytes to Pad"); }));

    const std::string grant =
        "Quib needs an X display with Composite, DAMAGE and XFIXES first \u2014 see the Quib panel";
    stills->set(StillCaptureService::Refusal::notGranted());
    const std::vector<std::pair<std::string, std::string>> refusals{
        {R"(,"targetID":"T1")", grant},
        {R"(,"targetID":"gone")", "No target with that id \u2014 it may have been removed"},
        {R"(,"targetID":"T1","protocolVersion":3)", "That phone speaks protocol 3; this computer speaks 23"}};
    for (const auto& [fields, text] : refusals) {
        auto refused = still(fields);
        EXPECT_EQ(refused->readUntilClosed(), line("error", {{"_0", text}})) << fields;
        EXPECT_TRUE(refused->isClosed());
    }
    EXPECT_TRUE(eventually([&] { return log->contains("Screenshot refused: " + grant); }));
}

// The real capture on the simulated desktop: a tmux target's still is the display, at the size
// asked for, and its frame describes exactly the PNG it carries.
TEST_F(HostServerRequests, StillChannelCarriesTheCapturedDisplayAsPng) {
    remakeServerWith([&](quib::HostServer::Config& config) {
        config.neighbours.stills =
            std::make_shared<StillCapture>(StillCapture::Config{.desktop = desktop->services(),
                                                                .screenAccess = std::make_shared<ScreenAccess>(desktop),
                                                                .png = std::make_shared<FfmpegPngEncoder>()});
    });
    desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
    desktop->setScreenRecordingGranted(true);
    targets->setSnapshot({{target("T1", "Work", QuibTarget::Kind::tmux)}, {}});
    const auto port = startUploads();
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(R"({"stillHello":{"_0":{"deviceName":"Pad","deviceID":"D-U","targetID":"T1","maxLongEdge":1000}}})"
                "\n");
    StillFrameReader reader(StillChannel::maxStillBytes);
    const auto frames = reader.append(phone.readUntilClosed());
    ASSERT_EQ(frames.size(), 1u);
    const auto& [header, payload] = frames[0];
    EXPECT_EQ(header.title, "Screen");
    EXPECT_EQ(header.width, 1000);
    EXPECT_EQ(header.height, 625);
    ASSERT_EQ(header.byteCount, static_cast<std::int64_t>(payload.size()));
    // The PNG's own header (IHDR) gives the same size.
    ASSERT_GT(payload.size(), 24u);
    auto word = [&payload = payload](std::size_t at) {
        return (payload[at] << 24) | (payload[at + 1] << 16) | (payload[at + 2] << 8) | payload[at + 3];
    };
    EXPECT_EQ(word(16), 1000);
    EXPECT_EQ(word(20), 625);
    EXPECT_TRUE(phone.isClosed());
}

}  // namespace quib::testing
