#include "QuibHost/Reach/UDPExchange.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "Runtime/Clock.hpp"
#include "Runtime/DescriptorWait.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using Deadline = SteadyClock::time_point;

// Large enough for any UDP payload, so that no answer is cut.
constexpr std::size_t maxDatagram = 65536;

// One address to try, as the system gave it.
struct Target {
    sockaddr_storage address{};
    socklen_t length = 0;
};

using Wait = DescriptorWait::Outcome;

Wait waitReadable(int fd, Deadline deadline, const CancelToken& cancel) {
    return DescriptorWait::until(fd, POLLIN, deadline, cancel);
}

// IPv4 answers in the system's order; IPv6 ones only when there is no IPv4 one. The public
// address the host looks for is an IPv4 one, and a host with global IPv6 is often given an
// IPv6 answer first.
std::vector<Target> ordered(const addrinfo* answers) {
    std::vector<Target> v4;
    std::vector<Target> v6;
    for (const addrinfo* answer = answers; answer; answer = answer->ai_next) {
        if (!answer->ai_addr || answer->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Target target;
        std::memcpy(&target.address, answer->ai_addr, answer->ai_addrlen);
        target.length = answer->ai_addrlen;
        if (answer->ai_family == AF_INET) v4.push_back(target);
        if (answer->ai_family == AF_INET6) v6.push_back(target);
    }
    return v4.empty() ? v6 : v4;
}

// The addresses of `endpoint`, or nothing when getaddrinfo fails (EAI_NONAME, with `numeric`,
// for a host that is no address).
std::optional<std::vector<Target>> resolve(const UDPExchange::Endpoint& endpoint, bool numeric) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo* answers = nullptr;
    const std::string port = std::to_string(endpoint.port);
    if (::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &answers) != 0) return std::nullopt;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(answers, &::freeaddrinfo);
    return ordered(answers);
}

// A name lookup that the asking thread gives up on at its deadline or a cancel. It runs on a
// thread of its own; one given up on finishes by itself and drops its own thread.
struct Lookup {
    Mutex mutex;
    bool done GUARDED_BY(mutex) = false;
    std::vector<Target> found GUARDED_BY(mutex);
    std::unique_ptr<WorkerThread> abandoned GUARDED_BY(mutex);
    FileDescriptor finished{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

std::vector<Target> lookUp(const UDPExchange::Endpoint& endpoint, Deadline deadline, const CancelToken& cancel) {
    auto lookup = std::make_shared<Lookup>();
    if (!lookup->finished.isOpen()) return {};
    auto worker = std::make_unique<WorkerThread>("com.brenmoor.quib.host.lookup", [lookup, endpoint] {
        auto found = resolve(endpoint, false);
        std::unique_ptr<WorkerThread> self;
        {
            MutexLock lock(lookup->mutex);
            lookup->found = found.value_or(std::vector<Target>{});
            lookup->done = true;
            self = std::move(lookup->abandoned);
        }
        const std::uint64_t one = 1;
        (void)!::write(lookup->finished.get(), &one, sizeof one);
    });
    const Wait waited = waitReadable(lookup->finished.get(), deadline, cancel);
    MutexLock lock(lookup->mutex);
    if (!lookup->done) {
        lookup->abandoned = std::move(worker);
        return {};
    }
    return waited == Wait::ready ? std::move(lookup->found) : std::vector<Target>{};
}

std::vector<Target> targets(const UDPExchange::Endpoint& endpoint, Deadline deadline, const CancelToken& cancel) {
    if (endpoint.host.empty()) return {};
    if (auto numeric = resolve(endpoint, true)) return std::move(*numeric);
    return lookUp(endpoint, deadline, cancel);
}

// Ties the socket to the interface (its link, and its IPv4 address with any port) and connects
// it, so that the system delivers only datagrams from the target.
bool connectTo(int socket, const Target& target, const std::optional<UDPExchange::Interface>& interface) {
    if (interface) {
        const std::string& name = interface->name;
        if (::setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, name.data(), static_cast<socklen_t>(name.size())) != 0) {
            return false;
        }
        if (target.address.ss_family == AF_INET && !interface->address.empty()) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            if (::inet_pton(AF_INET, interface->address.c_str(), &local.sin_addr) != 1) return false;
            if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;
        }
    }
    return ::connect(socket, reinterpret_cast<const sockaddr*>(&target.address), target.length) == 0;
}

