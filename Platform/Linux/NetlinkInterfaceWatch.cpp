#include "Platform/Linux/NetlinkInterfaceWatch.hpp"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <asio/error.hpp>

#include "Runtime/InterfaceAddresses.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

namespace {

// A route socket subscribed to link, address and route changes; -1 with errno set on failure.
int openRouteSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::set<std::string> NetlinkInterfaceWatch::activeNames() {
    return InterfaceAddresses::activeNames(InterfaceAddresses::list());
}

bool NetlinkInterfaceWatch::start(asio::io_context& io, std::function<void()> changed) {
    stop();
    const int fd = openRouteSocket();
    if (fd < 0) {
        const std::string reason = std::strerror(errno);
        quibLog().error("interfaces: cannot watch for network changes: ", pub(reason));
        return false;
    }
    socket_.emplace(io, fd);
    changed_ = std::move(changed);
    readNext();
    return true;
}

void NetlinkInterfaceWatch::stop() {
    if (!socket_) return;
    std::error_code ignored;
    socket_->close(ignored);
    socket_.reset();
    changed_ = nullptr;
}

// One datagram may carry several messages; one report per datagram is enough, since the
// caller waits for a quiet moment anyway. A full receive buffer (ENOBUFS) lost messages, which
// is a change all the same.
void NetlinkInterfaceWatch::readNext() {
    socket_->async_read_some(
        asio::buffer(buffer_), [alive = std::weak_ptr<char>(lifetime_), this](std::error_code error, std::size_t) {
            if (alive.expired() || error == asio::error::operation_aborted || !socket_) return;
            if (error && error != std::errc::no_buffer_space) {
                quibLog().error("interfaces: the network change watch stopped: ", pub(error.message()));
                return;
            }
            if (changed_) changed_();
            if (socket_) readNext();
        });
}

}  // namespace quib
