#include "QuibHost/Streaming/PaneMirror.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/UptimeClock.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ScratchFolder.hpp"
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

// tmux as it is, counting its runs.
class CountedTmux {
public:
    Tmux tmux() const {
        return Tmux({Tmux::standardPaths.begin(), Tmux::standardPaths.end()},
                    [runs = runs_](const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                                   std::optional<std::string_view> input) {
                        ++*runs;
                        return Subprocess::run(tmux, arguments, input, Tmux::timeout, Subprocess::Ends::kept);
                    });
    }
    int runs() const { return runs_->load(); }

private:
    std::shared_ptr<std::atomic<int>> runs_ = std::make_shared<std::atomic<int>>(0);
};

// A mirror of panes on a real tmux server, polling through `control` when there is one; it keeps
// every frame it hands on.
class RealMirror {
public:
    explicit RealMirror(std::shared_ptr<quib::TmuxControl> control)
        : mirror_(quib::PaneMirror::create({[this](const ViewFrame& frame, const Bytes& payload) {
                                                std::lock_guard lock(mutex_);
                                                sent_.push_back({frame, quib::textOf(payload)});
                                                changed_.notify_all();
                                            },
                                            tmux_.tmux(), nullptr, nullptr, std::move(control)})) {}

    quib::PaneMirror& operator*() { return *mirror_; }
    quib::PaneMirror* operator->() { return mirror_.get(); }
    // The last frame once `done` holds for it, within 5 s.
    std::optional<Sent> waitFor(const std::function<bool(const Sent&)>& done) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 5s, [&] { return !sent_.empty() && done(sent_.back()); })) return std::nullopt;
        return sent_.back();
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return sent_.size();
    }
    // How often a poll ran tmux.
    int runs() const { return tmux_.runs(); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Sent> sent_;
    CountedTmux tmux_;
    std::shared_ptr<quib::PaneMirror> mirror_;  // last, so that it goes first
};

// Both ways a poll can go: a run of tmux each time, and the kept control client.
struct Way {
    const char* name;
    bool throughControl;
    std::shared_ptr<quib::TmuxControl> control() const {
        return throughControl ? std::make_shared<quib::TmuxControl>() : nullptr;
    }
};
constexpr Way ways[] = {{"through runs", false}, {"through the control client", true}};

// What two readings must share to be the same picture.
void expectSameFrame(const quib::PaneMirror::Reading& one, const quib::PaneMirror::Reading& other) {
    EXPECT_EQ(one.frame.kind, other.frame.kind);
    EXPECT_EQ(one.frame.title, other.frame.title);
    EXPECT_EQ(one.frame.columns, other.frame.columns);
    EXPECT_EQ(one.frame.rows, other.frame.rows);
    EXPECT_EQ(one.frame.reason, other.frame.reason);
    EXPECT_EQ(quib::textOf(one.payload), quib::textOf(other.payload));
    EXPECT_EQ(one.digest, other.digest);
}

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
    EXPECT_EQ(quib::PaneMirror::parse("  80 wide  +24 3 9999999999999999999\n\na\n\n"),
              (Picture{80, 24, {80, 24, 3}, "\na\n\n"}));
    EXPECT_EQ(quib::PaneMirror::parse("80 24"), (Picture{80, 24, {80, 24}, ""}));
    EXPECT_EQ(quib::PaneMirror::parse(""), Picture{});
}

