#include "QuibHost/Reach/SsdpSearch.hpp"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Runtime/DescriptorWait.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// Binds the socket to the interface's address and sends multicast out of it: by its address
// when it has one, else by its index.
bool leaveBy(int socket, const UDPExchange::Interface& interface) {
    if (!interface.address.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, interface.address.c_str(), &local.sin_addr) != 1) return false;
        if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;
        return ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr) == 0;
    }
    ip_mreqn request{};
    request.imr_ifindex = static_cast<int>(::if_nametoindex(interface.name.c_str()));
    if (request.imr_ifindex == 0) return false;
    return ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) == 0;
}

bool prepare(int socket, const std::optional<UDPExchange::Interface>& interface) {
    const int ttl = SsdpSearch::multicastTTL;
    return socket >= 0 && ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
           (!interface || leaveBy(socket, *interface));
}

// Sends every search; false when none went out.
bool sendSearches(int socket, const sockaddr_in& to) {
    bool any = false;
    for (const auto target : UPnPWire::searchTargets) {
        const std::string message = UPnPWire::searchMessage(target);
        ssize_t sent = 0;
        do {
            sent =
                ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        } while (sent < 0 && errno == EINTR);
        any = any || sent == static_cast<ssize_t>(message.size());
    }
    return any;
}

struct Datagram {
    std::string text;
    std::string source;  // the sender's IPv4 address
};

// The next datagram waiting; nothing when none is, or it is too long or not from IPv4.
std::optional<Datagram> receive(int socket, std::array<char, SsdpSearch::maxDatagram>& buffer) {
    sockaddr_in from{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(socket, &message, MSG_DONTWAIT);
    if (received < 0 || (message.msg_flags & MSG_TRUNC) != 0 || from.sin_family != AF_INET) return std::nullopt;
    std::array<char, INET_ADDRSTRLEN> source{};
    if (!::inet_ntop(AF_INET, &from.sin_addr, source.data(), source.size())) return std::nullopt;
    return Datagram{std::string(buffer.data(), static_cast<std::size_t>(received)), source.data()};
}

}  // namespace

SsdpSearch::SsdpSearch(std::shared_ptr<const HttpPoster> urls, Duration window)
    : SsdpSearch(std::move(urls), window, Destination{}) {}

SsdpSearch::SsdpSearch(std::shared_ptr<const HttpPoster> urls, Duration window, Destination destination)
    : urls_(std::move(urls)), window_(window), destination_(std::move(destination)) {}

std::vector<HttpUrl> SsdpSearch::discover(const std::optional<UDPExchange::Interface>& interface,
                                          const CancelToken& cancel) const {
    if (cancel.isCancelled()) return {};
    const auto deadline = std::chrono::steady_clock::now() + window_;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destination_.port);
    if (::inet_pton(AF_INET, destination_.address.c_str(), &to.sin_addr) != 1) return {};
    const FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!prepare(socket.get(), interface) || !sendSearches(socket.get(), to)) return {};
    std::vector<HttpUrl> locations;
    std::array<char, maxDatagram> buffer{};
    while (true) {
        const auto waited = DescriptorWait::until(socket.get(), POLLIN, deadline, cancel);
        if (waited == DescriptorWait::Outcome::cancelled) return {};
        if (waited != DescriptorWait::Outcome::ready) return locations;
        const auto datagram = receive(socket.get(), buffer);
        if (!datagram || locations.size() >= maxLocations) continue;
        auto location = locationIn(datagram->text, datagram->source);
        if (location && std::find(locations.begin(), locations.end(), *location) == locations.end()) {
            locations.push_back(std::move(*location));
        }
    }
}

std::optional<HttpUrl> SsdpSearch::locationIn(std::string_view answer, const std::string& source) const {
    if (!unicode::isValidUtf8(answer)) return std::nullopt;
    const auto text = UPnPWire::header("LOCATION", answer);
    if (!text) return std::nullopt;
    auto location = urls_->resolve({}, *text);
    if (!location || location->scheme != "http" || location->host != source) return std::nullopt;
    return location;
}

}  // namespace quib
