#include "QuibHost/Reach/AwayPathMonitor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/Simulated/SimulatedInterfaceWatch.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/Eventually.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
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

const std::string ipv4Default =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
const std::string ipv4Local =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
const std::string zeros(32, '0');
const std::string ipv6Reject = zeros + " 00 " + zeros + " 00 " + zeros + " ffffffff 00000001 00000000 00200200 lo\n";
const std::string ipv6Default = zeros + " 00 " + zeros +
                                " 00 fe800000000000000000000000000001 00000400 00000001 "
                                "00000000 00000003 eth0\n";

TEST(AwayPathMonitor, SignatureIgnoresOrderAndSeesTheDefaultRoute) {
    const std::vector<Entry> one{entry("eth0", Family::ipv4, "192.168.1.20"), entry("wlan0", Family::ipv4, "10.0.0.5"),
                                 entry("eth0", Family::ipv6, "2a01::5")};
    const std::vector<Entry> other{one[2], one[1], one[0]};
    const auto signature = AwayPathMonitor::signature(one, ipv4Default, "");
    EXPECT_EQ(signature, "eth0,wlan0|satisfied|10.0.0.5,192.168.1.20,2a01::5");
    EXPECT_EQ(AwayPathMonitor::signature(other, ipv4Default, ""), signature);
    EXPECT_EQ(AwayPathMonitor::signature(one, ipv4Local, ipv6Reject),
              "eth0,wlan0|unsatisfied|10.0.0.5,192.168.1.20,2a01::5");
    EXPECT_EQ(AwayPathMonitor::signature(one, ipv4Local, ipv6Reject + ipv6Default), signature);
}

TEST(AwayPathMonitor, UpdatesAtStartAndOnceAfterEachBurst) {
    auto clock = std::make_shared<FakeClock>();
    auto watch = std::make_shared<SimulatedInterfaceWatch>();
    std::atomic<int> updates{0};
    {
        AwayPathMonitor monitor(watch, clock);
        monitor.start([&](std::string signature) {
            EXPECT_FALSE(signature.empty());
            ++updates;
        });
        ASSERT_TRUE(testing::eventually([&] { return updates == 1 && watch->isWatching(); }));
        for (int i = 0; i < 3; ++i) {
            const std::size_t before = clock->pendingTimers();
            watch->announce();
            ASSERT_TRUE(testing::eventually([&] { return clock->pendingTimers() == before + 1; }));
            clock->advance(50ms);
        }
        clock->advance(100ms);
        ASSERT_TRUE(testing::eventually([&] { return updates == 2; }));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(updates, 2) << "a burst of three messages gave more than one update";
    }
    EXPECT_FALSE(watch->isWatching());

    AwayPathMonitor unwatched(nullptr, clock);
    unwatched.start([&](std::string) { ++updates; });
    EXPECT_TRUE(testing::eventually([&] { return updates == 3; }));
}

}  // namespace
}  // namespace quib
