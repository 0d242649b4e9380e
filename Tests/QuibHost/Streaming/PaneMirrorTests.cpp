#include "QuibHost/Streaming/PaneMirror.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/UptimeClock.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/TmuxServer.hpp"

using namespace std::chrono_literals;
using quib::Bytes;
using quib::Clock;
using quib::Duration;
using quib::FakeClock;
using quib::MonoTime;
using quib::Subprocess;
using quib::Tmux;
using quib::ViewFrame;
using quib::WallTime;
using quib::testing::eventually;

namespace {

// A fake clock that counts what is scheduled on it: every poll ends by scheduling the next one,
// so a test knows when a poll has finished and the clock may move on.
class CountingClock final : public Clock {
public:
    using Cancellable = quib::Cancellable;
    MonoTime now() const override { return fake.now(); }
    WallTime wallNow() const override { return fake.wallNow(); }
    Cancellable schedule(MonoTime deadline, std::function<void()> fire) override {
        auto timer = fake.schedule(deadline, std::move(fire));
        ++scheduled;
        return timer;
    }

    FakeClock fake;
    std::atomic<int> scheduled{0};
};

// tmux as the mirror runs it, answering from a script; a run may be held until released.
class ScriptedTmux {
public:
    using Answer = std::function<Subprocess::Result(const std::string& pane)>;

    Tmux tmux() {
        return Tmux({"/bin/sh"}, [this](const std::filesystem::path&, const std::vector<std::string>& arguments,
                                        std::optional<std::string_view>) { return run(arguments); });
    }

    void answer(Answer next) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(next);
    }
    void answer(std::string output) {
        answer([output](const std::string&) { return Subprocess::Result{true, output}; });
    }
    void holdRuns() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    int calls() const { return calls_.load(); }
    int mostAtOnce() const { return mostAtOnce_.load(); }
    std::vector<std::string> lastArguments() const {
        std::lock_guard lock(mutex_);
        return lastArguments_;
    }

private:
    Subprocess::Result run(const std::vector<std::string>& arguments) {
        const int running = ++running_;
        mostAtOnce_.store(std::max(mostAtOnce_.load(), running));
        Answer answer;
        {
            std::unique_lock lock(mutex_);
            lastArguments_ = arguments;
            ++calls_;
            changed_.wait(lock, [&] { return !holding_; });
            answer = answer_;
        }
        auto result = answer ? answer(arguments.at(3)) : Subprocess::Result{};
        --running_;
        return result;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Answer answer_;
    bool holding_ = false;
    std::vector<std::string> lastArguments_;
    std::atomic<int> calls_{0};
    std::atomic<int> running_{0};
    std::atomic<int> mostAtOnce_{0};
};

struct Sent {
    ViewFrame frame;
    std::string payload;
};

class PaneMirror : public ::testing::Test {
protected:
    std::shared_ptr<quib::PaneMirror> makeMirror(Tmux tmux) {
        return quib::PaneMirror::create({[this](const ViewFrame& frame, const Bytes& payload) {
                                       std::lock_guard lock(mutex);
                                       sent.push_back({frame, quib::textOf(payload)});
                                   },
                                   std::move(tmux), clock, &instrumentation});
    }

    std::vector<Sent> frames() {
        std::lock_guard lock(mutex);
        return sent;
    }
    std::vector<std::string> payloads() {
        std::vector<std::string> texts;
        for (const auto& one : frames()) texts.push_back(one.frame.reason.value_or(one.payload));
        return texts;
    }

    // Every run of tmux ends with the next poll scheduled: once as many are scheduled as tmux
    // was run, the poll under way has ended.
    void settle() {
        ASSERT_TRUE(eventually([&] { return clock->scheduled.load() == tmux.calls(); }));
    }
    // Lets the poll under way end, then moves the clock to the next one and waits until it has
    // asked tmux.
    void nextPoll() {
        settle();
        const int calls = tmux.calls();
        advance(quib::PaneMirror::interval);
        ASSERT_TRUE(eventually([&] { return tmux.calls() > calls; }));
    }
    // Moves the clock; a fake tmux run that takes time waits for the move to end, so that the
    // clock never goes back.
    void advance(Duration by) {
        std::lock_guard lock(advancing);
        clock->fake.advance(by);
    }
    // Starts the mirror and waits for its first run of tmux.
    void startOn(quib::PaneMirror& mirror, const std::string& pane, const std::string& title = "Work · %3") {
        const int calls = tmux.calls();
        mirror.start(pane, title);
        ASSERT_TRUE(eventually([&] { return tmux.calls() > calls; }));
    }

    std::shared_ptr<CountingClock> clock = std::make_shared<CountingClock>();
    std::shared_ptr<quib::Settings> settings = quib::Settings::inMemory();
    quib::Instrumentation instrumentation{clock, settings};
    ScriptedTmux tmux;
    std::mutex mutex;
    std::vector<Sent> sent;
    std::mutex advancing;
};

}  // namespace