TEST_F(PaneMirror, SendsAPictureOnlyWhenTextOrSizeChangedOrWhenAskedTo) {
    tmux.answer("80 24\n\x1b[31mred\x1b[0m\nline");
    auto mirror = makeMirror(tmux.tmux());
    startOn(*mirror, "%3");
    EXPECT_EQ(tmux.lastArguments(),
              (std::vector<std::string>{"display-message", "-p", "-t", "%3", "-F", "#{pane_width} #{pane_height}", ";",
                                        "capture-pane", "-p", "-e", "-t", "%3"}));
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

// A pane spec outlives its session: when the session is made again, the same spec shows it. The
// control client, attached to the session that goes, ends with it; the polls meanwhile go to runs,
// and a client started again serves them once the pane is back.
TEST_F(PaneMirror, MirrorsARealPaneThroughItsSessionsEndAndReturn) {
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        quib::testing::TmuxServer server;
        ASSERT_TRUE(server.startSession("mirror", server.folder()));
        RealMirror mirror(way.control());
        mirror->start("mirror:0.0", "Mirror · mirror:0.0");
        ASSERT_TRUE(
            server.run({"respawn-pane", "-k", "-t", "mirror:0.0", "printf '\\033[32mgreen\\033[0m\\n'; exec cat"}));
        const auto shown =
            mirror.waitFor([](const Sent& one) { return one.payload.find("\x1b[32mgreen") != std::string::npos; });
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->frame.kind, ViewFrame::Kind::text);
        EXPECT_EQ(shown->frame.title, "Mirror · mirror:0.0");
        EXPECT_EQ(shown->frame.columns, 200);
        EXPECT_EQ(shown->frame.rows, 60);
        if (way.throughControl) {
            EXPECT_EQ(mirror.runs(), 0);
        }

        // Another session keeps the server up, so that every poll after the kill fails alike (a
        // server on its way out answers one way, then another once it is gone: two states).
        ASSERT_TRUE(server.startSession("keep", server.folder()));
        ASSERT_TRUE(server.run({"kill-session", "-t", "mirror"}));
        const auto gone = mirror.waitFor([](const Sent& one) { return one.frame.kind == ViewFrame::Kind::state; });
        ASSERT_TRUE(gone);
        EXPECT_TRUE(gone->frame.reason.value_or("").starts_with("tmux: ")) << *gone->frame.reason;
        const std::size_t count = mirror.count();
        std::this_thread::sleep_for(400ms);  // the polls that fail again say nothing more
        EXPECT_EQ(mirror.count(), count);

        ASSERT_TRUE(server.startSession("mirror", server.folder()));
        const auto back = mirror.waitFor([](const Sent& one) { return one.frame.kind == ViewFrame::Kind::text; });
        ASSERT_TRUE(back);
        EXPECT_EQ(back->frame.columns, 200);
        const int runs = mirror.runs();
        std::this_thread::sleep_for(300ms);
        if (way.throughControl) {
            EXPECT_EQ(mirror.runs(), runs);
        }
        mirror->stop();
    }
}

// The pane's blank last rows are part of its picture: the text is what tmux printed after the
// size line, byte for byte, its final line feeds included.
TEST_F(PaneMirror, ARealPanesTextKeepsItsBlankRowsAndFinalLineFeeds) {
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        quib::testing::TmuxServer server;
        // In the C locale, so that the shell has nothing to complain of on the pane first.
        ASSERT_TRUE(server.run(
            {"new-session", "-d", "-e", "LC_ALL=C", "-s", "rows", "-x", "40", "-y", "6", "printf 'quib$'; exec cat"}));
        RealMirror mirror(way.control());
        mirror->start("rows:0.0", "Rows");
        const auto shown =
            mirror.waitFor([](const Sent& one) { return one.payload.find("quib$") != std::string::npos; });
        mirror->stop();
        ASSERT_TRUE(shown) << "the pane never showed its prompt";
        EXPECT_EQ(shown->payload, "quib$\n\n\n\n\n\n");
        EXPECT_EQ(shown->frame.columns, 40);
        EXPECT_EQ(shown->frame.rows, 6);
        const auto printed = Subprocess::runBytes(*Tmux().executableURL(), quib::PaneMirror::arguments("rows:0.0"),
                                                  std::nullopt, Tmux::timeout);
        ASSERT_TRUE(printed.ok);
        EXPECT_EQ("40 6\n" + shown->payload, printed.output);
    }
}

