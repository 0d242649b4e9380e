// One poll of a 200 × 50 pane full of coloured text: ours (one tmux run for size and contents,
// the parse, the digest and the frame written) against a plain poller's two tmux runs
// (display-message for the size, then capture-pane). Both run on a tmux server of the
// benchmark's own.
//
// Besides the time per poll (p50_ms, p95_ms), each reports the processor time of one second of
// polling at 10 Hz (cpu_ms_per_s_at_10Hz): this process, the tmux clients it waited for and the
// tmux server, which does the capturing.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Benchmarks/Support/PrivateTmux.hpp"
#include "QuibHost/Streaming/PaneMirror.hpp"
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

double processSeconds() {
    double seconds = 0;
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

void BM_PanePollOneRunParseDigestFrame(benchmark::State& state) {
    const auto clock = quib::SystemClock::shared();
    measurePolls(state, [&] {
        ColouredPane& tmux = colouredPane();
        const auto reading = quib::PaneMirror::read(tmux.tmux(), nullptr, tmux.pane(), "Bench · bench:0.0", *clock);
        const auto frame = quib::ViewFrameWriter::encode(reading.frame, reading.payload);
        benchmark::DoNotOptimize(frame);
        return frame && reading.frame.kind == quib::ViewFrame::Kind::text && reading.payload.size() > 9000;
    });
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

}  // namespace
