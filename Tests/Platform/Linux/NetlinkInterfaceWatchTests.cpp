#include "Platform/Linux/NetlinkInterfaceWatch.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "Tests/Platform/Linux/PrivateNetwork.hpp"

namespace quib {
namespace {

// Exit statuses of the child that runs the watch in its own network namespace.
enum Outcome : int {
    watched = 0,
    namesNotEmpty = 3,
    notStarted = 4,
    ipFailed = 5,
    nothingReported = 6,
    wrongNames = 7,
};

// In a fresh namespace only a loopback interface exists, and it is down. Adding a veth pair
// with an address must be reported, and both ends must then count as active.
int watchVethPairArrive() {
    asio::io_context io;
    NetlinkInterfaceWatch watch;
    if (!watch.activeNames().empty()) return namesNotEmpty;
    int reports = 0;
    if (!watch.start(io, [&] { ++reports; })) return notStarted;
    if (!testing::addVethPair()) return ipFailed;
    const std::set<std::string> expected{"qa", "qb"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && !(reports > 0 && watch.activeNames() == expected)) {
        io.run_for(std::chrono::milliseconds(50));
    }
    watch.stop();
    if (reports == 0) return nothingReported;
    return watch.activeNames() == expected ? watched : wrongNames;
}

TEST(NetlinkInterfaceWatch, ReportsAVethPairAddedInAPrivateNetworkNamespace) {
    if (auto reason = testing::privateNetworkUnavailable()) GTEST_SKIP() << *reason;
    const auto status = testing::inPrivateNetwork(watchVethPairArrive);
    if (!status) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here";
    EXPECT_EQ(*status, watched) << "see the Outcome codes";
}

}  // namespace
}  // namespace quib
