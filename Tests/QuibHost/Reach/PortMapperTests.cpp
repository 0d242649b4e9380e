#include "QuibHost/Reach/PortMapper.hpp"

#include <gtest/gtest.h>

#include <future>

#include "QuibHost/Reach/UPnPMapping.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/QuibHost/Reach/CapturedLog.hpp"
#include "Tests/Support/FakeRouter.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::CapturedLog;
using testing::FakeRouter;
using Answers = std::vector<FakeRouter::Answer>;
using Mapping = PortMapper::Mapping;
using Failure = PortMapper::Failure;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint16_t awayPort = 61423;  // 0xEFEF
const UDPExchange::Interface loopback{"lo", "127.0.0.1"};
const Bytes natpmpOnly{0x00, 0x81, 0x00, 0x01, 0x00, 0x00, 0x04, 0xD2};

// Records the calls of the mapper's last resort, and how many datagrams the router had by then.
class RecordingUPnP final : public UPnPMapping {
public:
    struct Call {
        bool isMap = false;
        std::uint16_t port = 0;
        std::optional<UDPExchange::Interface> interface;
        CancelToken cancel;
        std::size_t routerRequests = 0;
    };

    explicit RecordingUPnP(const FakeRouter* router = nullptr) : router_(router) {}

    std::optional<Mapping> map(std::uint16_t port, std::uint32_t,
                               const std::optional<UDPExchange::Interface>& interface,
                               const CancelToken& cancel) override {
        record({true, port, interface, cancel});
        return answer;
    }
    void unmap(std::uint16_t port, const std::optional<UDPExchange::Interface>& interface,
               const CancelToken& cancel) override {
        record({false, port, interface, cancel});
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::optional<Mapping> answer;

private:
    void record(Call call) {
        call.routerRequests = router_ ? router_->requests().size() : 0;
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    const FakeRouter* router_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

ReachTimings timings(Duration exchange, std::shared_ptr<Clock> clock = nullptr) {
    ReachTimings t;
    t.portMapping = exchange;
    t.clock = std::move(clock);
    return t;
}

// A mapper that finds `router` over the loopback link.
struct Rig {
    explicit Rig(FakeRouter::Script script, Duration exchange = 250ms, std::shared_ptr<Clock> clock = nullptr)
        : router(std::move(script)), upnp(std::make_shared<RecordingUPnP>(&router)) {
        const auto endpoint = router.endpoint();
        mapper = std::make_unique<PortMapper>(PortMapper::Config{timings(exchange, std::move(clock)), upnp, [endpoint] {
                                                                     return PortMapper::Gateway{endpoint, loopback};
                                                                 }});
    }

    std::vector<Bytes> requests() const {
        std::vector<Bytes> bytes;
        for (const auto& request : router.requests()) bytes.push_back(request.bytes);
        return bytes;
    }

    FakeRouter router;
    std::shared_ptr<RecordingUPnP> upnp;
    std::unique_ptr<PortMapper> mapper;
};

PortMapper::Outcome mapNow(PortMapper& mapper, const CancelToken& cancel = CancelToken()) {
    std::promise<PortMapper::Outcome> outcome;
    mapper.map(awayPort, 7200, cancel, [&](PortMapper::Outcome o) { outcome.set_value(std::move(o)); });
    auto future = outcome.get_future();
    if (future.wait_for(20s) != std::future_status::ready) ADD_FAILURE() << "the mapping never ended";
    return future.get();
}

void unmapNow(PortMapper& mapper) {
    std::promise<void> done;
    mapper.unmap(awayPort, CancelToken(), [&] { done.set_value(); });
    if (done.get_future().wait_for(20s) != std::future_status::ready) ADD_FAILURE() << "the deletion never ended";
}

// A PCP request as the mapper sends it over the loopback link: the client address is the link's
// own, ::ffff:127.0.0.1, from the first send on, and the suggested external address is the
// IPv4 family's all-zeros address, ::ffff:0.0.0.0.
Bytes pcpRequest(const Bytes& nonce, std::uint32_t lifetime = 7200) {
    Bytes request{2, 1, 0, 0};  // version 2, MAP
    appendBigEndian(request, lifetime);
    request.insert(request.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1});
    request.insert(request.end(), nonce.begin(), nonce.end());
    request.insert(request.end(), {6, 0, 0, 0, 0xEF, 0xEF, 0xEF, 0xEF});  // TCP, both ports 61423
    request.insert(request.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0});
    return request;
}

Answers pcpAnswer(const Bytes& request, std::uint8_t result, std::string_view host = "203.0.113.7") {
    return {{FakeRouter::pcpAnswer(request, result, 7200, host, 40001)}};
}

bool namesNoClient(const Bytes& request) { return FakeRouter::pcpClientAddress(request) == Bytes(16, 0); }

// A router that checks the client address against the request's source answers the first
// request: there is no second one naming the right address.
TEST(PortMapper, MapsByPCPNamingItsOwnAddressInTheFirstRequest) {
    CapturedLog log;
    Rig rig([](const Bytes& request) { return pcpAnswer(request, namesNoClient(request) ? 12 : 0); });
    EXPECT_EQ(mapNow(*rig.mapper), PortMapper::Outcome(Mapping{"203.0.113.7", 40001, 7200, "PCP"}));
    EXPECT_TRUE(log.contains("away: PCP mapped 61423 → 40001 for 7200s"));
    EXPECT_EQ(rig.requests(), std::vector<Bytes>{pcpRequest(rig.mapper->nonce())});
    EXPECT_TRUE(rig.upnp->calls().empty());

    Rig refusing([](const Bytes& request) { return pcpAnswer(request, 12); });
    EXPECT_EQ(mapNow(*refusing.mapper),
              PortMapper::Outcome(Failure::refused("the router disagreed about this computer's address")));
    EXPECT_TRUE(log.contains("away: PCP refused — the router disagreed about this computer's address"));
}

TEST(PortMapper, TurnsToNATPMPAtOnceForARouterThatSpeaksNoPCP) {
    CapturedLog log;
    Rig rig(
        [](const Bytes& request) -> Answers {
            if (FakeRouter::isPCP(request)) return {{natpmpOnly}};
            if (FakeRouter::isNATPMPMap(request)) return {{FakeRouter::natpmpMapAnswer(request, 0, 40002, 3600)}};
            return {{FakeRouter::natpmpAddressAnswer(0, "203.0.113.8")}};
        },
        5s);
    EXPECT_EQ(mapNow(*rig.mapper), PortMapper::Outcome(Mapping{"203.0.113.8", 40002, 3600, "NAT-PMP"}));
    EXPECT_TRUE(log.contains("away: NAT-PMP mapped 61423 → 40002 for 3600s"));

    const auto requests = rig.router.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(FakeRouter::isPCP(requests[0].bytes));
    EXPECT_EQ(requests[1].bytes, (Bytes{0, 2, 0, 0, 0xEF, 0xEF, 0xEF, 0xEF, 0x00, 0x00, 0x1C, 0x20}));
    EXPECT_EQ(requests[2].bytes, (Bytes{0, 0}));
    EXPECT_LT(requests[1].at - requests[0].at, 2s);
}

TEST(PortMapper, TriesASilentRouterTwiceWithPCPThenNATPMP) {
    constexpr auto exchange = 150ms;
    Rig rig(
        [](const Bytes& request) -> Answers {
            if (FakeRouter::isNATPMPMap(request)) return {{FakeRouter::natpmpMapAnswer(request, 0, 40002, 3600)}};
            if (FakeRouter::isNATPMPAddress(request)) return {{FakeRouter::natpmpAddressAnswer(0, "203.0.113.8")}};
            return {};
        },
        exchange);
    EXPECT_EQ(mapNow(*rig.mapper), PortMapper::Outcome(Mapping{"203.0.113.8", 40002, 3600, "NAT-PMP"}));
    const auto requests = rig.router.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(FakeRouter::isPCP(requests[0].bytes) && FakeRouter::isPCP(requests[1].bytes));
    EXPECT_EQ(requests[1].bytes, requests[0].bytes) << "the second attempt is the same request";
    EXPECT_TRUE(FakeRouter::isNATPMPMap(requests[2].bytes));
    EXPECT_GE(requests[1].at - requests[0].at, exchange * 9 / 10);
    EXPECT_GE(requests[2].at - requests[1].at, exchange * 9 / 10);
}

TEST(PortMapper, StopsAtCarrierGradeNATWithoutAskingFurther) {
    Rig rig([](const Bytes& request) { return pcpAnswer(request, 11); });
    EXPECT_EQ(mapNow(*rig.mapper),
              PortMapper::Outcome(Failure::carrierGradeNAT(
                  "the router has no public address to forward — this looks like carrier-grade NAT")));
    for (const auto& request : rig.requests()) EXPECT_TRUE(FakeRouter::isPCP(request));
    EXPECT_TRUE(rig.upnp->calls().empty());
}

TEST(PortMapper, ReportsPCPsRefusalWhenNATPMPAndUPnPFailToo) {
    Rig rig([](const Bytes& request) -> Answers {
        if (FakeRouter::isPCP(request)) return pcpAnswer(request, 2);
        return {{FakeRouter::natpmpMapAnswer(request, 2, 0, 0)}};
    });
    const CancelToken job;
    EXPECT_EQ(mapNow(*rig.mapper, job),
              PortMapper::Outcome(Failure::refused("the router is set to refuse port forwarding")));
    const auto calls = rig.upnp->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].isMap);
    EXPECT_EQ(calls[0].interface, loopback);
    EXPECT_EQ(calls[0].cancel, job);
    EXPECT_EQ(calls[0].routerRequests, 2u) << "PCP's refusal, then NAT-PMP";
}

