#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <system_error>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>

namespace quib::testing {

// The lowest port the kernel hands out to outgoing connections; 32768 where it cannot be read.
inline std::uint16_t lowestEphemeralPort() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    unsigned low = 0;
    if (range >> low && low > 0 && low <= 65535) return static_cast<std::uint16_t>(low);
    return 32768;
}

// Whether a listener could bind `port` on every local address now.
inline bool canListenOn(std::uint16_t port) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io);
    std::error_code error;
    acceptor.open(asio::ip::tcp::v6(), error);
    if (!error) acceptor.set_option(asio::ip::v6_only(false), error);
    if (!error) acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind({asio::ip::tcp::v6(), port}, error);
    return !error;
}

// A TCP port nobody listens on now, on every local address, for a listener a test places
// itself. Tests run side by side and connect a great deal: a port from the kernel's ephemeral
// range, found free, can be taken by another test's outgoing socket before the listener binds
// it. So the port is drawn at random from below that range, where sockets get a port only by
// asking for it; only when that range is too small is the kernel asked for one.
inline std::uint16_t freePort() {
    constexpr unsigned lowest = 10000;
    const unsigned below = lowestEphemeralPort();
    if (below > lowest + 1000) {
        thread_local std::mt19937 random{std::random_device{}()};
        std::uniform_int_distribution<unsigned> draw(lowest, below - 1);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto port = static_cast<std::uint16_t>(draw(random));
            if (canListenOn(port)) return port;
        }
    }
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::tcp::v6(), 0});
    return acceptor.local_endpoint().port();
}

}  // namespace quib::testing
