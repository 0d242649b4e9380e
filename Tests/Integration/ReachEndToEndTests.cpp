#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::eventuallyShows;
using testing::quibctl;
using testing::TempHome;

// The protocol the fake router speaks in this run, and the public address it gives.
std::string protocol() {
    if (std::getenv("QUIB_FAKE_ROUTER_NATPMP")) return "NAT-PMP";
    if (std::getenv("QUIB_FAKE_ROUTER_PCP")) return "PCP";
    return "UPnP";
}
std::string publicHost() { return protocol() == "UPnP" ? "203.0.113.9" : "203.0.113.7"; }
int publicPort() { return protocol() == "UPnP" ? 61423 : 40001; }
std::string publicEndpoint() { return publicHost() + ":" + std::to_string(publicPort()); }

// What the fake router did, in order: "mapped" and "deleted" for each request of this run's
// protocol that added or deleted a mapping.
std::vector<std::string> mappingLines(const std::string& record) {
    std::vector<std::string> lines;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) {
        if (protocol() == "UPnP") {
            if (line.starts_with("http POST ") && line.find("#AddPortMapping ") != std::string::npos)
                lines.push_back("mapped");
            if (line.starts_with("http POST ") && line.find("#DeletePortMapping ") != std::string::npos)
                lines.push_back("deleted");
            continue;
        }
        const std::string prefix = protocol() == "PCP" ? "pcp " : "natpmp ";
        if (line == prefix + "deleted 61423") lines.push_back("deleted");
        else if (line.starts_with(prefix + "mapped ")) lines.push_back("mapped");
    }
    return lines;
}

bool listsForwarded(const Json& payload) {
    const Json expected{{"host", publicHost()}, {"port", publicPort()}, {"reach", "forwarded4"}, {"via", protocol()}};
    for (const Json& candidate : payload.value("candidates", Json::array())) {
        if (candidate == expected) return true;
    }
    return false;
}

// What a command writes to its standard output.
std::string outputOf(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    return out;
}

// As a person would: away on through the control tool, with the host finding the router through
// its own route table; the router maps by PCP (or by NAT-PMP or UPnP, when it speaks only that),
// a phone is told the way in, a retry asks the router again, and away off leaves the router
// holding nothing.
TEST(QuibHostReach, AwayAccessMapsThroughTheRouterAndLeavesNothingBehind) {
    const char* record = std::getenv("QUIB_FAKE_ROUTER_RECORD");
    if (!std::getenv("QUIB_ROUTER_NAMESPACE") || !record) {
        GTEST_SKIP() << "runs only inside private-network.sh's router namespace (the ReachEndToEnd test)";
    }
    TempHome home;
    (void)home.defaults()->setInteger("quib.awayPort", 61423);
    testing::setStunServersBeforeStart(home, {"10.77.0.1:3478"});
    auto started = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(started.phone.phone);
    auto& phone = *started.phone.phone;

    ASSERT_EQ(quibctl(home, {"away", "on"}).status, 0);
    EXPECT_TRUE(eventuallyShows(home, {"away"}, "status: reachable\n")) << started.host->log();
    EXPECT_TRUE(eventuallyShows(home, {"away"}, "detail: " + protocol() + " \u00B7 " + publicEndpoint() + "\n"));
    EXPECT_TRUE(eventuallyShows(home, {"away"}, "candidate: " + publicEndpoint() + " forwarded4 " + protocol() + "\n"));
    bool told = false;
    for (int i = 0; i < 10 && !told; ++i) {
        auto next = phone.receiveCase("remoteAccess", 10s);
        ASSERT_TRUE(next) << next.error().message << "\n" << started.host->log();
        told = listsForwarded((*next)["_0"]);
    }
    EXPECT_TRUE(told) << "the phone was never told the forwarded way in";

    const auto mapped = mappingLines(record).size();
    EXPECT_GE(mapped, 1u);
    EXPECT_EQ(quibctl(home, {"away", "retry"}).status, 0);
    EXPECT_TRUE(testing::eventually([&] { return mappingLines(record).size() > mapped; }, 15s))
        << "the retry sent the router nothing";

    EXPECT_EQ(quibctl(home, {"away", "off"}).status, 0);
    EXPECT_TRUE(testing::eventually([&] { return mappingLines(record).back() == "deleted"; }, 15s))
        << "the router still holds the mapping";
    EXPECT_TRUE(eventuallyShows(home, {"away"}, "status: off\n"));
}

// A second opinion on the router, which is written from the same reading as the host: a stock
// client gets from it the public address and the mapping the host got.
TEST(QuibHostReach, AStockClientGetsFromTheRouterWhatTheHostGets) {
    if (!std::getenv("QUIB_ROUTER_NAMESPACE")) {
        GTEST_SKIP() << "runs only inside private-network.sh's router namespace (the ReachEndToEnd test)";
    }
    if (protocol() == "PCP") GTEST_SKIP() << "no stock client here speaks PCP";
    const char* client = protocol() == "NAT-PMP" ? "/usr/bin/natpmpc" : "/usr/bin/upnpc";
    if (::access(client, X_OK) != 0) {
        GTEST_SKIP() << client << " is not installed (Debian's " << (protocol() == "NAT-PMP" ? "natpmpc" : "miniupnpc")
                     << "); the host's own mapping is tested without it";
    }
    if (protocol() == "NAT-PMP") {
        const std::string out = outputOf(std::string(client) + " -g 10.77.0.1 -a 61423 61423 tcp 7200 2>&1");
        EXPECT_NE(out.find("Public IP address : " + publicHost()), std::string::npos) << out;
        EXPECT_NE(out.find("Mapped public port " + std::to_string(publicPort()) + " protocol TCP to local port 61423"),
                  std::string::npos)
            << out;
        return;
    }
    const std::string out = outputOf(std::string(client) + " -i -a 10.77.0.2 61423 61423 TCP 2>&1");
    EXPECT_NE(out.find("external " + publicEndpoint() + " TCP is redirected to internal 10.77.0.2:61423"),
              std::string::npos)
        << out;
}

}  // namespace
}  // namespace quib
