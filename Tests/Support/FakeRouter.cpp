#include "Tests/Support/FakeRouter.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

int udpSocketOnLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    if (bytes.size() < from + count) return {};
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

}  // namespace

FakeRouter::FakeRouter(Script script, std::uint16_t port)
    : script_(std::move(script)),
      socket_(udpSocketOnLoopback(port)),
      otherSocket_(udpSocketOnLoopback(0)),
      stop_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!socket_.isOpen() || !otherSocket_.isOpen() || !stop_.isOpen()) return;
    port_ = boundPort(socket_.get());
    thread_ = std::make_unique<WorkerThread>("test.router", [this] { run(); });
}

FakeRouter::~FakeRouter() {
    const std::uint64_t one = 1;
    if (stop_.isOpen()) (void)!::write(stop_.get(), &one, sizeof one);
    thread_.reset();
}

std::vector<FakeRouter::Request> FakeRouter::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool FakeRouter::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void FakeRouter::run() {
    while (true) {
        int wait = -1;
        if (!pending_.empty()) {
            const auto next = std::min_element(pending_.begin(), pending_.end(),
                                               [](const Pending& a, const Pending& b) { return a.due < b.due; });
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next->due - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        std::array<pollfd, 2> watched{{{socket_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}}};
        if (::poll(watched.data(), watched.size(), wait) < 0 && errno != EINTR) return;
        if (watched[1].revents != 0) return;
        if (watched[0].revents != 0) receive();
        sendDue();
    }
}

void FakeRouter::receive() {
    Bytes buffer(65536);
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const ssize_t n =
        ::recvfrom(socket_.get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return;
    buffer.resize(static_cast<std::size_t>(n));
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({buffer, now});
    }
    arrived_.notify_all();
    if (!script_) return;
    for (Answer& answer : script_(buffer)) pending_.push_back({now + answer.delay, std::move(answer), from, length});
}

void FakeRouter::sendDue() {
    const auto now = std::chrono::steady_clock::now();
    // Answers due at once go out in the order the script gave them.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
    auto due = pending_.begin();
    for (; due != pending_.end() && due->due <= now; ++due) {
        const int from = due->answer.fromOtherPort ? otherSocket_.get() : socket_.get();
        (void)::sendto(from, due->answer.bytes.data(), due->answer.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&due->to), due->length);
    }
    pending_.erase(pending_.begin(), due);
}

std::uint32_t FakeRouter::lifetimeOf(const Bytes& request) {
    return isPCP(request) ? bigEndian(request, 4) : bigEndian(request, 8);
}

Bytes FakeRouter::pcpClientAddress(const Bytes& request) { return slice(request, 8, 16); }

Bytes FakeRouter::pcpNonce(const Bytes& request) { return slice(request, 24, 12); }

Bytes FakeRouter::pcpAnswer(const Bytes& request, std::uint8_t result, std::uint32_t lifetime,
                            std::string_view externalAddress, std::uint16_t externalPort) {
    Bytes answer(60, 0);
    answer[0] = 2;
    answer[1] = 0x81;
    answer[3] = result;
    put32(answer, 4, lifetime);
    put32(answer, 8, 1234);  // epoch
    if (request.size() >= 44) {
        std::copy(request.begin() + 24, request.begin() + 37, answer.begin() + 24);  // nonce and protocol
        std::copy(request.begin() + 40, request.begin() + 42, answer.begin() + 40);  // internal port
    }
    put16(answer, 42, externalPort);
    auto address = PortMapWire::mappedIPv6(externalAddress);
    if (!address) address = PortMapWire::ipv6Bytes(externalAddress);
    if (address) std::copy(address->begin(), address->end(), answer.begin() + 44);
    return answer;
}

Bytes FakeRouter::natpmpMapAnswer(const Bytes& request, std::uint16_t result, std::uint16_t externalPort,
                                  std::uint32_t lifetime) {
    Bytes answer(16, 0);
    answer[1] = 130;
    put16(answer, 2, result);
    put32(answer, 4, 1234);  // epoch
    if (request.size() >= 6) std::copy(request.begin() + 4, request.begin() + 6, answer.begin() + 8);
    put16(answer, 10, externalPort);
    put32(answer, 12, lifetime);
    return answer;
}

Bytes FakeRouter::natpmpAddressAnswer(std::uint16_t result, std::string_view address) {
    Bytes answer(12, 0);
    answer[1] = 128;
    put16(answer, 2, result);
    put32(answer, 4, 1234);  // epoch
    in_addr parsed{};
    if (::inet_pton(AF_INET, std::string(address).c_str(), &parsed) == 1) {
        std::copy_n(reinterpret_cast<const std::uint8_t*>(&parsed.s_addr), 4, answer.begin() + 8);
    }
    return answer;
}

}  // namespace quib::testing