// The moments the schedule's clock calls for: each further send, and the end of the wait. The
// clock's timers only count them and ring the descriptor; the waiting thread does the sending.
class Ticks {
public:
    Ticks() : ring_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    Ticks(const Ticks&) = delete;
    Ticks& operator=(const Ticks&) = delete;

    bool isOpen() const { return ring_.isOpen(); }
    int descriptor() const { return ring_.get(); }
    void resendDue() {
        ++resends_;
        ring();
    }
    void timeUp() {
        over_ = true;
        ring();
    }
    void drain() const {
        std::uint64_t count = 0;
        (void)!::read(ring_.get(), &count, sizeof count);
    }
    int resends() const { return resends_; }
    bool isOver() const { return over_; }

private:
    void ring() const {
        const std::uint64_t one = 1;
        (void)!::write(ring_.get(), &one, sizeof one);
    }
    FileDescriptor ring_;
    std::atomic<int> resends_{0};
    std::atomic<bool> over_{false};
};

// The timers of one exchange, cancelled when it ends.
struct Timers {
    std::vector<Cancellable> pending;
    ~Timers() {
        for (const auto& timer : pending) timer.cancel();
    }
};

std::shared_ptr<Ticks> scheduleTicks(const UDPExchange::Schedule& schedule, Clock& clock, MonoTime start,
                                     Timers& timers) {
    auto ticks = std::make_shared<Ticks>();
    if (!ticks->isOpen()) return nullptr;
    const auto times = schedule.sendTimes();
    for (std::size_t i = 1; i < times.size(); ++i) {
        timers.pending.push_back(clock.schedule(start + times[i], [ticks] { ticks->resendDue(); }));
    }
    timers.pending.push_back(clock.schedule(start + schedule.timeout, [ticks] { ticks->timeUp(); }));
    return ticks;
}

enum class Woken { answer, tick, cancelled, failed };

