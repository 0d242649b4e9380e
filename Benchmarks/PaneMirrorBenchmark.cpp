// One poll of a 200 × 50 pane full of coloured text: ours through the kept control client and
// through its fallback (one tmux run for size and contents), each with the parse, the digest and
// the frame written, against a plain poller's two tmux runs (display-message for the size, then
// capture-pane). All run on a tmux server of the benchmark's own.
//
// BM_ChangedPanePollThroughControlClient is the poll of a pane whose marks moved since its last
// capture: the marks alone, then the capture, as the mirror asks the control client for them.
//
// Besides the time per poll (p50_ms, p95_ms), each reports the processor time of one second of
// polling at 10 Hz (cpu_ms_per_s_at_10Hz): this process, the tmux clients it started (the kept
// one included) and the tmux server, which does the capturing.
//
// BM_MirroredPaneCpuBesideCapturePaneLoop mirrors the same pane as the host does, a PaneMirror
// polling through the control client every 100 ms, in turns with a loop that runs
// `tmux capture-pane -p -e` at the same interval, and reports the processor time of each per
// second of wall time and their ratio. The pane stays idle: the mirror asks for its marks each
// poll and captures it once a second.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "Benchmarks/Support/PrivateTmux.hpp"
#include "Benchmarks/Support/ProcessCpu.hpp"
#include "QuibHost/Streaming/PaneMirror.hpp"
#include "QuibHost/Streaming/PaneMirrorMarks.hpp"
#include "Shared/ViewFrame.hpp"
#include "Tests/Support/Eventually.hpp"

namespace {

// A private tmux server whose one 200 × 50 pane shows 49 lines of coloured words.
class ColouredPane {
public:
    ColouredPane() {
        const auto text = tmux_.folder() / "colours.txt";
        std::ofstream(text) << colouredText();
        if (!tmux_.startSession("cat '" + text.string() + "'; exec cat")) return;
        serverPid_ = tmux_.output({"display-message", "-p", "#{pid}"}).value_or("");
        // Until the pane shows the last line, a poll would read a part of it.
        const bool shown = quib::testing::eventually(
            [&] {
                const auto shown = tmux_.output({"capture-pane", "-p", "-t", "bench:0.0"});
                return shown && shown->find("line 49") != std::string::npos;
            },
            std::chrono::seconds(2), nullptr, std::chrono::milliseconds(10));
        if (shown) pane_ = "bench:0.0";
    }
    const std::string& pane() const { return pane_; }
    const quib::Tmux& tmux() const { return tmux_.tmux(); }