TEST_F(PaneMirror, RebuildsWhatARunPrintsFromTheClientsTwoAnswers) {
    using Reply = quib::TmuxControl::Reply;
    using State = Reply::State;
    const auto ok = [](std::string output, std::size_t lines) { return Reply{State::answered, true, output, lines}; };
    const Reply size = ok("40 3", 1);
    struct Case {
        const char* name;
        std::vector<Reply> replies;
        std::optional<std::string> printed;
    };
    const std::vector<Case> cases = {
        {"size and rows", {size, ok("a\n\nb", 3)}, "40 3\na\n\nb\n"},
        {"blank rows", {ok("40 2", 1), ok("\n", 2)}, "40 2\n\n\n"},
        {"one blank row", {ok("40 1", 1), ok("", 1)}, "40 1\n\n"},
        {"fewer rows than the size says", {size, ok("a\nb", 2)}, std::nullopt},
        {"more rows than the size says", {size, ok("a\nb\nc\nd", 4)}, std::nullopt},
        {"a size of two lines", {ok("40 3\n40 3", 2), ok("a\nb\nc", 3)}, std::nullopt},
        {"a size without rows", {ok("40", 1), ok("a\nb\nc", 3)}, std::nullopt},
        {"a size tmux refused", {Reply{State::answered, false, "can't find pane: %9", 1}}, std::nullopt},
        {"contents tmux refused", {size, Reply{State::answered, false, "no", 1}}, std::nullopt},
        {"contents lost", {size, Reply{State::unknown, false, "", 0}}, std::nullopt},
        {"never sent", {Reply{}}, std::nullopt},
        {"bytes that are not UTF-8", {ok("40 1", 1), ok("\xff", 1)}, ""},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        EXPECT_EQ(quib::PaneMirror::printed(one.replies), one.printed);
    }
}

// The same pane read through the control client and through a run gives the same frame, whatever
// it shows; the client's reading runs nothing.
TEST_F(PaneMirror, PollsThroughTheClientGiveTheFramesOfARun) {
    quib::testing::TmuxServer server;
    ASSERT_TRUE(server.run({"new-session", "-d", "-s", "same", "-x", "40", "-y", "6", "exec cat"}));
    const std::vector<std::pair<const char*, std::string>> panes = {
        {"colours and attributes", "\\033[1;31mred\\033[0m \\033[4;44munder\\033[0m\\nend"},
        {"UTF-8, wide and combining", "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 e\xcc\x81\\nend"},
        {"blank rows first", "\\n\\n\\nend"},
        {"lines like the client's guards", "%%begin 1 1 1\\n%%end 1 1 1\\n%%error 1 1 1\\n%%exit\\nend"},
        {"every row written", "1\\n2\\n3\\n4\\n5\\nend"},
        {"a line that wraps", std::string(100, 'x') + "end"},
    };
    CountedTmux runs;
    quib::TmuxControl control;
    const auto clock = quib::SystemClock::shared();
    const auto readThrough = [&](quib::TmuxControl* client, const std::optional<quib::PaneMirrorMarks>& probed) {
        return quib::PaneMirror::read(runs.tmux(), client, "same:0.0", "Same", *clock, probed);
    };
    for (const auto& [name, shown] : panes) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(server.run({"respawn-pane", "-k", "-t", "same:0.0", "printf '" + shown + "'; exec cat"}));
        quib::PaneMirror::Reading ran;
        ASSERT_TRUE(eventually([&] {
            ran = readThrough(nullptr, std::nullopt);
            return quib::textOf(ran.payload).find("end\n") != std::string::npos;
        }));
        const int before = runs.runs();
        const auto answered = readThrough(&control, std::nullopt);
        EXPECT_EQ(answered.frame.kind, ViewFrame::Kind::text);
        expectSameFrame(answered, ran);
        // After marks read on their own, the pair alone gives the same frame, with those marks.
        const auto probed =
            quib::PaneMirrorMarks::parse(control.run(quib::PaneMirrorMarks::arguments("same:0.0")).output);
        ASSERT_TRUE(probed);
        const auto afterProbe = readThrough(&control, probed);
        EXPECT_EQ(afterProbe.marks, probed);
        expectSameFrame(afterProbe, ran);
        EXPECT_EQ(runs.runs(), before);
    }
    EXPECT_EQ(control.starts(), 1u);
}