// Waits for the socket, a tick or a cancel; a token without a descriptor is looked at in slices.
Woken waitForEither(int socket, const Ticks& ticks, const CancelToken& cancel) {
    while (true) {
        if (cancel.isCancelled()) return Woken::cancelled;
        std::array<pollfd, 3> watched{
            {{socket, POLLIN, 0}, {ticks.descriptor(), POLLIN, 0}, {cancel.descriptor(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), cancel.descriptor() < 0 ? 10 : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Woken::failed;
        if (watched[2].revents != 0 || cancel.isCancelled()) return Woken::cancelled;
        if (watched[0].revents != 0) return Woken::answer;
        if (watched[1].revents != 0) return Woken::tick;
    }
}

bool sendOnce(int socket, std::span<const std::uint8_t> request) {
    ssize_t sent = 0;
    do {
        sent = ::send(socket, request.data(), request.size(), 0);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0 && static_cast<std::size_t>(sent) == request.size();
}

std::optional<std::string> localAddressOf(int socket) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return std::nullopt;
    return UDPExchange::address(local);
}

// The request goes out at once and again at each tick the schedule calls for; the first datagram
// that comes back, to whichever send, is the answer.
std::optional<UDPExchange::Reply> exchange(int socket, std::span<const std::uint8_t> request, Ticks& ticks,
                                           const CancelToken& cancel) {
    std::optional<std::string> localAddress = localAddressOf(socket);
    // A socket bound to an interface had a port before it was connected: whatever reached it in
    // between came before the request and is no answer.
    Bytes answer(maxDatagram);
    for (int queued = 0; queued < 64 && ::recv(socket, answer.data(), answer.size(), MSG_DONTWAIT) >= 0; ++queued) {}
    if (cancel.isCancelled() || !sendOnce(socket, request)) return std::nullopt;
    int resent = 0;
    while (true) {
        const Woken woken = waitForEither(socket, ticks, cancel);
        if (woken == Woken::cancelled || woken == Woken::failed) return std::nullopt;
        if (woken == Woken::tick) {
            ticks.drain();
            if (ticks.isOver()) return std::nullopt;
            for (; resent < ticks.resends(); ++resent) {
                if (!sendOnce(socket, request)) return std::nullopt;
            }
            continue;
        }
        const ssize_t received = ::recv(socket, answer.data(), answer.size(), MSG_DONTWAIT);
        if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        // A refusal (ECONNREFUSED) or any other error ends it, and so does an empty datagram.
        if (received <= 0) return std::nullopt;
        answer.resize(static_cast<std::size_t>(received));
        return UDPExchange::Reply{std::move(answer), std::move(localAddress)};
    }
}

}  // namespace

std::vector<Duration> UDPExchange::Schedule::sendTimes() const {
    std::vector<Duration> times{Duration::zero()};
    if (!firstResend || *firstResend <= Duration::zero()) return times;
    for (Duration interval = *firstResend, at = interval; at < timeout; interval *= 2, at += interval) {
        times.push_back(at);
    }
    return times;
}

std::optional<UDPExchange::Reply> UDPExchange::ask(std::span<const std::uint8_t> request, const Endpoint& endpoint,
                                                   const std::optional<Interface>& interface, const Schedule& schedule,
                                                   const CancelToken& cancel) {
    if (cancel.isCancelled()) return std::nullopt;
    Clock& clock = schedule.clock ? *schedule.clock : *SystemClock::shared();
    const MonoTime start = clock.now();
    Timers timers;
    const auto ticks = scheduleTicks(schedule, clock, start, timers);
    if (!ticks) return std::nullopt;
    // A name lookup is no datagram: it keeps to the real clock, within the same time-out.
    const Deadline lookupDeadline = SteadyClock::now() + schedule.timeout;
    for (const Target& target : targets(endpoint, lookupDeadline, cancel)) {
        if (cancel.isCancelled() || ticks->isOver()) return std::nullopt;
        const FileDescriptor socket(::socket(target.address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!socket.isOpen() || !connectTo(socket.get(), target, interface)) continue;
        return exchange(socket.get(), request, *ticks, cancel);
    }
    return std::nullopt;
}

std::optional<UDPExchange::Reply> UDPExchange::ask(std::span<const std::uint8_t> request, const Endpoint& endpoint,
                                                   const std::optional<Interface>& interface, Duration timeout,
                                                   const CancelToken& cancel) {
    return ask(request, endpoint, interface, Schedule{timeout}, cancel);
}

// A connected datagram socket has its local address from the route at once; nothing is sent.
std::optional<std::string> UDPExchange::localAddress(const Endpoint& endpoint,
                                                     const std::optional<Interface>& interface) {
    const auto found = resolve(endpoint, true);
    if (!found) return std::nullopt;
    for (const Target& target : *found) {
        const FileDescriptor socket(::socket(target.address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (socket.isOpen() && connectTo(socket.get(), target, interface)) return localAddressOf(socket.get());
    }
    return std::nullopt;
}

std::optional<std::string> UDPExchange::address(const std::optional<Endpoint>& endpoint) {
    if (!endpoint) return std::nullopt;
    const std::string host = endpoint->host.substr(0, endpoint->host.find('%'));
    std::array<char, INET6_ADDRSTRLEN> text{};
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1 && ::inet_ntop(AF_INET, &v4, text.data(), text.size())) {
        return std::string(text.data());
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && ::inet_ntop(AF_INET6, &v6, text.data(), text.size())) {
        return std::string(text.data());
    }
    return endpoint->host;
}

std::optional<std::string> UDPExchange::address(const sockaddr_storage& socketAddress) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    const void* bytes = nullptr;
    if (socketAddress.ss_family == AF_INET) bytes = &reinterpret_cast<const sockaddr_in&>(socketAddress).sin_addr;
    if (socketAddress.ss_family == AF_INET6) bytes = &reinterpret_cast<const sockaddr_in6&>(socketAddress).sin6_addr;
    if (!bytes || !::inet_ntop(socketAddress.ss_family, bytes, text.data(), text.size())) return std::nullopt;
    return std::string(text.data());
}

}  // namespace quib