TEST_F(PaneMirror, ParsesTheSizeLineAndKeepsEveryLineFeedOfTheText) {
    using Picture = quib::PaneMirror::Picture;
    EXPECT_EQ(quib::PaneMirror::parse("80 24\nhello\n"), (Picture{80, 24, {80, 24}, "hello\n"}));
    EXPECT_EQ(quib::PaneMirror::parse("80\nx"), (Picture{80, std::nullopt, {80}, "x"}));
    EXPECT_EQ(quib::PaneMirror::parse("abc\nx"), (Picture{std::nullopt, std::nullopt, {}, "x"}));
    EXPECT_EQ(quib::PaneMirror::parse("  80 wide  +24 3 9999999999999999999\n\na\n\n"), (Picture{80, 24, {80, 24, 3}, "\na\n\n"}));
    EXPECT_EQ(quib::PaneMirror::parse("80 24"), (Picture{80, 24, {80, 24}, ""}));
    EXPECT_EQ(quib::PaneMirror::parse(""), Picture{});
}

TEST_F(PaneMirror, SendsAPictureOnlyWhenTextOrSizeChangedOrWhenAskedTo) {
    tmux.answer("80 24\n\x1b[31mred\x1b[0m\nline");
    auto mirror = makeMirror(tmux.tmux());
    startOn(*mirror, "%3");
    EXPECT_EQ(tmux.lastArguments(), (std::vector<std::string>{"display-message", "-p", "-t", "%3", "-F",
                                                              "#{pane_width} #{pane_height}", ";", "capture-pane", "-p",
                                                              "-e", "-t", "%3"}));
    nextPoll();
    nextPoll();
    tmux.answer("80 24 1\n\x1b[31mred\x1b[0m\nline");  // a further number: a new picture, same fields
    nextPoll();
    tmux.answer("100 30 1\n\x1b[31mred\x1b[0m\nline");
    nextPoll();
    mirror->invalidate();
    nextPoll();
    startOn(*mirror, "%3");
    nextPoll();
    settle();

    const auto all = frames();
    ASSERT_EQ(all.size(), 5u);
    for (const auto& one : all) {
        EXPECT_EQ(one.frame.kind, ViewFrame::Kind::text);
        EXPECT_EQ(one.frame.title, "Work · %3");
        EXPECT_EQ(one.payload, "\x1b[31mred\x1b[0m\nline");
        EXPECT_FALSE(one.frame.reason || one.frame.codec || one.frame.width || one.frame.crop || one.frame.canOpen);
    }
    EXPECT_EQ(all[0].frame.captureTime, quib::UptimeClock::nanos(clock->fake.now()) - 600'000'000);
    EXPECT_EQ(all[1].frame.columns, 80);
    EXPECT_EQ(all[1].frame.rows, 24);
    EXPECT_EQ(all[2].frame.columns, 100);
    EXPECT_EQ(all[2].frame.rows, 30);
}

TEST_F(PaneMirror, AFailureIsSentOnceAndTheNextPictureAfterIt) {
    tmux.answer("80 24\nok");
    auto mirror = makeMirror(tmux.tmux());
    startOn(*mirror, "work:0.0");
    tmux.answer([](const std::string& pane) { return Subprocess::Result{false, "can't find pane: " + pane}; });
    nextPoll();
    nextPoll();
    tmux.answer("80 24\nok");
    nextPoll();
    nextPoll();
    settle();
    EXPECT_EQ(payloads(), (std::vector<std::string>{"ok", "tmux: can't find pane: work:0.0", "ok"}));
    const auto failed = frames().at(1).frame;
    EXPECT_EQ(failed.kind, ViewFrame::Kind::state);
    EXPECT_EQ(failed.title, "Work · %3");
    EXPECT_FALSE(failed.columns || failed.canOpen);
    EXPECT_EQ(frames().at(1).payload, "");
}

TEST_F(PaneMirror, MissingTmuxIsSaidOnce) {
    auto mirror = makeMirror(Tmux({"/nonexistent/tmux"}));
    mirror->start("%3", "Work · %3");
    for (int poll = 1; poll <= 4; ++poll) {
        ASSERT_TRUE(eventually([&] { return clock->scheduled.load() == poll; }));
        clock->fake.advance(quib::PaneMirror::interval);
    }
    ASSERT_TRUE(eventually([&] { return clock->scheduled.load() == 5; }));
    EXPECT_EQ(payloads(), std::vector<std::string>{"tmux: tmux not found"});
}

// Each poll is due at the first multiple of the interval after the previous one ended.
TEST_F(PaneMirror, ASlowTmuxDelaysPollsWithoutOverlapOrBurst) {
    std::vector<MonoTime> starts;
    tmux.answer([&](const std::string&) {
        starts.push_back(clock->now());
        advance(300ms);
        return Subprocess::Result{true, "80 24\nslow"};
    });
    auto mirror = makeMirror(tmux.tmux());
    const MonoTime origin = clock->now();
    startOn(*mirror, "%3");
    for (int poll = 0; poll < 3; ++poll) nextPoll();
    settle();
    EXPECT_EQ(starts, (std::vector<MonoTime>{origin, origin + 400ms, origin + 800ms, origin + 1200ms}));
    // A long wait brings one poll, not the ones it missed.
    advance(2s);
    ASSERT_TRUE(eventually([&] { return tmux.calls() == 5; }));
    settle();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(tmux.calls(), 5);
    EXPECT_EQ(tmux.mostAtOnce(), 1);
    EXPECT_EQ(frames().size(), 1u);
}