TEST(PortMapper, MakesTheBestOfOddAnswers) {
    // NAT-PMP maps but never tells the public address.
    Rig noAddress([](const Bytes& request) -> Answers {
        if (FakeRouter::isPCP(request)) return {{natpmpOnly}};
        if (FakeRouter::isNATPMPMap(request)) return {{FakeRouter::natpmpMapAnswer(request, 0, 40002, 3600)}};
        return {};
    });
    EXPECT_EQ(mapNow(*noAddress.mapper), PortMapper::Outcome(Mapping{std::nullopt, 40002, 3600, "NAT-PMP"}));

    // A public address that is a real IPv6 one is no IPv4 host.
    Rig ipv6([](const Bytes& request) { return pcpAnswer(request, 0, "2001:db8::1"); });
    EXPECT_EQ(mapNow(*ipv6.mapper), PortMapper::Outcome(Mapping{std::nullopt, 40001, 7200, "PCP"}));

    // A code without a name.
    Rig code14([](const Bytes& request) -> Answers {
        return FakeRouter::isPCP(request) ? pcpAnswer(request, 14) : Answers{};
    });
    EXPECT_EQ(mapNow(*code14.mapper), PortMapper::Outcome(Failure::refused("the router refused with code 14")));
}

// A router that answered success with port 0 (or, by PCP, for no time) was reported reachable
// at "203.0.113.7:0", and phones were handed port 0. An answer that maps nothing is no mapping:
// the next protocol is asked, and when none maps, PCP's failure is what the caller hears.
TEST(PortMapper, ASuccessThatMapsNothingIsNoMapping) {
    struct Case {
        const char* what;
        std::uint16_t pcpPort;
        std::uint32_t pcpLifetime;
        std::uint16_t natpmpPort;
        PortMapper::Outcome expected;
    };
    const std::vector<Case> cases{
        {"PCP port 0, NAT-PMP maps", 0, 7200, 40002, Mapping{"203.0.113.8", 40002, 3600, "NAT-PMP"}},
        {"PCP lifetime 0, NAT-PMP maps", 40001, 0, 40002, Mapping{"203.0.113.8", 40002, 3600, "NAT-PMP"}},
        {"both port 0", 0, 7200, 0, Failure::silent()},
    };
    for (const auto& [what, pcpPort, pcpLifetime, natpmpPort, expected] : cases) {
        CapturedLog log;
        Rig rig([&, pcpPort = pcpPort, pcpLifetime = pcpLifetime,
                 natpmpPort = natpmpPort](const Bytes& request) -> Answers {
            if (FakeRouter::isPCP(request))
                return {{FakeRouter::pcpAnswer(request, 0, pcpLifetime, "203.0.113.7", pcpPort)}};
            if (FakeRouter::isNATPMPMap(request)) return {{FakeRouter::natpmpMapAnswer(request, 0, natpmpPort, 3600)}};
            return {{FakeRouter::natpmpAddressAnswer(0, "203.0.113.8")}};
        });
        EXPECT_EQ(mapNow(*rig.mapper), expected) << what;
        EXPECT_EQ(rig.upnp->calls().size(), natpmpPort == 0 ? 1u : 0u) << what;
        EXPECT_TRUE(log.contains("which maps nothing")) << what;
    }
}

