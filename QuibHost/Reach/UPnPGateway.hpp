#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/HttpPoster.hpp"
#include "QuibHost/Reach/ReachTimings.hpp"
#include "QuibHost/Reach/SsdpSearch.hpp"
#include "QuibHost/Reach/UPnPMapping.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// Maps the away port through a UPnP Internet Gateway Device: an SSDP search finds it, its device
// description names the control URL of a WAN connection service, and SOAP calls to that URL add,
// and delete, the mapping and ask for the public address.
//
// The gateway found is kept for later calls until both attempts to add a mapping fail. Calls come
// from the port mapper's worker, one at a time, and block it; every wait inside watches the
// call's cancel token, and once it is cancelled nothing more is sent. Requests go through the
// poster over http only, straight to the gateway: no proxy, no redirect, no answer over 1 MiB.
class UPnPGateway final : public UPnPMapping {
public:
    struct Config {
        std::shared_ptr<HttpPoster> poster;
        ReachTimings timings;
        SsdpSearch::Destination search;
    };

    // The service that maps ports, and this side's address on the path to it.
    struct Control {
        std::string url;
        std::string serviceType;
        std::string localAddress;
        bool operator==(const Control&) const = default;
    };

    static constexpr std::size_t maxAnswer = 1024 * 1024;

    explicit UPnPGateway(Config config);

    std::optional<PortMapper::Mapping> map(std::uint16_t internalPort, std::uint32_t lifetime,
                                           const std::optional<UDPExchange::Interface>& interface,
                                           const CancelToken& cancel) override;
    // DeletePortMapping of this host's own entry, searching first when no gateway is kept: the
    // entry of the port is asked for, and deleted only when it forwards to this host's address.
    // The answers are not reported.
    void unmap(std::uint16_t internalPort, const std::optional<UDPExchange::Interface>& interface,
               const CancelToken& cancel) override;

    // The gateway later calls use, when one is kept.
    std::optional<Control> control() const;

    // Where the probe for the local address connects: the URL's host and its port, or port 80
    // when it names none.
    static UDPExchange::Endpoint probeEndpoint(const HttpUrl& url);
    // This side's address on the way to `endpoint`, an IP address: what a TCP connection to it
    // is bound to. Nothing when it does not connect within `timeout`, or on a cancel.
    static std::optional<std::string> localAddress(const UDPExchange::Endpoint& endpoint, Duration timeout,
                                                   const CancelToken& cancel);

private:
    std::optional<Control> resolvedControl(const std::optional<UDPExchange::Interface>& interface,
                                           const CancelToken& cancel);
    std::optional<Control> discover(const std::optional<UDPExchange::Interface>& interface, const CancelToken& cancel);
    std::optional<Control> describe(const HttpUrl& location, const CancelToken& cancel);
    std::optional<Control> controlOf(std::string_view serviceType, const std::string& path, const HttpUrl& location,
                                     const CancelToken& cancel);
    bool addPortMapping(const Control& control, std::uint16_t port, std::uint32_t lease, const CancelToken& cancel);
    std::optional<std::string> externalAddress(const Control& control, const CancelToken& cancel);
    std::optional<std::string> soap(const Control& control, std::string_view action, std::string_view arguments,
                                    const CancelToken& cancel);
    HttpRequest request(std::string url) const;
    std::optional<HttpResponse> send(HttpRequest request, const CancelToken& cancel);

    std::shared_ptr<HttpPoster> poster_;
    ReachTimings timings_;
    SsdpSearch search_;
    mutable Mutex mutex_;
    std::optional<Control> control_ GUARDED_BY(mutex_);
};

}  // namespace quib
