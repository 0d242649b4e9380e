#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "Runtime/CancelToken.hpp"

namespace quib {

// What remote reach asks of the router: open the away port, close it again, and start afresh
// after the network changed. Jobs run one at a time on the mapper's own worker, in call order;
// their results arrive there, never on the caller's thread.
class PortMapperService {
public:
    struct Mapping {
        std::optional<std::string> externalHost;  // the router's public IPv4 address, when it said
        std::uint16_t externalPort = 0;
        std::uint32_t lifetime = 0;  // seconds
        std::string via;             // "PCP", "NAT-PMP" or "UPnP"
        bool operator==(const Mapping&) const = default;
    };

    struct Failure {
        enum class Kind {
            refused,          // the router said no to PCP, and nothing else mapped the port
            carrierGradeNAT,  // the router has no public address of its own
            noGateway,        // no default gateway, and UPnP on any link found nothing
            silent,           // no usable PCP answer, and nothing else mapped the port
        };
        Kind kind = Kind::silent;
        std::string reason;  // the router's reason, for `refused` and `carrierGradeNAT`

        static Failure refused(std::string reason) { return {Kind::refused, std::move(reason)}; }
        static Failure carrierGradeNAT(std::string reason) { return {Kind::carrierGradeNAT, std::move(reason)}; }
        static Failure noGateway() { return {Kind::noGateway, {}}; }
        static Failure silent() { return {Kind::silent, {}}; }
        bool operator==(const Failure&) const = default;
    };

    using Outcome = std::variant<Mapping, Failure>;

    virtual ~PortMapperService() = default;

    // Maps TCP `internalPort` to the same external port for `lifetime` seconds; `done` gets the
    // mapping or the failure to report, unless the job was cancelled.
    virtual void map(std::uint16_t internalPort, std::uint32_t lifetime, CancelToken cancel,
                     std::function<void(Outcome)> done) = 0;
    // Deletes the mapping of `internalPort` by every means; `done` (when given) is called once all
    // of them were tried, unless the job was cancelled. Failures are not reported.
    virtual void unmap(std::uint16_t internalPort, CancelToken cancel, std::function<void()> done = {}) = 0;
    // Runs a job of the caller's own on the mapper's worker, after the jobs queued before it.
    virtual void run(std::function<void()> job) = 0;
    // Draws a new PCP nonce, so that the next request counts as a new mapping.
    virtual void forgetMapping() = 0;
};

}  // namespace quib