TEST(PortMapper, TakesAnAnswerAboutAnotherMappingForNoAnswer) {
    // Byte 24 is the nonce's first, 36 the protocol, 41 the internal port's low byte.
    for (const std::size_t foreign : {24, 36, 41}) {
        auto attempt = std::make_shared<int>(0);
        Rig rig([attempt, foreign](const Bytes& request) {
            ++*attempt;
            Answers answers = pcpAnswer(request, 0);
            if (*attempt == 1) answers[0].bytes[foreign] ^= 0x01;
            return answers;
        });
        EXPECT_EQ(mapNow(*rig.mapper), PortMapper::Outcome(Mapping{"203.0.113.7", 40001, 7200, "PCP"})) << foreign;
        EXPECT_EQ(rig.requests().size(), 2u) << "the second attempt mapped, after a foreign byte " << foreign;
    }
}

TEST(PortMapper, UnmapDeletesByEveryMeansWithTheMappingsNonce) {
    Rig rig([](const Bytes& request) -> Answers {
        if (FakeRouter::isPCP(request)) {
            const std::uint32_t lifetime = FakeRouter::lifetimeOf(request);
            return {{FakeRouter::pcpAnswer(request, 0, lifetime, "203.0.113.7", lifetime == 0 ? 0 : 40001)}};
        }
        if (FakeRouter::isNATPMPMap(request)) return {{FakeRouter::natpmpMapAnswer(request, 0, 0, 0)}};
        return {{FakeRouter::natpmpAddressAnswer(0, "203.0.113.8")}};
    });
    (void)mapNow(*rig.mapper);
    const Bytes mapped = rig.requests()[0];
    CapturedLog log;
    unmapNow(*rig.mapper);

    auto requests = rig.requests();
    // PCP once for the mapping; for the deletion PCP once, then NAT-PMP's two requests, the map
    // request suggesting no external port.
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1], pcpRequest(FakeRouter::pcpNonce(mapped), 0));
    EXPECT_EQ(requests[2], (Bytes{0, 2, 0, 0, 0xEF, 0xEF, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(requests[3], (Bytes{0, 0}));
    auto calls = rig.upnp->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].isMap);
    EXPECT_EQ(calls[0].port, awayPort);
    EXPECT_EQ(calls[0].interface, loopback);
    EXPECT_EQ(calls[0].routerRequests, 4u);
    // A deletion is logged as one, never as a mapping to port 0.
    EXPECT_TRUE(log.contains("away: PCP deleted the mapping of 61423"));
    EXPECT_TRUE(log.contains("away: NAT-PMP deleted the mapping of 61423"));
    EXPECT_FALSE(log.contains("mapped 61423"));

    // After the path changed, a deletion names the new nonce.
    rig.mapper->forgetMapping();
    EXPECT_NE(rig.mapper->nonce(), FakeRouter::pcpNonce(mapped));
    unmapNow(*rig.mapper);
    requests = rig.requests();
    ASSERT_GT(requests.size(), 4u);
    EXPECT_EQ(FakeRouter::pcpNonce(requests[4]), rig.mapper->nonce());
}

