#pragma once

#include <functional>
#include <set>
#include <string>

#include <asio/io_context.hpp>

namespace quib {

// Notices changes of the computer's network interfaces and their addresses.
class InterfaceWatch {
public:
    virtual ~InterfaceWatch() = default;

    // Any thread: the names of the interfaces that are up and running, are not loopback and
    // hold an IPv4 or IPv6 address.
    virtual std::set<std::string> activeNames() = 0;

    // On `io`'s thread: calls `changed` there after each message about a link, an address or a
    // route, until `stop`. False when the system will not report changes (the reason is logged).
    virtual bool start(asio::io_context& io, std::function<void()> changed) = 0;
    // On `io`'s thread: stops reporting and lets go of everything bound to `io`.
    virtual void stop() = 0;
};

}  // namespace quib
