#pragma once

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace quib::testing {

// Tests that change network interfaces do so in a network namespace of their own, in a forked
// child: in a threaded test process unshare would move only the calling thread. The child
// reports through its exit status.

// The ip tool (iproute2), or nothing.
inline std::optional<std::string> ipTool() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(path, X_OK) == 0) return std::string(path);
    }
    return std::nullopt;
}

// Why such a test cannot run here; nothing when it can try.
inline std::optional<std::string> privateNetworkUnavailable() {
    if (::geteuid() != 0) return "making a network namespace and interfaces needs root";
    if (!ipTool()) return "the ip tool (iproute2) is not installed";
    return std::nullopt;
}

// Runs `body` in a forked child that alone moves into a new network namespace (its loopback
// interface up) and returns the child's exit status: `body`'s result, or 2 when the namespace
// could not be set up. Nothing when making the namespace is not permitted here.
inline std::optional<int> inPrivateNetwork(const std::function<int()>& body, bool loopbackUp = false) {
    constexpr int notPermitted = 77;
    const pid_t child = ::fork();
    if (child < 0) return 2;
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0) ::_exit(errno == EPERM ? notPermitted : 2);
        if (loopbackUp && std::system((*ipTool() + " link set lo up").c_str()) != 0) ::_exit(2);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 2;
    if (WEXITSTATUS(status) == notPermitted) return std::nullopt;
    return WEXITSTATUS(status);
}

// Adds the veth pair qa and qb, gives qa an IPv4 address and brings both ends up.
inline bool addVethPair() {
    const std::string ip = *ipTool();
    const std::string commands = ip + " link add qa type veth peer name qb && " + ip +
                                 " addr add 10.9.0.1/24 dev qa && " + ip + " link set qa up && " + ip +
                                 " link set qb up";
    return std::system(commands.c_str()) == 0;
}

}  // namespace quib::testing