// A router that never answers gets each request again within its exchange, on the mapper's
// clock: PCP at 0 and 450 ms of each of its two exchanges of 900 ms, NAT-PMP at 0, 250 and
// 750 ms of its one; the retransmissions are the same datagram.
TEST(PortMapper, SendsEachRequestAgainWithinItsExchangeAsTheClockGoes) {
    auto clock = std::make_shared<FakeClock>();
    Rig rig([](const Bytes&) { return Answers{}; }, 900ms, clock);
    std::promise<PortMapper::Outcome> outcome;
    rig.mapper->map(awayPort, 7200, CancelToken(), [&](PortMapper::Outcome o) { outcome.set_value(std::move(o)); });
    struct Step {
        Duration advance;
        std::size_t requests;
    };
    const std::vector<Step> steps{{0ms, 1}, {450ms, 2}, {450ms, 3}, {450ms, 4}, {450ms, 5}, {250ms, 6}, {500ms, 7}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.requests);
        clock->advance(step.advance);
        ASSERT_TRUE(rig.router.waitForRequests(step.requests, 5s));
        EXPECT_EQ(rig.router.requests().size(), step.requests);
    }
    clock->advance(150ms);
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), PortMapper::Outcome(Failure::silent()));
    const auto requests = rig.requests();
    ASSERT_EQ(requests.size(), 7u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(requests[i], pcpRequest(rig.mapper->nonce())) << i;
    for (std::size_t i = 4; i < 7; ++i)
        EXPECT_EQ(requests[i], (Bytes{0, 2, 0, 0, 0xEF, 0xEF, 0xEF, 0xEF, 0, 0, 0x1C, 0x20}));
}