// A client that ends, says too little or falls out of step leaves the poll to one run, which
// gives the frame a run gives; a client out of step is let go.
TEST_F(PaneMirror, AClientThatFailsMidPollLeavesThePollToARun) {
    quib::testing::TmuxServer server;
    // In the C locale, so that the shell has nothing to complain of on the pane first.
    ASSERT_TRUE(server.run(
        {"new-session", "-d", "-e", "LC_ALL=C", "-s", "fall", "-x", "40", "-y", "6", "printf 'back\\n'; exec cat"}));
    quib::testing::ScratchFolder folder("pane-client");
    struct Case {
        const char* name;
        std::string says;         // after the client read the command line
        std::size_t startsAfter;  // clients started by two polls
    };
    const std::vector<Case> cases = {
        {"ends before answering", "exit 0", 2},
        {"ends mid-answer", "echo '%begin 1 1 1'; echo '40 6'; echo '%end 1 1 1'; echo '%begin 1 2 1'; echo row", 2},
        {"says nothing tmux would", "echo '%begin x'; echo '40 6'", 2},
        {"answers fewer rows than the size",
         "echo '%begin 1 1 1'; echo '1 2 %0'; echo '%end 1 1 1'; echo '%begin 1 2 1'; echo '40 6'; "
         "echo '%end 1 2 1'; echo '%begin 1 3 1'; echo row; echo '%end 1 3 1'; exec cat > /dev/null",
         2},
        {"refuses the marks",
         "while :; do echo '%begin 1 1 1'; echo no; echo '%error 1 1 1'; read -r command || exit 0; done", 1},
    };
    CountedTmux runs;
    const auto clock = quib::SystemClock::shared();
    const auto marks =
        quib::PaneMirrorMarks::parse(server.run(quib::PaneMirrorMarks::arguments("fall:0.0")).value_or(""));
    ASSERT_TRUE(marks);
    quib::PaneMirror::Reading ran;
    ASSERT_TRUE(eventually([&] {
        ran = quib::PaneMirror::read(runs.tmux(), nullptr, "fall:0.0", "Fall", *clock);
        return quib::textOf(ran.payload).starts_with("back\n");
    }));
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        const auto client = folder.path / "tmux";
        quib::testing::writeFile(client, "#!/bin/sh\nread -r command\n" + one.says + "\n");
        std::filesystem::permissions(client, std::filesystem::perms::owner_all);
        quib::TmuxControl control(Tmux({client}));
        // The second poll comes after marks of its own, and asks the client for the pair alone.
        for (const auto& probed : {std::optional<quib::PaneMirrorMarks>(), marks}) {
            const int before = runs.runs();
            const auto reading = quib::PaneMirror::read(runs.tmux(), &control, "fall:0.0", "Fall", *clock, probed);
            expectSameFrame(reading, ran);
            EXPECT_FALSE(reading.marks);
            EXPECT_EQ(runs.runs(), before + 1);
        }
        EXPECT_EQ(control.starts(), one.startsAfter);
    }
}

// A control client that answers from files: the marks from "marks", a capture with a 40 × 2 size
// and the rows of "rows". It logs what each command line asked for: "marks", "capture" (the pair
// alone) or "marks and capture". Once it has answered marks alone, "landing" (when there is one)
// becomes the marks: a change that comes between a poll's two exchanges.
class FileControl {
public:
    FileControl() {
        set("100 150 %1 @1 7 0 40 2 0 1 0 0 0", "a\nb");
        const auto client = folder_.path / "tmux";
        quib::testing::writeFile(client, R"sh(#!/bin/sh
cd "$(dirname "$0")"
n=0
answer() { n=$((n+1)); echo "%begin 1 $n 1"; printf '%s\n' "$1"; echo "%end 1 $n 1"; }
while read -r command; do
  case "$command" in
    *window_activity*capture-pane*)
      echo 'marks and capture' >> log; answer "$(cat marks)"; answer '40 2'; answer "$(cat rows)" ;;
    *capture-pane*) echo capture >> log; answer '40 2'; answer "$(cat rows)" ;;
    *) echo marks >> log; answer "$(cat marks)"; if [ -e landing ]; then mv landing marks; fi ;;
  esac
done
)sh");
        std::filesystem::permissions(client, std::filesystem::perms::owner_all);
        control = std::make_shared<quib::TmuxControl>(Tmux({client}));
    }
    void set(const std::string& marks, const std::string& rows, const std::string& landing = "") {
        quib::testing::writeFile(folder_.path / "marks", marks + "\n");
        quib::testing::writeFile(folder_.path / "rows", rows + "\n");
        if (!landing.empty()) quib::testing::writeFile(folder_.path / "landing", landing + "\n");
    }
    // What the client was asked for since the last call.
    std::vector<std::string> asked() {
        auto lines = quib::testing::linesOf(quib::testing::fileContents(folder_.path / "log"));
        std::vector<std::string> since(lines.begin() + static_cast<std::ptrdiff_t>(seen_), lines.end());
        seen_ = lines.size();
        return since;
    }

    std::shared_ptr<quib::TmuxControl> control;

