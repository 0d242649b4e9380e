#include "Platform/Linux/NetlinkInterfaceWatch.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

namespace quib {
namespace {

// Exit statuses of the child that runs the watch in its own network namespace.
enum Outcome : int {
    watched = 0,
    noNamespace = 77,  // unshare refused: no right to make network namespaces here
    failedUnshare = 2,
    namesNotEmpty = 3,
    notStarted = 4,
    ipFailed = 5,
    nothingReported = 6,
    wrongNames = 7,
};

const char* ipTool() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return nullptr;
}

// In a fresh namespace only a loopback interface exists, and it is down. Adding a veth pair
// with an address must be reported, and both ends must then count as active.
int watchInPrivateNamespace(const std::string& ip) {
    if (::unshare(CLONE_NEWNET) != 0) return errno == EPERM ? noNamespace : failedUnshare;
    asio::io_context io;
    NetlinkInterfaceWatch watch;
    if (!watch.activeNames().empty()) return namesNotEmpty;
    int reports = 0;
    if (!watch.start(io, [&] { ++reports; })) return notStarted;
    const std::string commands = ip + " link add qa type veth peer name qb && " + ip + " addr add 10.9.0.1/24 dev qa && " +
                                 ip + " link set qa up && " + ip + " link set qb up";
    if (std::system(commands.c_str()) != 0) return ipFailed;
    const std::set<std::string> expected{"qa", "qb"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && !(reports > 0 && watch.activeNames() == expected)) {
        io.run_for(std::chrono::milliseconds(50));
    }
    watch.stop();
    if (reports == 0) return nothingReported;
    return watch.activeNames() == expected ? watched : wrongNames;
}

// The watch runs in a forked child: in this threaded process unshare would move only the
// calling thread, and the child reports through its exit status.
TEST(NetlinkInterfaceWatch, ReportsAVethPairAddedInAPrivateNetworkNamespace) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a network namespace and interfaces needs root";
    const char* ip = ipTool();
    if (!ip) GTEST_SKIP() << "the ip tool (iproute2) is not installed";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(watchInPrivateNamespace(ip));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == noNamespace) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here";
    EXPECT_EQ(WEXITSTATUS(status), watched) << "see the Outcome codes";
}

}  // namespace
}  // namespace quib
