#include "QuibHost/Reach/GatewayFinder.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <thread>

#include "QuibHost/Server/NetworkInterfaces.hpp"
#include "Tests/Platform/Linux/PrivateNetwork.hpp"

namespace quib {
namespace {

using Gateway = GatewayFinder::Gateway;
using Link = GatewayFinder::Link;
using LinkKind = InterfaceAddresses::LinkKind;

// As the kernel writes it on this kind of machine: addresses are the network-order bytes read
// as a little-endian number (10.0.0.1 is 0100000A).
constexpr std::string_view table =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
    "eth0\t0000000A\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
    "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
    "a line that is no route\n";

Link link(const std::string& name, LinkKind kind, const std::string& ipv4, bool up = true, bool running = true) {
    return Link{name, up, running, kind, ipv4};
}

Gateway gateway(const std::string& host, const std::string& link, const std::string& address) {
    return Gateway{{host, 5351}, UDPExchange::Interface{link, address}};
}

#define SKIP_UNLESS_LITTLE_ENDIAN() \
    if constexpr (std::endian::native != std::endian::little) GTEST_SKIP() << "the fixtures are little-endian"

TEST(GatewayFinder, PrefersWiFiThenTheLowestMetricThenTableOrder) {
    SKIP_UNLESS_LITTLE_ENDIAN();
    const auto routes = GatewayFinder::parseRoutes(table);
    const Link eth0 = link("eth0", LinkKind::wiredEthernet, "10.0.0.5");
    const Link wlan0 = link("wlan0", LinkKind::wifi, "192.168.1.20");
    // Wi-Fi wins over an Ethernet route of lower metric.
    EXPECT_EQ(GatewayFinder::choose(routes, {eth0, wlan0}), gateway("192.168.1.1", "wlan0", "192.168.1.20"));

    // Within one kind: the lowest metric, then the first in the table.
    const auto twoWired = GatewayFinder::parseRoutes(
        "eth0\t00000000\t0100000A\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "eth1\t00000000\t010010AC\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t020010AC\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    const std::vector<Link> wired{eth0, link("eth1", LinkKind::wiredEthernet, "172.16.0.9"),
                                  link("eth2", LinkKind::wiredEthernet, "")};
    EXPECT_EQ(GatewayFinder::choose(twoWired, wired), gateway("172.16.0.1", "eth1", "172.16.0.9"));
}

TEST(GatewayFinder, SkipsLinksThatAreDownOrOfAnotherKind) {
    SKIP_UNLESS_LITTLE_ENDIAN();
    const auto routes = GatewayFinder::parseRoutes(table);
    const Link eth0 = link("eth0", LinkKind::wiredEthernet, "10.0.0.5");
    EXPECT_EQ(GatewayFinder::choose(routes, {eth0, link("wlan0", LinkKind::wifi, "192.168.1.20", false)}),
              gateway("10.0.0.1", "eth0", "10.0.0.5"));
    EXPECT_EQ(GatewayFinder::choose(routes, {eth0, link("wlan0", LinkKind::wifi, "192.168.1.20", true, false)}),
              gateway("10.0.0.1", "eth0", "10.0.0.5"));
    // A link missing from the list counts as down.
    EXPECT_EQ(GatewayFinder::choose(routes, {eth0}), gateway("10.0.0.1", "eth0", "10.0.0.5"));

    // A mobile modem and a VPN tunnel never lead to the home router.
    const auto tunnels = GatewayFinder::parseRoutes(
        "ppp0\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "tun0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_EQ(GatewayFinder::choose(
                  tunnels, {link("ppp0", LinkKind::other, "10.64.1.2"), link("tun0", LinkKind::other, "192.168.1.7")}),
              std::nullopt);
}

TEST(GatewayFinder, FindsNoneWithoutADefaultIPv4RouteThroughAGateway) {
    SKIP_UNLESS_LITTLE_ENDIAN();
    const std::vector<Link> links{link("eth0", LinkKind::wiredEthernet, "10.0.0.5")};
    // A host whose only default route is an IPv6 one has just its subnet routes here.
    EXPECT_EQ(GatewayFinder::choose(
                  GatewayFinder::parseRoutes("Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n"
                                             "eth0\t0000000A\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"),
                  links),
              std::nullopt);
    // A default route straight onto the link, with no gateway to ask, and a row that does not read.
    EXPECT_EQ(GatewayFinder::choose(
                  GatewayFinder::parseRoutes("eth0\t00000000\t00000000\t0001\t0\t0\t100\t00000000\t0\t0\t0\n"
                                             "eth0\t00000000\t0100000A\t0003\t0\t0\tlow\t00000000\t0\t0\t0\n"),
                  links),
              std::nullopt);
    EXPECT_EQ(GatewayFinder::choose({}, links), std::nullopt);
}

// Exit statuses of the child that reads its own namespace's links.
enum Outcome : int {
    read = 0,
    ipFailed = 3,
    noVeth = 4,
    wrongFacts = 5,
    wrongDescription = 6,
    wrongGateway = 7,
};

int readVethInPrivateNamespace() {
    if (!testing::addVethPair()) return ipFailed;
    if (std::system((*testing::ipTool() + " route add default via 10.9.0.2 dev qa").c_str()) != 0) return ipFailed;
    std::optional<Link> qa;
    // The carrier of a veth pair comes up a moment after both ends.
    for (int tries = 0; tries < 100 && !(qa && qa->isRunning); ++tries) {
        if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        qa.reset();
        for (const Link& l : GatewayFinder::links()) {
            if (l.name == "qa") qa = l;
        }
    }
    if (!qa) return noVeth;
    if (*qa != link("qa", LinkKind::wiredEthernet, "10.9.0.1")) return wrongFacts;
    if (NetworkInterfaces().describe(asio::ip::make_address("10.9.0.1")) != "qa(wiredEthernet)")
        return wrongDescription;
    if (GatewayFinder::find() != gateway("10.9.0.2", "qa", "10.9.0.1")) return wrongGateway;
    return read;
}

// The machine's own /sys/class/net lists its links, not a namespace's: the facts must come from
// the namespace itself.
TEST(GatewayFinder, ReadsTheLinksAndRoutesOfItsOwnNetworkNamespace) {
    if (auto reason = testing::privateNetworkUnavailable()) GTEST_SKIP() << *reason;
    const auto status = testing::inPrivateNetwork(readVethInPrivateNamespace);
    if (!status) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here";
    EXPECT_EQ(*status, read) << "see the Outcome codes";
}

}  // namespace
}  // namespace quib
