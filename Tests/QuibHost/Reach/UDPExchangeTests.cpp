#include "QuibHost/Reach/UDPExchange.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <future>
#include <thread>

#include "Runtime/FakeClock.hpp"

#include "Tests/Support/FakeRouter.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::FakeRouter;
using SteadyClock = std::chrono::steady_clock;

const Bytes question{1, 2, 3};

// A port of 127.0.0.1 on which nothing listens.
std::uint16_t closedPort() {
    const FileDescriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
    if (::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

TEST(UDPExchange, GivesTheAnswerWithTheLocalAddressAndSendsOnce) {
    FakeRouter router([](const Bytes&) { return std::vector<FakeRouter::Answer>{{Bytes{9, 8, 7}}}; });
    ASSERT_TRUE(router.isListening());
    for (const auto& interface :
         {std::optional<UDPExchange::Interface>{}, std::optional(UDPExchange::Interface{"lo", "127.0.0.1"})}) {
        const auto reply = UDPExchange::ask(question, router.endpoint(), interface, 2s, CancelToken());
        ASSERT_TRUE(reply) << (interface ? "bound to lo" : "any interface");
        EXPECT_EQ(reply->reply, (Bytes{9, 8, 7}));
        EXPECT_EQ(reply->localAddress, "127.0.0.1");
    }
    ASSERT_EQ(router.requests().size(), 2u);
    EXPECT_EQ(router.requests()[0].bytes, question);
}

TEST(UDPExchange, TakesOnlyTheEndpointsOwnAnswer) {
    // From another port of the same address first, then a datagram from the endpoint itself.
    FakeRouter router([](const Bytes&) {
        return std::vector<FakeRouter::Answer>{{Bytes{6, 6, 6}, 0ms, true}, {Bytes{1}, 50ms}};
    });
    const auto reply = UDPExchange::ask(question, router.endpoint(), std::nullopt, 2s, CancelToken());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->reply, Bytes{1});
}

TEST(UDPExchange, GivesNothingForSilenceAnEmptyDatagramOrNoListener) {
    FakeRouter silent;
    auto start = SteadyClock::now();
    EXPECT_FALSE(UDPExchange::ask(question, silent.endpoint(), std::nullopt, 80ms, CancelToken()));
    EXPECT_GE(SteadyClock::now() - start, 80ms);

    FakeRouter empty([](const Bytes&) { return std::vector<FakeRouter::Answer>{{Bytes{}}, {Bytes{5}, 30ms}}; });
    EXPECT_FALSE(UDPExchange::ask(question, empty.endpoint(), std::nullopt, 2s, CancelToken()));

    // The refusal (ICMP port unreachable) ends it at once, long before the time-out.
    const std::uint16_t port = closedPort();
    ASSERT_NE(port, 0);
    start = SteadyClock::now();
    EXPECT_FALSE(UDPExchange::ask(question, {"127.0.0.1", port}, std::nullopt, 5s, CancelToken()));
    EXPECT_LT(SteadyClock::now() - start, 1s);
}

TEST(UDPExchange, ACancelEndsTheWaitAndOneBeforeTheStartSendsNothing) {
    FakeRouter silent;
    CancelToken cancel;
    std::thread canceller([&] {
        silent.waitForRequests(1, 5s);
        cancel.cancel();
    });
    const auto start = SteadyClock::now();
    EXPECT_FALSE(UDPExchange::ask(question, silent.endpoint(), std::nullopt, 10s, cancel));
    EXPECT_LT(SteadyClock::now() - start, 5s);
    canceller.join();

    EXPECT_FALSE(UDPExchange::ask(question, silent.endpoint(), std::nullopt, 10s, cancel));
    EXPECT_EQ(silent.requests().size(), 1u);
}

TEST(UDPExchange, LooksUpAHostNameAndTriesItsIPv4AddressFirst) {
    // "localhost" has both 127.0.0.1 and ::1; the router listens on the first only.
    FakeRouter router([](const Bytes&) { return std::vector<FakeRouter::Answer>{{Bytes{4}}}; });
    const auto reply = UDPExchange::ask(question, {"localhost", router.port()}, std::nullopt, 2s, CancelToken());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->localAddress, "127.0.0.1");
    EXPECT_FALSE(UDPExchange::ask(question, {"", router.port()}, std::nullopt, 2s, CancelToken()));
}

