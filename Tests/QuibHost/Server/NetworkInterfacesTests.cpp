#include "QuibHost/Server/NetworkInterfaces.hpp"

#include <gtest/gtest.h>

using namespace quib;

namespace {

using Entry = InterfaceAddresses::Entry;

Entry entry(std::string name, std::string host, bool loopback = false) {
    return Entry{.name = std::move(name),
                 .isUp = true,
                 .isRunning = true,
                 .isLoopback = loopback,
                 .family = host.find(':') == std::string::npos ? InterfaceAddresses::Family::ipv4
                                                               : InterfaceAddresses::Family::ipv6,
                 .host = std::move(host)};
}

asio::ip::address address(const char* text) { return asio::ip::make_address(text); }

}  // namespace

TEST(NetworkInterfaces, NamesEveryInterfaceHoldingTheAddress) {
    NetworkInterfaces interfaces([] {
        return std::vector<Entry>{
            entry("lo", "127.0.0.1", true), entry("qa0", "10.1.2.3"), entry("qb0", "10.1.2.3"),
            entry("qa0", "fe80::1%qa0"),    entry("qc0", ""),         entry("qd0", "not an address")};
    });
    EXPECT_EQ(interfaces.describe(address("127.0.0.1")), "lo(loopback)");
    EXPECT_EQ(interfaces.describe(address("::ffff:10.1.2.3")),
              "qa0(other),qb0(other)");  // as a dual-stack socket sees it
    EXPECT_EQ(interfaces.describe(address("fe80::1")), "qa0(other)");
    EXPECT_EQ(interfaces.describe(address("10.9.9.9")), "");
}

// Reading the interfaces costs system calls per interface: once changes are reported the list is
// read once and kept until the next report, never longer.
TEST(NetworkInterfaces, TheListIsKeptOnlyWhileChangesAreReported) {
    int reads = 0;
    std::string host = "10.0.0.1";
    NetworkInterfaces interfaces([&] {
        ++reads;
        return std::vector<Entry>{entry("qa0", host)};
    });
    EXPECT_EQ(interfaces.describe(address("10.0.0.1")), "qa0(other)");
    EXPECT_EQ(interfaces.describe(address("10.0.0.1")), "qa0(other)");
    EXPECT_EQ(reads, 2);

    interfaces.keepUntilChanged();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(interfaces.describe(address("10.0.0.1")), "qa0(other)");
    EXPECT_EQ(reads, 3);

    host = "10.0.0.2";
    interfaces.changed();
    EXPECT_EQ(interfaces.describe(address("10.0.0.1")), "");
    EXPECT_EQ(interfaces.describe(address("10.0.0.2")), "qa0(other)");
    EXPECT_EQ(reads, 4);
}
