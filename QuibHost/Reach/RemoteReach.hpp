#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Reach/AwayKeys.hpp"
#include "QuibHost/Reach/PathWatch.hpp"
#include "QuibHost/Reach/PortMapperService.hpp"
#include "QuibHost/Reach/PublicAddress.hpp"
#include "QuibHost/Reach/PublicAddressDiscovery.hpp"
#include "QuibHost/Reach/RemoteReachService.hpp"
#include "Runtime/CancelToken.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/InterfaceList.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/SecretStore.hpp"

namespace quib {

// The owner of away access: the switch, the router's port mapping and the public address, the
// ways to reach the host and how away access fares, and each phone's payload with its away key.
// It lives on the main executor; the router and STUN are asked on the mapper's worker, and each
// answer comes back to the main executor, where only the newest attempt publishes.
class RemoteReach final : public RemoteReachService, public std::enable_shared_from_this<RemoteReach> {
public:
    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<Settings> settings;
        SecretStore secrets;
        AwayKeys::ApprovedIDs approvedIDs;
        // The router and the public address; both required (give the offline ones for none).
        std::shared_ptr<PortMapperService> mapper = nullptr;
        std::shared_ptr<PublicAddressDiscovery> discovery = nullptr;
        // The local and the away listener's ports, read at each use; both required.
        std::function<std::uint16_t()> localPort = nullptr;
        std::function<std::uint16_t()> awayPort = nullptr;
        // The host's own addresses; none: PublicAddress::interfaces().
        std::function<PublicAddress::Addresses()> addresses = nullptr;
        // The network path; none: it is never watched.
        std::shared_ptr<PathWatch> path = nullptr;
        // The interfaces as the system watch keeps them, which tell whether a phone is on this
        // network (asked at every hello); none: `addresses`.
        std::shared_ptr<InterfaceList> interfaceList = nullptr;
    };

    // What a phone is told when its key could not be stored.
    static constexpr std::string_view keyRefusal =
        said<capitalised<HostWords::thisComputer>, "'s ", HostWords::secretStore, " would not store the away key">;
    static constexpr std::uint32_t lifetime = 7200;

    explicit RemoteReach(Config config);

    Published<std::vector<QuibCandidate>>& candidates() override { return candidates_; }
    Published<Status>& status() override { return status_; }
    Published<std::optional<std::string>>& detail() override { return detail_; }
    bool isEnabled() const override;
    void setEnabled(bool enabled) override;
    std::vector<QuibTransport::Key> listenerKeys() override { return keys_.listenerKeys(); }
    bool isOnSameNetwork(const std::string& source) override;
    // Only an approved phone on the local network is handed its key, and only while away access
    // is on.
    RemoteAccessPayload payload(const std::optional<std::string>& deviceID, bool isLocalPeer) override;
    void forget(const std::string& deviceID) override { keys_.forget(deviceID); }
    void refresh() override;
    void refreshLocal() override;
    void watchPath() override;
    void start() override;

private:
    using Outcome = PortMapperService::Outcome;
    using Mapping = PortMapperService::Mapping;
    // One resolve: its number, the away port it maps, and the local addresses it started from.
    struct Attempt {
        std::uint64_t generation = 0;
        std::uint16_t port = 0;
    };

    void stop();
    // False, with away access blocked, when the away keys cannot be stored.
    bool keysCanBeStored();
    std::optional<std::string> unavailable() const;
    void pathChanged(const std::string& signature);
    void cancelResolve();
    void resolve();
    template <class Answer>
    void onMain(Attempt attempt, Answer answer);
    void mapped(Attempt attempt, Outcome outcome);
    void askStun(Attempt attempt, std::optional<Mapping> mapping);
    void unmapped(Attempt attempt, const std::optional<StunWire::Reflexive>& answer);
    void forwarded(Attempt attempt, const Mapping& mapping, std::optional<std::string> publicHost,
                   const std::optional<StunWire::Reflexive>& answer);
    void publish(Attempt attempt, Status status, std::optional<std::string> detail,
                 std::optional<QuibCandidate> forwarded);
    void scheduleRenewal(std::uint32_t lifetime);
    std::vector<QuibCandidate> localCandidates() const;
    std::vector<QuibCandidate> globalCandidates(std::uint16_t port) const;

    std::shared_ptr<Executor> main_;
    std::shared_ptr<Settings> settings_;
    SecretStore secrets_;
    AwayKeys::ApprovedIDs approvedIDs_;
    AwayKeys keys_;
    std::shared_ptr<PortMapperService> mapper_;
    std::shared_ptr<PublicAddressDiscovery> discovery_;
    std::function<std::uint16_t()> localPort_;
    std::function<std::uint16_t()> awayPort_;
    std::function<PublicAddress::Addresses()> addresses_;
    std::shared_ptr<PathWatch> path_;
    std::shared_ptr<InterfaceList> interfaceList_;
    Published<std::vector<QuibCandidate>> candidates_;
    Published<Status> status_;
    Published<std::optional<std::string>> detail_;

    // Main executor only.
    std::uint64_t generation_ = 0;
    CancelToken cancel_;
    Cancellable renewal_;
    std::optional<std::string> lastPathSignature_;
    // The port this run last asked the router to map (a cancelled attempt may still have mapped
    // it), so that it is the one deleted even after the away port setting changed.
    std::optional<std::uint16_t> mappedPort_;
};

}  // namespace quib