TEST(UDPExchange, WritesAddressesWithoutZones) {
    EXPECT_EQ(UDPExchange::address(UDPExchange::Endpoint{"fe80:0::1%eth0", 5351}), "fe80::1");
    EXPECT_EQ(UDPExchange::address(UDPExchange::Endpoint{"192.168.1.1", 5351}), "192.168.1.1");
    EXPECT_EQ(UDPExchange::address(UDPExchange::Endpoint{"stun.example.net", 3478}), "stun.example.net");
    EXPECT_EQ(UDPExchange::address(std::nullopt), std::nullopt);
}

// The sends of an exchange: at once, then after the first interval and after each doubling of
// it, while before the time-out.
TEST(UDPExchange, ASchedulesSendsDoubleTheirIntervalWithinTheTimeOut) {
    using Times = std::vector<Duration>;
    const std::vector<std::pair<UDPExchange::Schedule, Times>> cases{
        {{900ms, 250ms}, {0ms, 250ms, 750ms}},  // NAT-PMP
        {{1500ms, 500ms}, {0ms, 500ms}},        // STUN
        {{900ms, 450ms}, {0ms, 450ms}},         // each PCP exchange
        {{10s, 250ms}, {0ms, 250ms, 750ms, 1750ms, 3750ms, 7750ms}},
        {{900ms}, {0ms}},
        {{200ms, 250ms}, {0ms}},
        {{900ms, 0ms}, {0ms}},
    };
    for (const auto& [schedule, times] : cases) EXPECT_EQ(schedule.sendTimes(), times) << schedule.timeout.count();
}

// The time-out and every send keep to the schedule's clock, and an answer to a later send ends
// the wait.
TEST(UDPExchange, SendsAgainAsTheSchedulesClockGoesUntilAnAnswerComes) {
    auto clock = std::make_shared<FakeClock>();
    auto sent = std::make_shared<std::atomic<int>>(0);
    FakeRouter router([sent](const Bytes&) {
        return ++*sent < 3 ? std::vector<FakeRouter::Answer>{} : std::vector<FakeRouter::Answer>{{Bytes{4, 2}}};
    });
    auto reply = std::async(std::launch::async, [&] {
        return UDPExchange::ask(question, router.endpoint(), std::nullopt, {900ms, 250ms, clock}, CancelToken());
    });
    ASSERT_TRUE(router.waitForRequests(1, 5s));
    clock->advance(249ms);
    clock->advance(1ms);
    ASSERT_TRUE(router.waitForRequests(2, 5s));
    clock->advance(500ms);
    ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
    const auto answer = reply.get();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->reply, (Bytes{4, 2}));
    for (const auto& request : router.requests()) EXPECT_EQ(request.bytes, question);

    FakeRouter silent;
    auto none = std::async(std::launch::async, [&] {
        return UDPExchange::ask(question, silent.endpoint(), std::nullopt, {900ms, 250ms, clock}, CancelToken());
    });
    ASSERT_TRUE(silent.waitForRequests(1, 5s));
    clock->advance(250ms);
    ASSERT_TRUE(silent.waitForRequests(2, 5s));
    clock->advance(500ms);
    ASSERT_TRUE(silent.waitForRequests(3, 5s));
    clock->advance(150ms);
    ASSERT_EQ(none.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(none.get());
    EXPECT_EQ(silent.requests().size(), 3u);
}

TEST(UDPExchange, TellsItsLocalAddressTowardsAnEndpointWithoutSending) {
    FakeRouter router;
    EXPECT_EQ(UDPExchange::localAddress(router.endpoint(), std::nullopt), "127.0.0.1");
    EXPECT_EQ(UDPExchange::localAddress(router.endpoint(), UDPExchange::Interface{"lo", "127.0.0.1"}), "127.0.0.1");
    EXPECT_EQ(UDPExchange::localAddress({"not an address", 5351}, std::nullopt), std::nullopt);
    EXPECT_TRUE(router.requests().empty());
}

}  // namespace
}  // namespace quib