TEST(PortMapper, UnmapNeverOvertakesAMapStillWaitingOnTheRouter) {
    Rig rig(
        [](const Bytes& request) -> Answers {
            if (!FakeRouter::isPCP(request)) return {};
            return {{FakeRouter::pcpAnswer(request, 0, FakeRouter::lifetimeOf(request), "203.0.113.7", 40001), 200ms}};
        },
        1s);
    std::promise<PortMapper::Outcome> mapped;
    std::promise<void> unmapped;
    rig.mapper->map(awayPort, 7200, CancelToken(), [&](PortMapper::Outcome o) { mapped.set_value(std::move(o)); });
    std::this_thread::sleep_for(50ms);
    rig.mapper->unmap(awayPort, CancelToken(), [&] { unmapped.set_value(); });
    ASSERT_EQ(unmapped.get_future().wait_for(20s), std::future_status::ready);
    EXPECT_EQ(mapped.get_future().get(), PortMapper::Outcome(Mapping{"203.0.113.7", 40001, 7200, "PCP"}));

    bool deleting = false;
    for (const auto& request : rig.requests()) {
        const bool deletion = FakeRouter::lifetimeOf(request) == 0;
        EXPECT_FALSE(deleting && !deletion) << "a mapping request after the first deletion";
        deleting = deleting || deletion;
    }
    EXPECT_TRUE(deleting);
}

TEST(PortMapper, ACancelledJobSendsNothingMoreAndReportsNothing) {
    Rig rig([](const Bytes&) { return Answers{}; }, 10s);
    CancelToken cancel;
    std::atomic<bool> reported = false;
    rig.mapper->map(awayPort, 7200, cancel, [&](PortMapper::Outcome) { reported = true; });
    // A job queued behind it with the same token never starts.
    rig.mapper->unmap(awayPort, cancel, [&] { reported = true; });
    ASSERT_TRUE(rig.router.waitForRequests(1, 5s));
    cancel.cancel();
    const auto cancelled = SteadyClock::now();
    rig.mapper.reset();  // waits for the worker's jobs to end
    EXPECT_LT(SteadyClock::now() - cancelled, 50ms);
    EXPECT_FALSE(reported);
    EXPECT_EQ(rig.router.requests().size(), 1u);
    EXPECT_TRUE(rig.upnp->calls().empty());
}

TEST(PortMapper, WithoutAGatewayAsksUPnPOnAnyLink) {
    auto upnp = std::make_shared<RecordingUPnP>();
    PortMapper mapper({timings(250ms), upnp, [] { return std::optional<PortMapper::Gateway>(); }});
    EXPECT_EQ(mapNow(mapper), PortMapper::Outcome(Failure::noGateway()));

    upnp->answer = Mapping{"203.0.113.9", awayPort, 7200, "UPnP"};
    EXPECT_EQ(mapNow(mapper), PortMapper::Outcome(*upnp->answer));
    unmapNow(mapper);

    const auto calls = upnp->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].isMap && calls[1].isMap && !calls[2].isMap);
    for (const auto& call : calls) EXPECT_EQ(call.interface, std::nullopt);
}

}  // namespace
}  // namespace quib