private:
    quib::testing::ScratchFolder folder_{"pane-marks"};
    std::size_t seen_ = 0;
};

// Through the client, a poll captures only when the marks may have moved since the capture's
// own, when it was asked to, and once a full capture interval has passed; otherwise it asks for
// the marks alone and sends nothing. A pane whose marks moved costs two exchanges, the capture
// keeping the marks just read; a change between the two shows against them at the next poll.
TEST_F(PaneMirror, CapturesAnIdlePaneOnlyWhenItsMarksMayHaveMovedOrASecondPassed) {
    FileControl client;
    auto mirror = quib::PaneMirror::create({[this](const ViewFrame& frame, const Bytes& payload) {
                                                std::lock_guard lock(mutex);
                                                sent.push_back({frame, quib::textOf(payload)});
                                            },
                                            tmux.tmux(), clock, &instrumentation, client.control});
    int polls = 1;
    const auto poll = [&] {
        advance(quib::PaneMirror::interval);
        const int due = ++polls;
        return eventually([&] { return clock->scheduled.load() == due; });
    };
    using Asked = std::vector<std::string>;
    const Asked idle = {"marks"};
    const Asked changed = {"marks", "capture"};
    const Asked whole = {"marks and capture"};
    mirror->start("%1", "Marks");
    ASSERT_TRUE(eventually([&] { return clock->scheduled.load() == 1; }));
    EXPECT_EQ(client.asked(), whole);
    struct Step {
        const char* name;
        std::string marks;
        Asked asked;
        std::string landing;
    };
    const std::vector<Step> steps = {
        {"idle", "100 151 %1 @1 7 0 40 2 0 1 0 0 0", idle, ""},
        {"output in the capture's second", "151 151 %1 @1 7 0 40 2 0 1 0 0 0", changed, ""},
        {"idle, in the second of that capture", "151 151 %1 @1 7 0 40 2 0 1 0 0 0", changed, ""},
        {"idle, a second on", "151 152 %1 @1 7 0 40 2 0 1 0 0 0", changed, ""},
        {"idle at last", "151 152 %1 @1 7 0 40 2 0 1 0 0 0", idle, ""},
        {"the cursor moved", "151 153 %1 @1 7 0 40 2 1 1 0 0 0", changed, ""},
        {"marks that do not read", "151 %s %1", {"marks", "marks and capture"}, ""},
        {"marks read again", "151 153 %1 @1 7 0 40 2 1 1 0 0 0", whole, ""},
        {"tmux's clock set back", "151 152 %1 @1 7 0 40 2 1 1 0 0 0", changed, ""},
        {"idle once more", "151 153 %1 @1 7 0 40 2 1 1 0 0 0", idle, ""},
        {"output, and more before the capture", "152 153 %1 @1 7 0 40 2 1 1 0 0 0", changed,
         "153 154 %1 @1 7 0 40 2 1 1 0 0 0"},
        {"what came before the capture", "153 154 %1 @1 7 0 40 2 1 1 0 0 0", changed, ""},
        {"idle after it", "153 154 %1 @1 7 0 40 2 1 1 0 0 0", idle, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        client.set(step.marks, std::string(step.name) + "\nb", step.landing);
        ASSERT_TRUE(poll());
        EXPECT_EQ(client.asked(), step.asked);
    }
    // Asked to, and a full capture interval after the last capture, it captures regardless.
    mirror->invalidate();
    ASSERT_TRUE(poll());
    EXPECT_EQ(client.asked(), whole);
    for (int spell = 1; spell < 10; ++spell) {
        ASSERT_TRUE(poll());
        EXPECT_EQ(client.asked(), idle) << spell;
    }
    client.set("153 154 %1 @1 7 0 40 2 1 1 0 0 0", "found by the full capture\nb");
    ASSERT_TRUE(poll());
    EXPECT_EQ(client.asked(), whole);

    std::vector<std::string> shown;
    for (const auto& one : frames()) shown.push_back(one.payload);
    // The last idle rows show at the capture asked for.
    EXPECT_EQ(shown,
              (std::vector<std::string>{
                  "a\nb\n", "output in the capture's second\nb\n", "idle, in the second of that capture\nb\n",
                  "idle, a second on\nb\n", "the cursor moved\nb\n", "marks that do not read\nb\n",
                  "marks read again\nb\n", "tmux's clock set back\nb\n", "output, and more before the capture\nb\n",
                  "what came before the capture\nb\n", "idle after it\nb\n", "found by the full capture\nb\n"}));
    EXPECT_EQ(tmux.calls(), 0);
    EXPECT_EQ(client.control->starts(), 1u);
}

// After an idle spell (tmux's clock past the pane's last output, and a capture since), the next
// poll has only the marks to go by: whatever is done to the pane shows in its frame then. Each
// move of the clock brings one poll.
TEST_F(PaneMirror, ARealPaneChangedAfterAnIdleSpellShowsAtTheNextPoll) {
    quib::testing::TmuxServer server;
    const std::string pane = "still:0.0";
    ASSERT_TRUE(server.run({"new-session", "-d", "-e", "LC_ALL=C", "-s", "still", "-x", "40", "-y", "6",
                            "printf 'hello\\nworld'; exec sleep 1000"}));
    CountedTmux runs;
    const auto tty = server.run({"display-message", "-p", "-t", pane, "#{pane_tty}"});
    ASSERT_TRUE(tty);
    // Written to the pane's terminal, as its program would.
    const auto print = [&](const std::string& text) { return !!(std::ofstream(*tty) << text << std::flush); };
    const auto tmuxsOwn = [&] {
        const auto reading = quib::PaneMirror::read(Tmux(), nullptr, pane, "Still", *clock);
        return Sent{reading.frame, quib::textOf(reading.payload)};
    };
    const auto contains = [](std::string text) {
        return [text](const Sent& one) { return one.payload.find(text) != std::string::npos; };
    };
    struct Case {
        const char* name;
        std::function<bool()> change;
        std::function<bool(const Sent&)> shows;
    };
    const std::vector<Case> cases = {
        {"text in place, same size and cursor", [&] { return print("\0337\033[1;1HHELLO\0338"); }, contains("HELLO")},
        {"its colour alone", [&] { return print("\0337\033[1;1H\033[31mHELLO\033[0m\0338"); },
         contains("\033[31mHELLO")},
        {"cleared, the cursor kept", [&] { return print("\033[2J"); },
         [](const Sent& one) { return one.payload == std::string(6, '\n'); }},
        {"written to in copy mode",
         [&] {
             return server.run({"copy-mode", "-t", pane}) && print("\0337\033[2;1Hcopied\0338");
         },
         contains("copied")},
        {"resized",
         [&] {
             return !!server.run({"resize-window", "-t", "still", "-x", "30", "-y", "6"});
         },
         [](const Sent& one) { return one.frame.columns == 30; }},
    };
    auto mirror =
        quib::PaneMirror::create({[this](const ViewFrame& frame, const Bytes& payload) {
                                      std::lock_guard lock(mutex);
                                      sent.push_back({frame, quib::textOf(payload)});
                                  },
                                  runs.tmux(), clock, &instrumentation, std::make_shared<quib::TmuxControl>()});
    int polls = 0;
    // A poll may take as long as the client's limit and a run's.
    const auto poll = [&](Duration after) {
        advance(after);
        const int due = ++polls;
        return eventually([&] { return clock->scheduled.load() == due; }, 10s);
    };
    ASSERT_TRUE(eventually([&] { return contains("world")(tmuxsOwn()); }, 5s, nullptr, 20ms));
    mirror->start(pane, "Still");
    ASSERT_TRUE(poll(0ms));
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        ASSERT_TRUE(eventually(
            [&] {
                const auto line = server.run(quib::PaneMirrorMarks::arguments(pane));
                const auto marks = quib::PaneMirrorMarks::parse(line.value_or(""));
                return marks && marks->clock > marks->activity;
            },
            5s, nullptr, 20ms));
        mirror->invalidate();
        ASSERT_TRUE(poll(quib::PaneMirror::interval));
        const std::size_t before = frames().size();
        ASSERT_TRUE(one.change());
        ASSERT_TRUE(eventually([&] { return one.shows(tmuxsOwn()); }, 5s, nullptr, 20ms));
        ASSERT_TRUE(poll(quib::PaneMirror::interval));
        const auto all = frames();
        ASSERT_EQ(all.size(), before + 1);
        EXPECT_TRUE(one.shows(all.back())) << all.back().payload;
    }
    EXPECT_EQ(runs.runs(), 0);
}
