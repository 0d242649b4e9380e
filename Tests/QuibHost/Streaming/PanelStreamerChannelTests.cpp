// A view channel over the server's real TLS on 127.0.0.1, watching a pane of a private tmux
// server through the real streamer and pane mirror.

#include "QuibHost/Server/HostServerFixture.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "Tests/Support/FakeCapture.hpp"
#include "Tests/Support/FakeEncoder.hpp"
#include "Tests/Support/StreamerEvents.hpp"

using namespace std::chrono_literals;

namespace quib::testing {
namespace {

class PanelStreamerOverTls : public HostServer {
protected:
    void configure(quib::HostServer::Config& config) override {
        PanelStreamer::Config streaming{main, targets, std::make_shared<FakeEncoder>(events)};
        streaming.makeCapture = [this](auto onFrame, auto onState) {
            return std::make_shared<FakeCapture>(events, std::move(onFrame), std::move(onState));
        };
        streamer = PanelStreamer::create(std::move(streaming));
        config.neighbours.panelStreamer = streamer;
    }

    StreamerEvents events;
    std::shared_ptr<PanelStreamer> streamer;
};

}  // namespace

TEST_F(PanelStreamerOverTls, AViewChannelGetsThePanesTextAsFramesAndNoLineEverAndLeavesWhenClosed) {
    ASSERT_TRUE(tmuxServer.startSession("work", tmuxServer.folder()));
    ASSERT_TRUE(tmuxServer.run({"respawn-pane", "-k", "-t", "work:0.0", "printf 'hello from work\\n'; exec cat"}));
    QuibTarget work;
    work.id = "W";
    work.name = "Work";
    work.kind = QuibTarget::Kind::tmux;
    work.tmuxTarget = "work:0.0";
    targets->setSnapshot({{work}, {}}, "W");
    approve("D-V", "Pad");
    const auto port = startServer();

    TestPhone view(code);
    ASSERT_FALSE(view.connect(port));
    view.write(
        R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-V","maxWidth":800,"maxHeight":600}}})"
        "\n");
    ViewFrameReader reader(ViewChannel::maxFrameBytes);
    std::vector<ViewFrameReader::Frame> frames;
    const auto read = [&](std::chrono::milliseconds wait) {
        for (auto& frame : reader.append(view.readUntilClosed(wait))) frames.push_back(std::move(frame));
        EXPECT_FALSE(reader.takeDesync());
    };
    for (int attempt = 0; attempt < 100; ++attempt) {
        read(50ms);
        if (!frames.empty() && textOf(frames.back().payload).find("hello from work") != std::string::npos) break;
    }
    ASSERT_FALSE(frames.empty());
    const auto& shown = frames.back();
    EXPECT_EQ(shown.header.kind, ViewFrame::Kind::text);
    EXPECT_EQ(shown.header.title, "Work · work:0.0");
    EXPECT_EQ(shown.header.columns, 200);
    EXPECT_EQ(shown.header.rows, 60);
    EXPECT_TRUE(textOf(shown.payload).starts_with("hello from work")) << textOf(shown.payload);

    server->broadcastStatus();
    main->runPending();
    read(300ms);
    EXPECT_EQ(reader.bufferedBytes(), 0u);  // only whole frames came: a line would be read as a damaged one

    view.close();
    EXPECT_TRUE(eventually([&] { return log->contains("view: last viewer left, capture stopped"); }));
    EXPECT_TRUE(events.waitFor("capture.stop"));
}

}  // namespace quib::testing
