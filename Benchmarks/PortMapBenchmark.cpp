// Mapping the away port and deleting it again against a router on 127.0.0.1 that answers at
// once, by PCP and by NAT-PMP, beside Debian's natpmpc asking the same router for a NAT-PMP
// mapping (its two exchanges, as the host's NAT-PMP path makes them).
//
// natpmpc speaks only to port 5351, so the router listens there; when the port is taken the
// baseline is skipped. Run as root under `unshare -n` (with `ip link set lo up`) to be sure of it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <future>

#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Subprocess.hpp"
#include "Tests/Support/FakeRouter.hpp"

namespace {

using namespace std::chrono_literals;
using quib::testing::FakeRouter;

constexpr std::uint16_t awayPort = 61423;
const char* const natpmpc = "/usr/bin/natpmpc";

// Each mapping writes a log line; the measurement keeps none.
class NullSink final : public quib::LogSink {
public:
    void write(const quib::LogRecord&) override {}
};

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
    quib::PortMapper mapper({{}, nullptr, [endpoint] { return quib::PortMapper::Gateway{endpoint, std::nullopt}; }});
    const char* const via = pcp ? "PCP" : "NAT-PMP";
    for (auto _ : state) {
        std::promise<quib::PortMapper::Outcome> mapped;
        std::promise<void> unmapped;
        mapper.map(awayPort, 7200, quib::CancelToken(), [&](quib::PortMapper::Outcome o) { mapped.set_value(std::move(o)); });
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
        const auto result = quib::Subprocess::run(natpmpc, {"-g", "127.0.0.1", "-a", port, port, "tcp", "7200"},
                                                  std::nullopt, 5s);
        if (!result.ok) return state.SkipWithError(("natpmpc failed: " + result.output).c_str());
    }
}
BENCHMARK(BM_NatpmpcMap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
