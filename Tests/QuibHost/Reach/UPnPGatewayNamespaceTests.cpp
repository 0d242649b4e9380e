// The UPnP gateway over real multicast and the real route table. Runs only inside the network
// namespaces of Tests/Reach/private-network.sh (the RouterNamespace test), whose fake router at
// 10.77.0.1 records what it received.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>

#include "Platform/Linux/CurlPoster.hpp"
#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/UPnPGateway.hpp"
#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Tests/Support/FakeRouter.hpp"
#include "Tests/Support/WireBytes.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using Mapping = PortMapper::Mapping;

constexpr std::uint16_t awayPort = 61423;

// One line of the fake router's record.
struct Received {
    std::string kind;                 // "udp", "ssdp" or "http"
    std::vector<std::string> fields;  // the rest, the hexadecimal bytes last
    // The bytes received ("-" when there were none).
    std::string text() const {
        if (fields.empty() || fields.back() == "-") return {};
        const Bytes bytes = testing::hex(fields.back());
        return std::string(bytes.begin(), bytes.end());
    }
};

std::vector<Received> record(const std::string& kind) {
    std::ifstream in(std::getenv("QUIB_FAKE_ROUTER_RECORD"));
    std::vector<Received> lines;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Received received;
        words >> received.kind;
        for (std::string word; words >> word;) received.fields.push_back(word);
        if (received.kind == kind) lines.push_back(std::move(received));
    }
    return lines;
}

TEST(UPnPGatewayNamespace, MapsThroughTheRealSearchAndDeletesByEveryMeans) {
    const char* inside = std::getenv("QUIB_ROUTER_NAMESPACE");
    if (!inside || std::string(inside) != "1") {
        GTEST_SKIP()
            << "needs the router namespace: run through Tests/Reach/private-network.sh (ctest -R RouterNamespace)";
    }
    ReachTimings timings;
    timings.portMapping = 300ms;
    auto upnp = std::make_shared<UPnPGateway>(UPnPGateway::Config{std::make_shared<CurlPoster>(), timings, {}});
    PortMapper mapper({timings, upnp, {}});
    ASSERT_EQ(mapper.gateway(), (PortMapper::Gateway{{"10.77.0.1", 5351}, UDPExchange::Interface{"qh0", "10.77.0.2"}}));

    std::promise<PortMapper::Outcome> mapped;
    mapper.map(awayPort, 7200, CancelToken(),
               [&](PortMapper::Outcome outcome) { mapped.set_value(std::move(outcome)); });
    EXPECT_EQ(mapped.get_future().get(), PortMapper::Outcome(Mapping{"203.0.113.9", awayPort, 7200, "UPnP"}));

    const auto searches = record("ssdp");
    ASSERT_EQ(searches.size(), 3u);
    for (std::size_t i = 0; i < searches.size(); ++i) {
        EXPECT_EQ(searches[i].fields[0], "10.77.0.2");
        EXPECT_EQ(searches[i].fields[1], "2") << "the hop limit";
        EXPECT_EQ(searches[i].fields[2], "239.255.255.250");
        EXPECT_EQ(searches[i].text(), UPnPWire::searchMessage(UPnPWire::searchTargets[i]));
    }
    auto requests = record("http");
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].fields[1], "/rootDesc.xml");
    EXPECT_EQ(requests[1].fields[2], "urn:schemas-upnp-org:service:WANIPConnection:2#AddPortMapping");
    EXPECT_NE(requests[1].text().find("<NewInternalClient>10.77.0.2</NewInternalClient>"), std::string::npos);

    const std::size_t portMappingBefore = record("udp").size();
    std::promise<void> unmapped;
    mapper.unmap(awayPort, CancelToken(), [&] { unmapped.set_value(); });
    unmapped.get_future().wait();
    const auto portMapping = record("udp");
    ASSERT_GT(portMapping.size(), portMappingBefore);
    bool pcp = false;
    bool natpmp = false;
    for (std::size_t i = portMappingBefore; i < portMapping.size(); ++i) {
        const std::string text = portMapping[i].text();
        const Bytes bytes(text.begin(), text.end());
        EXPECT_EQ(portMapping[i].fields[0], "10.77.0.2");
        pcp = pcp || (testing::FakeRouter::isPCP(bytes) && testing::FakeRouter::lifetimeOf(bytes) == 0);
        natpmp = natpmp || (testing::FakeRouter::isNATPMPMap(bytes) && testing::FakeRouter::lifetimeOf(bytes) == 0);
    }
    EXPECT_TRUE(pcp && natpmp) << "PCP and NAT-PMP with lifetime 0";
    requests = record("http");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().fields[2], "urn:schemas-upnp-org:service:WANIPConnection:2#DeletePortMapping");
    EXPECT_EQ(record("ssdp").size(), 3u) << "the gateway found is kept";
}

}  // namespace
}  // namespace quib
