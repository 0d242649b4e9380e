#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Shared/QuibTransport.hpp"
#include "Shared/RemoteAccessPayload.hpp"

namespace quib {

// What the connection server asks of remote reach: the away switch, the away keys, and the
// payload that tells a phone how to reach the host from away.
class RemoteReachService {
public:
    // The away-access switch in the settings.
    static constexpr std::string_view enabledKey = "quib.away.enabled";

    virtual ~RemoteReachService() = default;
    virtual bool isEnabled() const = 0;
    // Network queue: the away key of every approved device that has one.
    virtual std::vector<QuibTransport::Key> listenerKeys() = 0;
    // Network queue: whether a peer at this source address is on the host's own network (only
    // such a phone may be handed its away key).
    virtual bool isOnSameNetwork(const std::string& source) = 0;
    // Main executor.
    virtual RemoteAccessPayload payload(const std::optional<std::string>& deviceID, bool isLocalPeer) = 0;
    // Main executor: deletes the device's away key, if it has one.
    virtual void forget(const std::string& deviceID) = 0;

    // Main executor, at launch: learn the host's own addresses, watch the network path, and,
    // when away access is switched on, start port mapping and address discovery.
    virtual void refreshLocal() = 0;
    virtual void watchPath() = 0;
    virtual void start() = 0;
};

}  // namespace quib
