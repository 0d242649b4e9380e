// A pointer move on the X display named by QUIB_TEST_DISPLAY (else DISPLAY): from the decoding of
// the phone's line to the post of the motion, through the host's injector and its X11 poster,
// against a bare XTestFakeMotionEvent followed by XSync on a connection of its own. Both go back
// and forth across the middle of the screen. Each reports the 50th, 95th and 99th percentile in
// milliseconds.
#include <benchmark/benchmark.h>

#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Targets/EventInjector.hpp"

// Xlib names an event type so; the phone's message of that name is meant below.
#undef ClientMessage
#include "Shared/ClientMessage.hpp"
#include "Shared/QuibCoder.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using quib::bench::displayName;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_PointerMoveFromDecodeToPost(benchmark::State& state) {
    auto desktop = quib::X11Desktop::open(displayName());
    if (!desktop) return state.SkipWithError("no X display with XTEST");
    auto injector = quib::EventInjector::create({.desktop = desktop->services, .permissions = desktop->permissions});
    injector->point({500, 500});
    const std::vector<std::string> lines = {R"({"move":{"dx":3.5,"dy":-1.25}})", R"({"move":{"dx":-3.5,"dy":1.25}})"};
    std::vector<double> millis;
    std::size_t turn = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto message = quib::QuibCoder::decode<quib::ClientMessage>(lines[turn++ % 2]);
        const auto& move = std::get<quib::ClientMessage::Move>(message->value);
        injector->move(move.dx, move.dy);
        millis.push_back(millisSince(start));
    }
    quib::bench::reportLatencies(state, millis);
}
BENCHMARK(BM_PointerMoveFromDecodeToPost)->Iterations(20000)->UseRealTime();

void BM_XTestMotionWithSync(benchmark::State& state) {
    auto connection = quib::X11Connection::open(displayName());
    if (!connection) return state.SkipWithError("no X display");
    std::vector<double> millis;
    int x = 500;
    for (auto _ : state) {
        const auto start = Clock::now();
        x = x == 500 ? 504 : 500;
        connection->use([&](Display* display) {
            XTestFakeMotionEvent(display, DefaultScreen(display), x, 500, CurrentTime);
            XSync(display, False);
        });
        millis.push_back(millisSince(start));
    }
    quib::bench::reportLatencies(state, millis);
}
BENCHMARK(BM_XTestMotionWithSync)->Iterations(20000)->UseRealTime();

}  // namespace
