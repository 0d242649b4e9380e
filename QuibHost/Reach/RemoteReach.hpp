#pragma once

#include <memory>

#include "QuibHost/Reach/AwayKeys.hpp"
#include "QuibHost/Reach/RemoteReachService.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/SecretStore.hpp"

namespace quib {

// The owner of away access: the switch, each approved phone's away key, and the payload that
// tells a phone how to reach the host. It does not map router ports or discover the public
// address yet, so it publishes no way to reach the host and stays `off`.
class RemoteReach final : public RemoteReachService {
public:
    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<Settings> settings;
        SecretStore secrets;
        AwayKeys::ApprovedIDs approvedIDs;
    };

    // What a phone is told when its key could not be stored.
    static constexpr std::string_view keyRefusal = "This Mac's Keychain would not store the away key";

    explicit RemoteReach(Config config);

    Published<std::vector<QuibCandidate>>& candidates() override { return candidates_; }
    Published<Status>& status() override { return status_; }
    bool isEnabled() const override;
    void setEnabled(bool enabled) override;
    std::vector<QuibTransport::Key> listenerKeys() override { return keys_.listenerKeys(); }
    bool isOnSameNetwork(const std::string& source) override;
    // Only an approved phone on the local network is handed its key, and only while away access
    // is on.
    RemoteAccessPayload payload(const std::optional<std::string>& deviceID, bool isLocalPeer) override;
    void forget(const std::string& deviceID) override { keys_.forget(deviceID); }
    void refreshLocal() override {}
    void watchPath() override {}
    void start() override {}

private:
    std::shared_ptr<Settings> settings_;
    AwayKeys::ApprovedIDs approvedIDs_;
    AwayKeys keys_;
    Published<std::vector<QuibCandidate>> candidates_;
    Published<Status> status_;
};

}  // namespace quib
