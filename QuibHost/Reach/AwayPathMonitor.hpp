#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/InterfaceWatch.hpp"
#include "QuibHost/Reach/PathWatch.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

// Watches the network path for away access on a thread of its own: at start, and after each
// burst of netlink messages (once 100 ms passed without another), it works out the path's
// signature and hands it on. Without an interface watch the path is read once, at start.
class AwayPathMonitor final : public PathWatch {
public:
    static constexpr std::string_view label = "com.brenmoor.quib.host.away.path";
    static constexpr Duration quiet = std::chrono::milliseconds(100);

    AwayPathMonitor(std::shared_ptr<InterfaceWatch> watch, std::shared_ptr<Clock> clock);
    ~AwayPathMonitor() override;
    AwayPathMonitor(const AwayPathMonitor&) = delete;
    AwayPathMonitor& operator=(const AwayPathMonitor&) = delete;

    // `update` runs on the monitor's thread.
    void start(std::function<void(std::string signature)> update) override;

    // The available links (up, running, not loopback, with an address), sorted; then "satisfied"
    // or "unsatisfied" by whether either route table holds a default route; then the host's
    // local and global addresses, sorted. Parts are joined with "," and the three with "|".
    static std::string signature(const std::vector<InterfaceAddresses::Entry>& entries, std::string_view ipv4Routes,
                                 std::string_view ipv6Routes);
    // The same, read now from the calling thread's network namespace.
    static std::string currentSignature();

    // Whether a table in the form of /proc/net/route, or of /proc/net/ipv6_route, holds a default
    // route that is up (an IPv6 one that rejects, as the kernel keeps on "lo", does not count).
    static bool hasDefaultIPv4Route(std::string_view table);
    static bool hasDefaultIPv6Route(std::string_view table);

private:
    struct Shared;
    void changed();
    void deliver();

    std::shared_ptr<InterfaceWatch> watch_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace quib
