// quib-fake-router: a home router for the router-namespace test, run inside a network namespace
// of its own. It listens on --addr: PCP and NAT-PMP on UDP 5351, SSDP on UDP 1900 joined to
// 239.255.255.250, its UPnP description and SOAP control on TCP 5000, and STUN on UDP 3478, which
// answers each Binding request with the address and port it came from. PCP and NAT-PMP are silent,
// so that the host falls back to UPnP, unless QUIB_FAKE_ROUTER_PCP is set: then PCP answers as a
// real router, refusing a request that names no client address (12) and mapping one that does to
// 203.0.113.7:40001; likewise NAT-PMP when QUIB_FAKE_ROUTER_NATPMP is set (with both, each is
// answered in its own version). Everything it receives is appended to the --record file, one
// line each:
//
//   ready                                       once every socket listens
//   udp FROM HEX                                a datagram to 5351
//   pcp mapped PORT | pcp deleted PORT          what an answered PCP request did
//   natpmp mapped PORT | natpmp deleted PORT    likewise for NAT-PMP
//   stun FROM HEX                               a datagram to 3478
//   ssdp FROM TTL DESTINATION HEX               a datagram to 1900 and how it arrived
//   http METHOD PATH ACTION HEX                 a request (ACTION "-" without SOAPAction)
//
// It ends with its parent, so a test killed outright leaves no router behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Tests/Support/FakeRouter.hpp"
#include "Tests/Support/UPnPTexts.hpp"

namespace {

using quib::FileDescriptor;

constexpr std::uint16_t portMappingPort = 5351;
constexpr std::uint16_t ssdpPort = 1900;
constexpr std::uint16_t httpPort = 5000;
constexpr std::uint16_t stunPort = 3478;

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text.empty() ? "-" : text;
}

std::string text(const in_addr& address) {
    std::array<char, INET_ADDRSTRLEN> buffer{};
    return ::inet_ntop(AF_INET, &address, buffer.data(), buffer.size()) ? buffer.data() : "?";
}

class Record {
public:
    explicit Record(const std::string& path) : out_(path, std::ios::app) {}
    void line(const std::string& line) { out_ << line << '\n' << std::flush; }
    explicit operator bool() const { return static_cast<bool>(out_); }

private:
    std::ofstream out_;
};

int boundSocket(int type, in_addr address, std::uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("quib-fake-router: bind");
        std::exit(1);
    }
    return fd;
}

// SSDP on every address of port 1900, in the group on the router's own link, told how each
// datagram arrived.
int ssdpSocket(in_addr router) {
    const int fd = boundSocket(SOCK_DGRAM, in_addr{htonl(INADDR_ANY)}, ssdpPort);
    ip_mreq group{};
    ::inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
    group.imr_interface = router;
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        std::perror("quib-fake-router: multicast");
        std::exit(1);
    }
    return fd;
}

// What a PCP-speaking router answers, and what it then holds.
std::optional<quib::Bytes> pcpAnswer(const quib::Bytes& request, Record& record) {
    using quib::testing::FakeRouter;
    if (!FakeRouter::isPCP(request) || request.size() != 60) return std::nullopt;
    if (FakeRouter::pcpClientAddress(request) == quib::Bytes(16, 0)) {
        return FakeRouter::pcpAnswer(request, 12, 0, "::", 0);
    }
    const std::uint32_t lifetime = FakeRouter::lifetimeOf(request);
    const std::uint16_t port = static_cast<std::uint16_t>(request[40] << 8 | request[41]);
    record.line(std::string(lifetime == 0 ? "pcp deleted " : "pcp mapped ") + std::to_string(port));
    return FakeRouter::pcpAnswer(request, 0, lifetime, "203.0.113.7", lifetime == 0 ? 0 : 40001);
}

