#include "QuibHost/Reach/PublicAddress.hpp"

#include <gtest/gtest.h>

#include <future>

#include "Runtime/FakeClock.hpp"
#include "Tests/QuibHost/Reach/CapturedLog.hpp"
#include "Tests/Support/FakeRouter.hpp"

#include <unistd.h>

#include <array>
#include <fstream>

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::FakeRouter;

using Entry = InterfaceAddresses::Entry;
using Family = InterfaceAddresses::Family;

Entry entry(const std::string& name, Family family, const std::string& host) {
    Entry e;
    e.name = name;
    e.isUp = e.isRunning = true;
    e.family = family;
    e.host = host;
    return e;
}

TEST(PublicAddress, GloballyRoutableIPv6Table) {
    for (const char* text : {"2a01::1", "3fff::1", "2001:1::1", "2600:1f18::5"}) {
        EXPECT_TRUE(PublicAddress::isGloballyRoutableIPv6(text)) << text;
    }
    for (const char* text : {"fe80::1%en0", "fd00::1", "2001:db8::1", "2002::1", "2001::1", "ff02::1", "::1",
                             "::", "4000::1", "1fff::1", "192.0.2.1", ""}) {
        EXPECT_FALSE(PublicAddress::isGloballyRoutableIPv6(text)) << text;
    }
}

TEST(PublicAddress, InterfacesSortLocalFromGlobalAndSkipWhatCannotBeReached) {
    Entry down = entry("eth1", Family::ipv4, "192.168.9.9");
    down.isUp = false;
    Entry loopback = entry("lo", Family::ipv4, "127.0.0.1");
    loopback.isLoopback = true;
    const std::vector<Entry> entries{
        entry("eth0", Family::ipv4, "192.168.1.20"),
        entry("eth0", Family::ipv6, "2a01:e0a::5"),
        entry("eth0", Family::ipv6, "fe80::1%eth0"),
        entry("eth0", Family::other, ""),
        entry("en0", Family::ipv4, "169.254.3.4"),
        entry("utun4", Family::ipv4, "100.101.102.103"),
        entry("utun4", Family::ipv4, "10.8.0.2"),
        entry("tailscale0", Family::ipv6, "fd7a:115c:a1e0::1"),
        entry("bridge0", Family::ipv4, "192.168.2.1"),
        entry("awdl0", Family::ipv6, "2a01:e0a::6"),
        down,
        loopback,
        entry("eth0", Family::ipv4, "192.168.1.20"),
    };
    const auto addresses = PublicAddress::interfaces(entries);
    EXPECT_EQ(addresses.local,
              (std::vector<std::string>{"192.168.1.20", "100.101.102.103", "fd7a:115c:a1e0::1", "192.168.1.20"}));
    EXPECT_EQ(addresses.global, std::vector<std::string>{"2a01:e0a::5"});
}

TEST(PublicAddress, LinuxTunnelsGiveOnlyOverlayAddressesAndBridgesNothing) {
    const std::vector<Entry> entries{
        entry("tun0", Family::ipv4, "10.8.0.2"),        entry("wg0", Family::ipv4, "100.101.102.103"),
        entry("docker0", Family::ipv4, "172.17.0.1"),   entry("br-1a2b", Family::ipv4, "172.18.0.1"),
        entry("virbr0", Family::ipv4, "192.168.122.1"), entry("veth12ab", Family::ipv6, "2a01::7"),
        entry("br0", Family::ipv4, "192.168.1.5"),      entry("qh0", Family::ipv4, "10.77.0.2"),
    };
    const auto addresses = PublicAddress::interfaces(entries);
    EXPECT_EQ(addresses.local, (std::vector<std::string>{"100.101.102.103", "192.168.1.5", "10.77.0.2"}));
    EXPECT_TRUE(addresses.global.empty());
}

