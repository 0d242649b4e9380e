#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Published.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/QuibCandidate.hpp"
#include "Shared/QuibTransport.hpp"
#include "Shared/RemoteAccessPayload.hpp"

namespace quib {

// What the connection server asks of remote reach: the away switch, the away keys, the ways to
// reach the host from away and how away access fares, and the payload that tells a phone.
class RemoteReachService {
public:
    // How away access fares, for the menu and the phones.
    struct Status {
        enum class Kind {
            blocked,    // on, but it cannot work (or could not be switched on): see `reason`
            off,        // switched off
            working,    // just switched on; the first attempt is under way
            reachable,  // a public address and port are known
        };
        Kind kind = Kind::off;
        std::string reason;  // blocked only: a sentence for the user
        bool operator==(const Status&) const = default;
    };

    // The away-access switch in the settings.
    static constexpr auto enabledKey = setting<"quib.away.enabled">;

    virtual ~RemoteReachService() = default;

    // Published on the main executor: the ways to reach the host, in priority order, and the status.
    virtual Published<std::vector<QuibCandidate>>& candidates() = 0;
    virtual Published<Status>& status() = 0;
    // One technical line for the menu, such as the mapping protocol and the public endpoint.
    virtual Published<std::optional<std::string>>& detail() = 0;

    // Any thread: the away switch.
    virtual bool isEnabled() const = 0;
    // Main executor: stores a changed switch, then starts or stops away access.
    virtual void setEnabled(bool enabled) = 0;
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
    // Main executor: everything again (the menu's "Try again").
    virtual void refresh() = 0;
    virtual void watchPath() = 0;
    virtual void start() = 0;
};

}  // namespace quib
