#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "QuibHost/Reach/GatewayFinder.hpp"
#include "QuibHost/Reach/PortMapperService.hpp"
#include "QuibHost/Reach/ReachTimings.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/CancelToken.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

class UPnPMapping;

// Opens the away listener's TCP port on the home router: PCP first, then NAT-PMP, then UPnP,
// and deletes the mapping again. It keeps no record of what it mapped: only the PCP nonce,
// which the same mapping and its deletion share until `forgetMapping` draws a new one.
//
// `map` and `unmap` are jobs on the mapper's one worker, run strictly in call order, so every
// request of a mapping leaves before the first request of a later deletion. Each job watches
// the caller's cancel token in all its waits: once cancelled, it sends nothing more and reports
// nothing. Results arrive on the worker; callers hand them on to their own thread.
class PortMapper final : public PortMapperService {
public:
    using Mapping = PortMapperService::Mapping;
    using Failure = PortMapperService::Failure;
    using Outcome = PortMapperService::Outcome;
    using Gateway = GatewayFinder::Gateway;

    struct Config {
        ReachTimings timings;
        // The last resort; none: one that never finds a UPnP gateway.
        std::shared_ptr<UPnPMapping> upnp;
        // Where the router is; none: the default route of the host's network namespace, read at
        // each job. Tests put a fake router here.
        std::function<std::optional<Gateway>()> findGateway;
    };

    explicit PortMapper(Config config = {});
    ~PortMapper();
    PortMapper(const PortMapper&) = delete;
    PortMapper& operator=(const PortMapper&) = delete;

    // Maps TCP `internalPort` to the same external port for `lifetime` seconds; `done` gets the
    // mapping or the failure the caller should report, unless the job was cancelled.
    void map(std::uint16_t internalPort, std::uint32_t lifetime, CancelToken cancel,
             std::function<void(Outcome)> done) override;
    // Deletes the mapping of `internalPort` by every means; `done` (when given) is called once all
    // of them were tried, unless the job was cancelled. Failures are not reported.
    void unmap(std::uint16_t internalPort, CancelToken cancel, std::function<void()> done = {}) override;
    void run(std::function<void()> job) override;

    // Draws a new nonce at once, so that the next PCP request counts as a new mapping. A job that
    // is running may use it for its later requests.
    void forgetMapping() override;
    Bytes nonce() const;

    // Where the router is, as the jobs find it.
    std::optional<Gateway> gateway() const;

private:
    // Each step gives nothing when the job was cancelled during it.
    using Step = std::optional<Outcome>;

    Step runMap(std::uint16_t internalPort, std::uint32_t lifetime, const CancelToken& cancel);
    bool runUnmap(std::uint16_t internalPort, const CancelToken& cancel);
    Step pcp(const Gateway& gateway, std::uint16_t internalPort, std::uint32_t lifetime, const CancelToken& cancel);
    std::optional<Bytes> pcpResend(const Gateway& gateway, const Bytes& client, const Bytes& nonce,
                                   std::uint16_t internalPort, std::uint32_t lifetime, const CancelToken& cancel);
    UDPExchange::Schedule pcpSchedule() const;
    UDPExchange::Schedule natpmpSchedule() const;
    Step natPMP(const Gateway& gateway, std::uint16_t internalPort, std::uint32_t lifetime, const CancelToken& cancel);
    Step upnpMap(const std::optional<Gateway>& gateway, std::uint16_t internalPort, std::uint32_t lifetime,
                 const CancelToken& cancel);

    ReachTimings timings_;
    std::shared_ptr<UPnPMapping> upnp_;
    std::function<std::optional<Gateway>()> findGateway_;
    mutable Mutex mutex_;
    Bytes nonce_ GUARDED_BY(mutex_);
    // Last, so that it finishes its jobs before the rest goes.
    SerialQueue worker_;
};

}  // namespace quib