TEST(PublicAddress, ServersAreTheStoredListOfTextsElseTheBuiltInOnes) {
    auto settings = Settings::atPath(std::filesystem::temp_directory_path() / "quib-stun-none.json");
    EXPECT_EQ(PublicAddress::servers(*settings), PublicAddress::builtInServers());
    ASSERT_EQ(PublicAddress::builtInServers().size(), 2u);
    EXPECT_TRUE(PublicAddress::builtInServers()[0].ends_with(":3478"));
    EXPECT_TRUE(PublicAddress::builtInServers()[1].ends_with(":19302"));
    (void)settings->setString(PublicAddress::serversKey, "10.77.0.1:3478");
    EXPECT_EQ(PublicAddress::servers(*settings), PublicAddress::builtInServers());

    const auto folder = std::filesystem::temp_directory_path() / ("quib-stun-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {R"({"quib.stunServers": []})", {}},
             {R"({"quib.stunServers": ["10.77.0.1:3478"]})", {"10.77.0.1:3478"}},
             {R"({"quib.stunServers": ["10.77.0.1:3478", 3478]})", PublicAddress::builtInServers()}}) {
        std::ofstream(folder / "defaults.json") << text;
        EXPECT_EQ(PublicAddress::servers(*Settings::atPath(folder / "defaults.json")), expected) << text;
    }
    std::filesystem::remove_all(folder);
}

// A Binding success answer carrying `host`:`port` as XOR-MAPPED-ADDRESS, or an error answer.
Bytes stunAnswer(const Bytes& request, std::array<std::uint8_t, 4> host, std::uint16_t port) {
    Bytes answer{0x01, 0x01, 0x00, 0x0C};
    answer.insert(answer.end(), request.begin() + 4, request.begin() + 20);
    const std::uint16_t xport = port ^ 0x2112;
    answer.insert(answer.end(), {0x00, 0x20, 0x00, 0x08, 0x00, 0x01, std::uint8_t(xport >> 8), std::uint8_t(xport)});
    const std::array<std::uint8_t, 4> cookie{0x21, 0x12, 0xA4, 0x42};
    for (int i = 0; i < 4; ++i) answer.push_back(host[i] ^ cookie[i]);
    return answer;
}

Bytes stunError(const Bytes& request, std::uint8_t errorClass, std::uint8_t number) {
    Bytes answer{0x01, 0x11, 0x00, 0x08};
    answer.insert(answer.end(), request.begin() + 4, request.begin() + 20);
    answer.insert(answer.end(), {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, errorClass, number});
    return answer;
}

// Each server in turn, with a fresh transaction sent at once and again after 500 ms, the
// standard's first retransmission; a silent server costs its 1.5 s on the schedule's clock.
TEST(PublicAddress, ReflexiveAsksEachServerInTurnUntilOneGivesAnAddress) {
    FakeRouter silent;
    FakeRouter refusing([](const Bytes& r) { return std::vector<FakeRouter::Answer>{{stunError(r, 4, 20)}}; });
    FakeRouter answering([](const Bytes& r) {
        return std::vector<FakeRouter::Answer>{{stunAnswer(r, {198, 51, 100, 4}, 40001)}};
    });
    FakeRouter never;
    auto text = [](const FakeRouter& r) { return "127.0.0.1:" + std::to_string(r.port()); };

    testing::CapturedLog log;
    auto clock = std::make_shared<FakeClock>();
    auto asked = std::async(std::launch::async, [&] {
        return PublicAddress::reflexive({"unusable", text(silent), text(refusing), text(answering), text(never)},
                                        {1500ms, 500ms, clock}, CancelToken());
    });
    ASSERT_TRUE(silent.waitForRequests(1, 5s));
    clock->advance(500ms);
    ASSERT_TRUE(silent.waitForRequests(2, 5s));
    clock->advance(1000ms);
    ASSERT_EQ(asked.wait_for(5s), std::future_status::ready);
    const auto found = asked.get();
    EXPECT_EQ(found, (StunWire::Reflexive{"198.51.100.4", 40001, false}));
    EXPECT_TRUE(log.contains("away: STUN server " + text(refusing) + " answered 420"));
    EXPECT_TRUE(log.contains("away: the internet sees 198.51.100.4"));
    ASSERT_EQ(silent.requests().size(), 2u);
    EXPECT_EQ(silent.requests()[1].bytes, silent.requests()[0].bytes) << "a retransmission is the same request";
    EXPECT_EQ(answering.requests().size(), 1u);
    EXPECT_TRUE(never.requests().empty()) << "a server after the first answer was asked";
    const Bytes first = silent.requests()[0].bytes, second = refusing.requests()[0].bytes;
    ASSERT_EQ(first.size(), 20u);
    EXPECT_NE(Bytes(first.begin() + 8, first.end()), Bytes(second.begin() + 8, second.end()))
        << "the transaction was reused";

    EXPECT_FALSE(PublicAddress::reflexive({}, {300ms}, CancelToken()));
    EXPECT_FALSE(PublicAddress::reflexive({text(silent)}, {100ms}, CancelToken()));
}

}  // namespace
}  // namespace quib
