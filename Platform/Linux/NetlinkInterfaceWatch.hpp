#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include <asio/posix/stream_descriptor.hpp>

#include "Platform/InterfaceWatch.hpp"

namespace quib {

// Watches links, IPv4 and IPv6 addresses and routes through a netlink route socket read on the
// caller's io_context (start, stop and the reports all run on its thread). It reports that something changed, not what: the caller reads the
// interfaces again.
class NetlinkInterfaceWatch final : public InterfaceWatch {
public:
    NetlinkInterfaceWatch() = default;
    // Stops first; like `stop`, on the io_context's thread or once it no longer runs.
    ~NetlinkInterfaceWatch() override { stop(); }
    NetlinkInterfaceWatch(const NetlinkInterfaceWatch&) = delete;
    NetlinkInterfaceWatch& operator=(const NetlinkInterfaceWatch&) = delete;

    std::set<std::string> activeNames() override;
    bool start(asio::io_context& io, std::function<void()> changed) override;
    void stop() override;

private:
    void readNext();

    std::optional<asio::posix::stream_descriptor> socket_;
    std::function<void()> changed_;
    std::array<char, 16384> buffer_{};
    // Reads still queued on the io_context when the watch is gone find this expired.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
};

}  // namespace quib
