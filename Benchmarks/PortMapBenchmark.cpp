// Mapping the away port and deleting it again against a router on 127.0.0.1 that answers at
// once, by PCP and by NAT-PMP, beside Debian's natpmpc asking the same router for a NAT-PMP
// mapping (its two exchanges, as the host's NAT-PMP path makes them).
//
// natpmpc speaks only to port 5351, so the router listens there; when the port is taken the
// baseline is skipped. Run as root under `unshare -n` (with `ip link set lo up`) to be sure of it.
//
// The UPnP cases need real multicast, so they run only inside the router namespace that the
// router-namespace test makes (as root; they skip elsewhere):
//   Tests/Reach/private-network.sh router build/release/Tests/Reach/quib-fake-router
//       build/release/Benchmarks/PortMapBenchmark --benchmark_filter=UPnP
// (one command line).
// Their baseline is Debian's upnpc against the same fake router (apt-get install miniupnpc;
// skipped without it). The host waits out the whole search window, so its time after the window
// is given apart, beside upnpc told the description's address instead of searching.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "Benchmarks/Support/NullSink.hpp"
#include "Platform/Linux/CurlPoster.hpp"
#include "QuibHost/Reach/AbsentUPnPMapping.hpp"
#include "QuibHost/Reach/GatewayFinder.hpp"
#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/UPnPGateway.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Subprocess.hpp"
#include "Tests/Support/FakeRouter.hpp"
#include "Tests/Support/Process/HostProcess.hpp"