TEST_F(PaneMirror, TmuxRunsAreTimedOnlyWhileSamplesAreOn) {
    auto log = std::make_shared<quib::CapturingLogSink>();
    const auto previous = quib::Logger::setSink(log);
    tmux.answer([&](const std::string&) {
        advance(2ms);
        return Subprocess::Result{true, "80 24\nx"};
    });
    auto mirror = makeMirror(tmux.tmux());
    startOn(*mirror, "%3");
    for (int poll = 0; poll < 11; ++poll) nextPoll();
    settle();
    EXPECT_FALSE(log->contains("view_capture_text"));

    instrumentation.setEnabled(true);
    for (int poll = 0; poll < 11; ++poll) nextPoll();
    settle();
    quib::Logger::setSink(previous);
    EXPECT_TRUE(log->contains("[perf] view_capture_text n=")) << ::testing::PrintToString(log->lines());
}

// A switch takes effect at once: the poll of the old pane that was running when it came hands
// nothing on, and the first frame is the new pane's; after a stop, or once the mirror is let
// go, nothing comes at all.
TEST_F(PaneMirror, NoFrameOfTheOldPaneFollowsAStartOrAStop) {
    tmux.answer([](const std::string& pane) { return Subprocess::Result{true, "80 24\nin " + pane}; });
    auto mirror = makeMirror(tmux.tmux());
    tmux.holdRuns();
    startOn(*mirror, "%3", "Old");
    mirror->start("%4", "New");
    tmux.release();
    ASSERT_TRUE(eventually([&] { return tmux.calls() == 2; }));
    settle();
    EXPECT_EQ(payloads(), std::vector<std::string>{"in %4"});
    EXPECT_EQ(frames().at(0).frame.title, "New");

    tmux.holdRuns();
    nextPoll();
    tmux.answer("80 24\nchanged");
    mirror->stop();
    tmux.release();
    settle();
    clock->fake.advance(1s);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(tmux.calls(), 3);
    EXPECT_EQ(payloads(), std::vector<std::string>{"in %4"});

    // Letting the mirror go waits for the poll under way, which then hands nothing on.
    tmux.holdRuns();
    startOn(*mirror, "%5", "Last");
    std::atomic<bool> gone = false;
    std::thread owner([&] {
        mirror.reset();
        gone = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(gone.load());
    tmux.release();
    owner.join();
    EXPECT_EQ(payloads(), std::vector<std::string>{"in %4"});
}

// A pane spec outlives its session: when the session is made again, the same spec shows it.
TEST_F(PaneMirror, MirrorsARealPaneThroughItsSessionsEndAndReturn) {
    quib::testing::TmuxServer server;
    ASSERT_TRUE(server.startSession("mirror", server.folder()));
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Sent> sent;
    auto mirror = quib::PaneMirror::create({[&](const ViewFrame& frame, const Bytes& payload) {
                                          std::lock_guard lock(mutex);
                                          sent.push_back({frame, quib::textOf(payload)});
                                          changed.notify_all();
                                      },
                                      Tmux()});
    // The last frame once `done` holds for it, within 5 s.
    const auto waitFor = [&](const std::function<bool(const Sent&)>& done) -> std::optional<Sent> {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, 5s, [&] { return !sent.empty() && done(sent.back()); })) return std::nullopt;
        return sent.back();
    };
    mirror->start("mirror:0.0", "Mirror · mirror:0.0");
    ASSERT_TRUE(server.run({"respawn-pane", "-k", "-t", "mirror:0.0", "printf '\\033[32mgreen\\033[0m\\n'; exec cat"}));
    const auto shown = waitFor([](const Sent& one) { return one.payload.find("\x1b[32mgreen") != std::string::npos; });
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->frame.kind, ViewFrame::Kind::text);
    EXPECT_EQ(shown->frame.title, "Mirror · mirror:0.0");
    EXPECT_EQ(shown->frame.columns, 200);
    EXPECT_EQ(shown->frame.rows, 60);

    // Another session keeps the server up, so that every poll after the kill fails alike (a
    // server on its way out answers one way, then another once it is gone: two states).
    ASSERT_TRUE(server.startSession("keep", server.folder()));
    ASSERT_TRUE(server.run({"kill-session", "-t", "mirror"}));
    const auto gone = waitFor([](const Sent& one) { return one.frame.kind == ViewFrame::Kind::state; });
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->frame.reason.value_or("").starts_with("tmux: ")) << *gone->frame.reason;
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex);
        count = sent.size();
    }
    std::this_thread::sleep_for(400ms);  // the polls that fail again say nothing more
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(sent.size(), count);
    }

    ASSERT_TRUE(server.startSession("mirror", server.folder()));
    const auto back = waitFor([](const Sent& one) { return one.frame.kind == ViewFrame::Kind::text; });
    mirror->stop();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->frame.columns, 200);
}
