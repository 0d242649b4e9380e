#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "QuibHost/Reach/UDPExchange.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib::testing {

// A home router's port-mapping side on 127.0.0.1: it records every datagram it receives and
// answers as its script says, each answer after its own delay, without holding up the datagrams
// that arrive meanwhile.
class FakeRouter {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Request {
        Bytes bytes;
        TimePoint at;
    };

    struct Answer {
        Bytes bytes;
        std::chrono::milliseconds delay{0};
        // Sent from another socket, that is from another port of 127.0.0.1.
        bool fromOtherPort = false;
    };

    // Called on the router's thread for each datagram; what it gives is sent back in order.
    using Script = std::function<std::vector<Answer>(const Bytes& request)>;

    // Listens on 127.0.0.1:`port` (0: any free port); see `isListening`.
    explicit FakeRouter(Script script = {}, std::uint16_t port = 0);
    ~FakeRouter();
    FakeRouter(const FakeRouter&) = delete;
    FakeRouter& operator=(const FakeRouter&) = delete;

    bool isListening() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    UDPExchange::Endpoint endpoint() const { return {"127.0.0.1", port_}; }

    std::vector<Request> requests() const;
    // Waits until `count` datagrams have arrived; false when `timeout` passes first.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // Kinds of request and their fields.
    static bool isPCP(const Bytes& request) { return !request.empty() && request[0] == 2; }
    static bool isNATPMPMap(const Bytes& request) { return request.size() >= 2 && request[0] == 0 && request[1] == 2; }
    static bool isNATPMPAddress(const Bytes& request) {
        return request.size() >= 2 && request[0] == 0 && request[1] == 0;
    }
    // The lifetime asked for by a PCP or NAT-PMP map request.
    static std::uint32_t lifetimeOf(const Bytes& request);
    // The client address of a PCP request (bytes 8-23).
    static Bytes pcpClientAddress(const Bytes& request);
    static Bytes pcpNonce(const Bytes& request);

    // Answers as a router gives them. A PCP answer echoes the request's nonce, protocol and
    // internal port; `externalAddress` is IPv4 or IPv6 text.
    static Bytes pcpAnswer(const Bytes& request, std::uint8_t result, std::uint32_t lifetime,
                           std::string_view externalAddress, std::uint16_t externalPort);
    static Bytes natpmpMapAnswer(const Bytes& request, std::uint16_t result, std::uint16_t externalPort,
                                 std::uint32_t lifetime);
    static Bytes natpmpAddressAnswer(std::uint16_t result, std::string_view address);

private:
    struct Pending {
        TimePoint due;
        Answer answer;
        sockaddr_storage to;
        socklen_t length;
    };

    void run();
    void receive();
    void sendDue();

    Script script_;
    FileDescriptor socket_;
    FileDescriptor otherSocket_;
    FileDescriptor stop_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Request> requests_;  // under mutex_
    std::vector<Pending> pending_;   // the router's thread only
    std::unique_ptr<WorkerThread> thread_;
};

}  // namespace quib::testing
