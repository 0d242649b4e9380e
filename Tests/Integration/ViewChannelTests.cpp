// A phone watching the active target over a view channel of the real quib-host, headless, with a
// tmux server of the test's own, while quibctl switches targets.

#include <gtest/gtest.h>

#include <thread>

#include "Shared/ViewFrame.hpp"
#include "Shared/ViewHelloPayload.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/TestPhone.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

// A view channel of Ada's phone, cut into frames as they come.
class Viewer {
public:
    Viewer(const HostProcess& host, std::int64_t width, std::int64_t height) : phone_(host.pairingCode()) {
        EXPECT_FALSE(phone_.connect(host.port()));
        const auto hello = ViewHelloPayload::make(23, testing::adasPhone.name, testing::adasPhone.deviceID, width,
                                                  height, {0, 0, 1, 1});
        phone_.write(Json{{"viewHello", {{"_0", hello.toJson()}}}}.dump() + "\n");
    }

    // The next frame for which `wanted` holds, passing over the others, within `wait`.
    std::optional<ViewFrameReader::Frame> next(const std::function<bool(const ViewFrameReader::Frame&)>& wanted,
                                               std::chrono::milliseconds wait = 10s) {
        const auto end = std::chrono::steady_clock::now() + wait;
        for (;;) {
            while (!frames_.empty()) {
                auto frame = std::move(frames_.front());
                frames_.erase(frames_.begin());
                if (wanted(frame)) return frame;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left <= 0ms || phone_.isClosed()) return std::nullopt;
            read(std::min(left, 50ms));
        }
    }
    std::optional<ViewFrameReader::Frame> nextState(std::chrono::milliseconds wait = 10s) {
        return next([](const auto& frame) { return frame.header.kind == ViewFrame::Kind::state; }, wait);
    }
    std::optional<ViewFrameReader::Frame> nextText(const std::string& holding, std::chrono::milliseconds wait = 10s) {
        return next(
            [&](const auto& frame) {
                return frame.header.kind == ViewFrame::Kind::text &&
                       textOf(frame.payload).find(holding) != std::string::npos;
            },
            wait);
    }
    // Every frame that comes within `wait`.
    std::vector<ViewFrameReader::Frame> all(std::chrono::milliseconds wait) {
        read(wait);
        return std::exchange(frames_, {});
    }

private:
    // Only frames ever come: a line, or anything else, would show as damage or as bytes left over.
    void read(std::chrono::milliseconds wait) {
        for (auto& frame : reader_.append(phone_.readUntilClosed(wait))) frames_.push_back(std::move(frame));
        EXPECT_FALSE(reader_.takeDesync());
    }

    testing::TestPhone phone_;
    ViewFrameReader reader_{ViewChannel::maxFrameBytes};
    std::vector<ViewFrameReader::Frame> frames_;
};

QuibTarget target(const std::string& id, const std::string& name, QuibTarget::Kind kind) {
    QuibTarget made;
    made.id = id;
    made.name = name;
    made.kind = kind;
    return made;
}

// Work is a pane showing what is typed into it; Notes is a tmux target without a pane; Editor an
// app, which a host without a display cannot film.
class QuibHostViewChannel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmux.startSession("work", home.root()));
        ASSERT_TRUE(tmux.startSession("spare", home.root()));  // keeps the server up when Work's pane goes
        ASSERT_TRUE(tmux.run({"respawn-pane", "-k", "-t", "work:0.0", "printf 'ready\\n'; exec cat"}));
        QuibTarget editor = target("T3", "Editor", QuibTarget::Kind::app);
        editor.bundleID = "org.example.editor";
        testing::saveTargetsBeforeStart(
            home, {testing::workPane("work:0.0"), target("T2", "Notes", QuibTarget::Kind::tmux), editor});
        (void)home.defaults()->setString("quib.activeTarget.v1", "T1");
        testing::approveBeforeStart(home, {testing::adasPhone});
        host = HostProcess::start(home);
        ASSERT_TRUE(host);
    }

    void use(const std::string& id) {
        const auto used = quibctl(home, {"use", id});
        ASSERT_EQ(used.status, 0) << used.err;
    }
    void type(const std::string& text) { ASSERT_TRUE(tmux.run({"send-keys", "-t", "work:0.0", "-l", text})); }

    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    std::unique_ptr<HostProcess> host;
};

}  // namespace

TEST_F(QuibHostViewChannel, APaneIsSeenAsTextThatFollowsTypingAndAnIdlePaneSendsNothing) {
    Viewer viewer(*host, 800, 600);
    const auto first = viewer.nextText("ready");
    ASSERT_TRUE(first) << host->log();
    EXPECT_EQ(first->header.columns, 200);
    EXPECT_EQ(first->header.rows, 60);
    EXPECT_TRUE(first->header.title.starts_with("Work \u00b7 ")) << first->header.title;
    EXPECT_TRUE(viewer.all(1s).empty());

    type("typed");
    const auto typed = viewer.nextText("typed", 1s);
    ASSERT_TRUE(typed);
    EXPECT_TRUE(textOf(typed->payload).starts_with("ready\ntyped")) << textOf(typed->payload);

    ASSERT_TRUE(tmux.run({"kill-pane", "-t", "work:0.0"}));
    const auto gone = viewer.nextState();
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->header.reason.value_or("").starts_with("tmux: ")) << *gone->header.reason;
}

// Switching away from the pane stops it at once: the sentence comes, and the pane's new text
// does not follow it.
TEST_F(QuibHostViewChannel, OtherTargetsSayWhatCannotBeShownAndThePaneLeftBehindStaysQuiet) {
    Viewer viewer(*host, 800, 600);
    ASSERT_TRUE(viewer.nextText("ready")) << host->log();

    use("T2");
    const auto noPane = viewer.nextState();
    ASSERT_TRUE(noPane);
    EXPECT_EQ(noPane->header.reason, "Notes has no tmux pane");
    EXPECT_EQ(noPane->header.title, "Notes");
    type("after the switch");
    for (const auto& frame : viewer.all(1s)) EXPECT_NE(frame.header.kind, ViewFrame::Kind::text);

    use("T3");
    const auto editor = viewer.nextState();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->header.reason, "Give Quib an X display with Composite, DAMAGE and XFIXES, then restart it");
    EXPECT_EQ(editor->header.title, "Editor");
}

}  // namespace quib