    // The tmux server's processor time so far, in seconds.
    double serverSeconds() const {
        std::ifstream stat("/proc/" + serverPid_ + "/stat");
        std::string all((std::istreambuf_iterator<char>(stat)), {});
        const auto close = all.rfind(')');
        if (close == std::string::npos) return 0;
        std::istringstream fields(all.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int index = 3; fields >> field && index <= 15; ++index)
            if (index == 14 || index == 15) ticks += std::stod(field);  // utime, stime
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    // 49 lines of 200 columns, a colour change every word.
    static std::string colouredText() {
        std::string text;
        for (int line = 1; line <= 49; ++line) {
            std::string plain = "line " + std::to_string(line);
            text += plain;
            for (int word = 0; plain.size() + 8 <= 200; ++word) {
                text += "\x1b[3" + std::to_string(1 + (line + word) % 7) + "m colour\x1b[0m";
                plain += " colour";
            }
            text += "\n";
        }
        return text;
    }

    quib::bench::PrivateTmux tmux_;
    std::string pane_;
    std::string serverPid_;
};

ColouredPane& colouredPane() {
    static ColouredPane tmux;
    return tmux;
}

// This process, the children it reaped and those that still run.
double processSeconds() {
    double seconds = quib::bench::liveChildrenCpu();
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

// Runs `poll` once an iteration and reports the percentiles of its time and the processor time
// that ten polls a second would take.
void measurePolls(benchmark::State& state, const std::function<bool()>& poll) {
    ColouredPane& tmux = colouredPane();
    if (tmux.pane().empty()) return state.SkipWithError("no tmux server");
    std::vector<double> millis;
    const double cpuBefore = processSeconds() + tmux.serverSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!poll()) return state.SkipWithError("the poll failed");
        millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    const double cpu = processSeconds() + tmux.serverSeconds() - cpuBefore;
    std::sort(millis.begin(), millis.end());
    state.counters["p50_ms"] = millis[millis.size() / 2];
    state.counters["p95_ms"] = millis[std::min(millis.size() - 1, millis.size() * 95 / 100)];
    state.counters["cpu_ms_per_s_at_10Hz"] = cpu * 1000 / static_cast<double>(millis.size()) * 10;
}

// One poll as the mirror makes it, through `control` when given, after the marks `probed` when
// given.
bool pollParseDigestFrame(quib::TmuxControl* control, const std::optional<quib::PaneMirrorMarks>& probed = {}) {
    ColouredPane& tmux = colouredPane();
    const auto reading = quib::PaneMirror::read(tmux.tmux(), control, tmux.pane(), "Bench · bench:0.0",
                                                *quib::SystemClock::shared(), probed);
    const auto frame = quib::ViewFrameWriter::encode(reading.frame, reading.payload);
    benchmark::DoNotOptimize(frame);
    return frame && reading.frame.kind == quib::ViewFrame::Kind::text && reading.payload.size() > 9000;
}

void BM_PanePollThroughControlClient(benchmark::State& state) {
    quib::TmuxControl control;
    if (colouredPane().pane().empty() || !pollParseDigestFrame(&control)) return state.SkipWithError("no client");
    measurePolls(state, [&] { return pollParseDigestFrame(&control) && control.starts() == 1; });
}
BENCHMARK(BM_PanePollThroughControlClient)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void BM_ChangedPanePollThroughControlClient(benchmark::State& state) {
    quib::TmuxControl control;
    if (colouredPane().pane().empty() || !pollParseDigestFrame(&control)) return state.SkipWithError("no client");
    measurePolls(state, [&] {
        const auto reply = control.run(quib::PaneMirrorMarks::arguments(colouredPane().pane()));
        const auto marks = quib::PaneMirrorMarks::parse(reply.output);
        return marks && pollParseDigestFrame(&control, marks) && control.starts() == 1;
    });
}
BENCHMARK(BM_ChangedPanePollThroughControlClient)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void BM_PanePollOneRunParseDigestFrame(benchmark::State& state) {
    measurePolls(state, [] { return pollParseDigestFrame(nullptr); });
}
BENCHMARK(BM_PanePollOneRunParseDigestFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void BM_PanePollTwoTmuxRuns(benchmark::State& state) {
    measurePolls(state, [] {
        ColouredPane& tmux = colouredPane();
        const auto size =
            tmux.tmux().run({"display-message", "-p", "-t", tmux.pane(), "-F", "#{pane_width} #{pane_height}"});
        const auto contents = tmux.tmux().run({"capture-pane", "-p", "-e", "-t", tmux.pane()});
        benchmark::DoNotOptimize(contents);
        return size && size->ok && contents && contents->ok && contents->output.size() > 9000;
    });
}
BENCHMARK(BM_PanePollTwoTmuxRuns)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

// Processor time per second of wall time while something ran: all of it, and the tmux server's
// part.
struct CpuRate {
    double total = 0;
    double server = 0;
};

CpuRate cpuMillisPerSecond(std::chrono::milliseconds span,
                           const std::function<void(std::chrono::milliseconds)>& during) {
    const double process = processSeconds();
    const double server = colouredPane().serverSeconds();
    const auto start = std::chrono::steady_clock::now();
    during(span);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double serverSpent = colouredPane().serverSeconds() - server;
    return {(processSeconds() - process + serverSpent) * 1000 / wall, serverSpent * 1000 / wall};
}

// Real time, counting what is scheduled on it: every poll of a mirror ends by scheduling the next.
class CountingClock final : public quib::Clock {
public:
    quib::MonoTime now() const override { return real_->now(); }
    quib::WallTime wallNow() const override { return real_->wallNow(); }
    quib::Cancellable schedule(quib::MonoTime deadline, std::function<void()> fire) override {
        ++scheduled;
        return real_->schedule(deadline, std::move(fire));
    }
    std::atomic<int> scheduled = 0;

private:
    std::shared_ptr<quib::SystemClock> real_ = quib::SystemClock::shared();
};

// The host's way: a mirror of the pane polling through its own control client, which starts at
// its first poll, before the time counts. A poll that ran tmux instead spoils the measure.
CpuRate mirrorThroughControl(std::chrono::milliseconds span, int& polls) {
    std::atomic<int> frames = 0;
    std::atomic<int> runs = 0;
    const quib::Tmux counted({quib::Tmux::standardPaths.begin(), quib::Tmux::standardPaths.end()},
                             [&](const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                                 std::optional<std::string_view> input) {
                                 ++runs;
                                 return quib::Subprocess::run(tmux, arguments, input, quib::Tmux::timeout,
                                                              quib::Subprocess::Ends::kept);
                             });
    auto clock = std::make_shared<CountingClock>();
    auto control = std::make_shared<quib::TmuxControl>();
    auto mirror = quib::PaneMirror::create(
        {[&](const quib::ViewFrame&, const quib::Bytes&) { ++frames; }, counted, clock, nullptr, control});
    mirror->start(colouredPane().pane(), "Bench · bench:0.0");
    if (!quib::testing::eventually([&] { return frames.load() > 0; })) return {-1, 0};
    const int before = clock->scheduled.load();
    const CpuRate cpu = cpuMillisPerSecond(span, [](auto span) { std::this_thread::sleep_for(span); });
    polls = clock->scheduled.load() - before;
    mirror->stop();
    mirror.reset();
    return control->starts() == 1 && runs.load() == 0 ? cpu : CpuRate{-1, 0};
}

// The baseline: `tmux capture-pane -p -e` every 100 ms, each run due at the next multiple of the
// interval, as the mirror's polls are.
CpuRate captureLoop(std::chrono::milliseconds span) {
    const auto& tmux = colouredPane().tmux();
    const std::vector<std::string> capture = {"capture-pane", "-p", "-e", "-t", colouredPane().pane()};
    bool failed = false;
    const CpuRate cpu = cpuMillisPerSecond(span, [&](auto span) {
        const auto start = std::chrono::steady_clock::now();
        for (auto due = start; due < start + span; due += quib::PaneMirror::interval) {
            std::this_thread::sleep_until(due);
            const auto run = tmux.run(capture);
            failed = failed || !run || !run->ok;
        }
        std::this_thread::sleep_until(start + span);
    });
    return failed ? CpuRate{-1, 0} : cpu;
}

void BM_MirroredPaneCpuBesideCapturePaneLoop(benchmark::State& state) {
    if (colouredPane().pane().empty()) return state.SkipWithError("no tmux server");
    // Short turns, many of them, so that both see the same load on the machine.
    constexpr auto span = std::chrono::seconds(2);
    constexpr int turns = 8;
    CpuRate ours;
    CpuRate loop;
    double pollsPerSecond = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < turns; ++turn) {
            int polls = 0;
            const CpuRate mirrored = mirrorThroughControl(span, polls);
            pollsPerSecond += polls / std::chrono::duration<double>(span).count() / turns;
            const CpuRate looped = captureLoop(span);
            if (mirrored.total < 0 || looped.total < 0) return state.SkipWithError("a poll failed");
            ours.total += mirrored.total / turns;
            ours.server += mirrored.server / turns;
            loop.total += looped.total / turns;
            loop.server += looped.server / turns;
        }
    }
    state.counters["ours_cpu_ms_per_s"] = ours.total;
    state.counters["ours_server_ms_per_s"] = ours.server;
    state.counters["capture_loop_cpu_ms_per_s"] = loop.total;
    state.counters["capture_loop_server_ms_per_s"] = loop.server;
    state.counters["ratio"] = ours.total / loop.total;
    state.counters["our_polls_per_s"] = pollsPerSecond;
}
BENCHMARK(BM_MirroredPaneCpuBesideCapturePaneLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