std::optional<quib::Bytes> natpmpAnswer(const quib::Bytes& request, Record& record) {
    using quib::testing::FakeRouter;
    if (FakeRouter::isNATPMPAddress(request)) return FakeRouter::natpmpAddressAnswer(0, "203.0.113.7");
    if (!FakeRouter::isNATPMPMap(request) || request.size() != 12) return std::nullopt;
    const std::uint32_t lifetime = FakeRouter::lifetimeOf(request);
    const std::uint16_t port = static_cast<std::uint16_t>(request[4] << 8 | request[5]);
    record.line(std::string(lifetime == 0 ? "natpmp deleted " : "natpmp mapped ") + std::to_string(port));
    return FakeRouter::natpmpMapAnswer(request, 0, lifetime == 0 ? 0 : 40001, lifetime);
}

void readPortMapping(int fd, Record& record) {
    std::array<char, 2048> buffer{};
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return;
    record.line("udp " + text(from.sin_addr) + " " + hex({buffer.data(), static_cast<std::size_t>(n)}));
    const quib::Bytes request(buffer.begin(), buffer.begin() + n);
    auto answer = std::getenv("QUIB_FAKE_ROUTER_PCP") ? pcpAnswer(request, record) : std::nullopt;
    if (!answer && std::getenv("QUIB_FAKE_ROUTER_NATPMP")) answer = natpmpAnswer(request, record);
    if (answer) {
        ::sendto(fd, answer->data(), answer->size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
}

// A Binding success answer naming where the request came from, as XOR-MAPPED-ADDRESS.
void readStun(int fd, Record& record) {
    std::array<std::uint8_t, 2048> buffer{};
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return;
    record.line("stun " + text(from.sin_addr) + " " +
                hex({reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n)}));
    if (n < 20 || buffer[0] != 0x00 || buffer[1] != 0x01) return;
    quib::Bytes answer{0x01, 0x01, 0x00, 0x0C};
    answer.insert(answer.end(), buffer.begin() + 4, buffer.begin() + 20);
    const std::uint16_t port = ntohs(from.sin_port) ^ 0x2112;
    answer.insert(answer.end(), {0x00, 0x20, 0x00, 0x08, 0x00, 0x01, std::uint8_t(port >> 8), std::uint8_t(port)});
    const auto* address = reinterpret_cast<const std::uint8_t*>(&from.sin_addr);
    const std::array<std::uint8_t, 4> cookie{0x21, 0x12, 0xA4, 0x42};
    for (int i = 0; i < 4; ++i) answer.push_back(address[i] ^ cookie[i]);
    ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

void readSearch(int fd, Record& record, const std::string& location) {
    std::array<char, 8192> buffer{};
    std::array<char, 256> control{};
    sockaddr_in from{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(fd, &message, 0);
    if (n < 0) return;
    int ttl = -1;
    std::string destination = "?";
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            destination = text(info.ipi_addr);
        }
    }
    const std::string_view received(buffer.data(), static_cast<std::size_t>(n));
    record.line("ssdp " + text(from.sin_addr) + " " + std::to_string(ttl) + " " + destination + " " + hex(received));
    if (!received.starts_with("M-SEARCH")) return;
    const std::string answer =
        quib::testing::ssdpAnswer(location, quib::UPnPWire::header("ST", received).value_or("upnp:rootdevice"));
    ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

// The head and the body of one request, as far as they come within a few seconds.
std::optional<std::string> readRequest(int fd) {
    std::string request;
    std::array<char, 4096> buffer{};
    while (true) {
        const auto end = request.find("\r\n\r\n");
        if (end != std::string::npos) {
            const auto length = quib::UPnPWire::header("Content-Length", request.substr(0, end));
            if (request.size() >= end + 4 + (length ? std::stoul(*length) : 0)) return request;
        }
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 3000) <= 0) return std::nullopt;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) return std::nullopt;
        request.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

std::string reply(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\nServer: Linux UPnP/1.1 Router/1.0\r\n\r\n" + body;
}

// The last mapping added, as GetSpecificPortMappingEntry tells it.
std::string lastMapping(const std::string& body) {
    static std::string entry;
    if (body.find("AddPortMapping") == std::string::npos) return entry;
    entry.clear();
    for (const char* name :
         {"NewInternalPort", "NewInternalClient", "NewEnabled", "NewPortMappingDescription", "NewLeaseDuration"}) {
        const auto value = quib::UPnPWire::elementText(name, body).value_or("");
        entry += "<" + std::string(name) + ">" + value + "</" + name + ">";
    }
    return entry;
}

// The description, and every SOAP call answered as done: the link is up, the public address is
// 203.0.113.9, and the mapping asked about is the last one added.
std::string answer(const std::string& method, const std::string& path, const std::string& soapAction,
                   const std::string& body) {
    using namespace quib::testing;
    if (method == "GET") {
        if (path != "/rootDesc.xml") return reply(404, "");
        return reply(200, gatewayDescription(upnpService(wanIP1, "/ctl/IP1") + upnpService(wanIP2, "/ctl/IP2")));
    }
    const auto hash = soapAction.find('#');
    if (hash == std::string::npos) return reply(404, "");
    const std::string type = soapAction.substr(0, hash);
    const std::string action = soapAction.substr(hash + 1);
    const std::string mapping = lastMapping(body);
    if (action == "GetExternalIPAddress") return reply(200, externalAddressAnswer(type, "203.0.113.9"));
    if (action == "GetSpecificPortMappingEntry") return reply(200, soapAnswer(action, type, mapping));
    if (action == "GetStatusInfo") {
        return reply(
            200, soapAnswer(action, type,
                            "<NewConnectionStatus>Connected</NewConnectionStatus>"
                            "<NewLastConnectionError>ERROR_NONE</NewLastConnectionError><NewUptime>1000</NewUptime>"));
    }
    return reply(200, soapAnswer(action, type));
}

void serve(int listener, Record& record) {
    const FileDescriptor connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.isOpen()) return;
    const auto request = readRequest(connection.get());
    if (!request) return;
    const auto end = request->find("\r\n\r\n");
    const std::string head = request->substr(0, end);
    const auto firstSpace = head.find(' ');
    const std::string method = head.substr(0, firstSpace);
    const std::string path = head.substr(firstSpace + 1, head.find(' ', firstSpace + 1) - firstSpace - 1);
    std::string action = quib::UPnPWire::header("SOAPAction", head).value_or("");
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"')
        action = action.substr(1, action.size() - 2);
    record.line("http " + method + " " + path + " " + (action.empty() ? "-" : action) + " " +
                hex(request->substr(end + 4)));
    (void)connection.writeAll(answer(method, path, action, request->substr(end + 4)));
}

}  // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::string address;
    std::string recordPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--addr") address = argv[i + 1];
        if (option == "--record") recordPath = argv[i + 1];
    }
    in_addr router{};
    if (recordPath.empty() || ::inet_pton(AF_INET, address.c_str(), &router) != 1) {
        std::cerr << "usage: quib-fake-router --addr IPV4 --record FILE\n";
        return 2;
    }
    Record record(recordPath);
    const FileDescriptor portMapping(boundSocket(SOCK_DGRAM, router, portMappingPort));
    const FileDescriptor ssdp(ssdpSocket(router));
    const FileDescriptor http(boundSocket(SOCK_STREAM, router, httpPort));
    const FileDescriptor stun(boundSocket(SOCK_DGRAM, router, stunPort));
    if (!record || ::listen(http.get(), 16) != 0) return 1;
    const std::string location = "http://" + address + ":" + std::to_string(httpPort) + "/rootDesc.xml";
    record.line("ready");
    std::array<pollfd, 4> watched{
        {{portMapping.get(), POLLIN, 0}, {ssdp.get(), POLLIN, 0}, {http.get(), POLLIN, 0}, {stun.get(), POLLIN, 0}}};
    while (::getppid() != 1) {
        if (::poll(watched.data(), watched.size(), 1000) < 0) continue;
        if (watched[0].revents) readPortMapping(portMapping.get(), record);
        if (watched[1].revents) readSearch(ssdp.get(), record, location);
        if (watched[2].revents) serve(http.get(), record);
        if (watched[3].revents) readStun(stun.get(), record);
    }
    return 0;
}