namespace {

using namespace std::chrono_literals;
using quib::bench::NullSink;
using quib::testing::FakeRouter;

constexpr std::uint16_t awayPort = 61423;
const char* const natpmpc = "/usr/bin/natpmpc";
const char* const upnpc = "/usr/bin/upnpc";

// Whether the router answers PCP, or only NAT-PMP (and PCP with NAT-PMP's version).
std::atomic<bool> speaksPCP = true;

std::vector<FakeRouter::Answer> answer(const quib::Bytes& request) {
    if (FakeRouter::isPCP(request)) {
        if (!speaksPCP) return {{quib::Bytes{0x00, 0x81, 0x00, 0x01, 0x00, 0x00, 0x04, 0xD2}}};
        return {{FakeRouter::pcpAnswer(request, 0, FakeRouter::lifetimeOf(request), "203.0.113.7", awayPort)}};
    }
    if (FakeRouter::isNATPMPMap(request)) {
        return {{FakeRouter::natpmpMapAnswer(request, 0, awayPort, FakeRouter::lifetimeOf(request))}};
    }
    return {{FakeRouter::natpmpAddressAnswer(0, "203.0.113.7")}};
}

// On 127.0.0.1:5351 when it is free, else on any port (and then without the baseline).
FakeRouter& router() {
    static FakeRouter onPortMappingPort(answer, 5351);
    static FakeRouter onAnyPort(onPortMappingPort.isListening() ? FakeRouter::Script() : answer, 0);
    return onPortMappingPort.isListening() ? onPortMappingPort : onAnyPort;
}

void mapThenUnmap(benchmark::State& state, bool pcp) {
    FakeRouter& fake = router();
    if (!fake.isListening()) return state.SkipWithError("no UDP port on 127.0.0.1");
    speaksPCP = pcp;
    quib::Logger::setSink(std::make_shared<NullSink>());
    const auto endpoint = fake.endpoint();
    quib::PortMapper mapper({{}, std::make_shared<quib::AbsentUPnPMapping>(), [endpoint] {
                                 return quib::PortMapper::Gateway{endpoint, std::nullopt};
                             }});
    const char* const via = pcp ? "PCP" : "NAT-PMP";
    for (auto _ : state) {
        std::promise<quib::PortMapper::Outcome> mapped;
        std::promise<void> unmapped;
        mapper.map(awayPort, 7200, quib::CancelToken(),
                   [&](quib::PortMapper::Outcome o) { mapped.set_value(std::move(o)); });
        mapper.unmap(awayPort, quib::CancelToken(), [&] { unmapped.set_value(); });
        const auto outcome = mapped.get_future().get();
        unmapped.get_future().wait();
        const auto* mapping = std::get_if<quib::PortMapper::Mapping>(&outcome);
        if (!mapping || mapping->via != via) return state.SkipWithError("the router did not map the port");
    }
}

void BM_PortMapperMapThenUnmapByPCP(benchmark::State& state) { mapThenUnmap(state, true); }
BENCHMARK(BM_PortMapperMapThenUnmapByPCP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PortMapperMapThenUnmapByNATPMP(benchmark::State& state) { mapThenUnmap(state, false); }
BENCHMARK(BM_PortMapperMapThenUnmapByNATPMP)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: `natpmpc -g 127.0.0.1 -a P P tcp 7200`, its process start included.
void BM_NatpmpcMap(benchmark::State& state) {
    FakeRouter& fake = router();
    if (fake.port() != 5351) return state.SkipWithError("127.0.0.1:5351 is taken; run under unshare -n as root");
    if (::access(natpmpc, X_OK) != 0) return state.SkipWithError("natpmpc is not installed");
    speaksPCP = false;
    const std::string port = std::to_string(awayPort);
    for (auto _ : state) {
        const auto result =
            quib::Subprocess::run(natpmpc, {"-g", "127.0.0.1", "-a", port, port, "tcp", "7200"}, std::nullopt, 5s);
        if (!result.ok) return state.SkipWithError(("natpmpc failed: " + result.output).c_str());
    }
}
BENCHMARK(BM_NatpmpcMap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

using SteadyClock = std::chrono::steady_clock;

// The router namespace's addresses (Tests/Reach/private-network.sh).
const char* const hostAddress = "10.77.0.2";
const char* const description = "http://10.77.0.1:5000/rootDesc.xml";

bool inRouterNamespace(benchmark::State& state) {
    const char* inside = std::getenv("QUIB_ROUTER_NAMESPACE");
    if (inside && std::string(inside) == "1") return true;
    state.SkipWithError("needs the router namespace: run through Tests/Reach/private-network.sh as root");
    return false;
}

double milliseconds(SteadyClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Search, description, probe, AddPortMapping and GetExternalIPAddress, then DeletePortMapping,
// with a gateway that knows nothing yet each time.
void BM_UPnPGatewayMapThenUnmap(benchmark::State& state) {
    if (!inRouterNamespace(state)) return;
    quib::Logger::setSink(std::make_shared<NullSink>());
    const auto gateway = quib::GatewayFinder::find();
    if (!gateway) return state.SkipWithError("no gateway in this namespace");
    const auto poster = std::make_shared<quib::CurlPoster>();
    const quib::ReachTimings timings;
    double afterWindow = 0;
    double unmapping = 0;
    for (auto _ : state) {
        quib::UPnPGateway upnp({poster, timings, {}});
        const auto started = SteadyClock::now();
        const auto mapping = upnp.map(awayPort, 7200, gateway->interface, quib::CancelToken());
        const auto mapped = SteadyClock::now();
        upnp.unmap(awayPort, gateway->interface, quib::CancelToken());
        afterWindow += milliseconds(mapped - started - timings.ssdpWindow);
        unmapping += milliseconds(SteadyClock::now() - mapped);
        if (!mapping || mapping->via != "UPnP") return state.SkipWithError("the router did not map the port");
    }
    state.counters["mapAfterWindow_ms"] = benchmark::Counter(afterWindow, benchmark::Counter::kAvgIterations);
    state.counters["unmap_ms"] = benchmark::Counter(unmapping, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UPnPGatewayMapThenUnmap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// upnpc with its arguments; false (and the benchmark skipped) when it fails.
bool runUpnpc(benchmark::State& state, std::vector<std::string> arguments) {
    const auto result = quib::Subprocess::run(upnpc, arguments, std::nullopt, 20s);
    if (!result.ok) state.SkipWithError(("upnpc failed: " + result.output).c_str());
    return result.ok;
}

// The baseline: `upnpc -i -e Quib -a 10.77.0.2 P P TCP 7200` (its own search included), then
// `upnpc -i -d P TCP`, with their process starts.
void BM_UPnPUpnpcAddThenDelete(benchmark::State& state) {
    if (!inRouterNamespace(state)) return;
    if (::access(upnpc, X_OK) != 0) return state.SkipWithError("upnpc is not installed (apt-get install miniupnpc)");
    const std::string port = std::to_string(awayPort);
    double adding = 0;
    for (auto _ : state) {
        const auto started = SteadyClock::now();
        if (!runUpnpc(state, {"-i", "-e", "Quib", "-a", hostAddress, port, port, "TCP", "7200"})) return;
        adding += milliseconds(SteadyClock::now() - started);
        if (!runUpnpc(state, {"-i", "-d", port, "TCP"})) return;
    }
    state.counters["add_ms"] = benchmark::Counter(adding, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UPnPUpnpcAddThenDelete)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The baseline of the time after the window: upnpc told where the description is, no search.
void BM_UPnPUpnpcAddByDescription(benchmark::State& state) {
    if (!inRouterNamespace(state)) return;
    if (::access(upnpc, X_OK) != 0) return state.SkipWithError("upnpc is not installed (apt-get install miniupnpc)");
    const std::string port = std::to_string(awayPort);
    for (auto _ : state) {
        if (!runUpnpc(state, {"-u", description, "-i", "-e", "Quib", "-a", hostAddress, port, port, "TCP", "7200"}))
            return;
    }
}
BENCHMARK(BM_UPnPUpnpcAddByDescription)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

// The whole away switch as a person meets it, inside the router namespace: `quibctl away on`,
// then `quibctl away` asked again until it says "status: reachable", against a real quib-host
// that finds the fake router through its route table. The fake speaks what its run was started
// with (QUIB_FAKE_ROUTER_PCP=1, QUIB_FAKE_ROUTER_NATPMP=1, both, or neither for UPnP), and the
// label names the protocol the host used. The figure includes the last `quibctl away` run.
// Baselines in the same run: natpmpc -a against the same fake (NAT-PMP on), and
// BM_UPnPUpnpcAddThenDelete (UPnP).
namespace {

using quib::testing::quibctl;
using quib::testing::TempHome;

// Asks `quibctl away` until it prints `line`, for at most `limit`; the last output, or none.
std::optional<std::string> awaitAway(const TempHome& home, const std::string& line, SteadyClock::duration limit) {
    const auto deadline = SteadyClock::now() + limit;
    std::string out;
    while (SteadyClock::now() < deadline) {
        out = quibctl(home, {"away"}).out;
        if (out.find(line) != std::string::npos) return out;
    }
    return std::nullopt;
}

// How many mappings the fake router has deleted so far, by any protocol.
std::size_t deletions() {
    std::size_t count = 0;
    std::ifstream in(std::getenv("QUIB_FAKE_ROUTER_RECORD"));
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("pcp deleted ") || line.starts_with("natpmp deleted ") ||
            (line.starts_with("http POST ") && line.find("#DeletePortMapping ") != std::string::npos)) {
            ++count;
        }
    }
    return count;
}

// Each switch-off is let finish on the router (it unmaps behind the published "off"), so that no
// measured switch-on waits behind the last one's unmap.
void BM_HostAwayOnUntilReachable(benchmark::State& state) {
    if (!inRouterNamespace(state)) return;
    TempHome home;
    (void)home.defaults()->setInteger("quib.awayPort", awayPort);
    quib::testing::setStunServersBeforeStart(home, {"10.77.0.1:3478"});
    const auto host = quib::testing::HostProcess::start(home);
    if (!host) return state.SkipWithError("quib-host did not start");
    std::string via;
    for (auto _ : state) {
        if (quibctl(home, {"away", "on"}).status != 0) return state.SkipWithError("quibctl away on failed");
        const auto shown = awaitAway(home, "status: reachable\n", 10s);
        if (!shown) return state.SkipWithError("the host never became reachable");
        state.PauseTiming();
        const auto detail = shown->find("detail: ");
        if (detail != std::string::npos) via = shown->substr(detail + 8, shown->find(' ', detail + 8) - detail - 8);
        const auto deleted = deletions();
        quibctl(home, {"away", "off"});
        if (!awaitAway(home, "status: off\n", 10s)) return state.SkipWithError("the host never switched off");
        for (const auto end = SteadyClock::now() + 15s; deletions() == deleted && SteadyClock::now() < end;) {
            std::this_thread::sleep_for(10ms);
        }
        state.ResumeTiming();
    }
    state.SetLabel(via);
}
BENCHMARK(BM_HostAwayOnUntilReachable)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The baseline: `natpmpc -g 10.77.0.1 -a P P tcp 7200`, its process start included.
void BM_NatpmpcInRouterNamespace(benchmark::State& state) {
    if (!inRouterNamespace(state)) return;
    if (::access(natpmpc, X_OK) != 0) return state.SkipWithError("natpmpc is not installed");
    const std::string port = std::to_string(awayPort);
    for (auto _ : state) {
        const auto result =
            quib::Subprocess::run(natpmpc, {"-g", "10.77.0.1", "-a", port, port, "tcp", "7200"}, std::nullopt, 10s);
        if (!result.ok || result.output.find("Mapped public port") == std::string::npos) {
            return state.SkipWithError(("natpmpc failed (is NAT-PMP on?): " + result.output).c_str());
        }
    }
}
BENCHMARK(BM_NatpmpcInRouterNamespace)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
