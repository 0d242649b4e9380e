#include "QuibHost/Reach/RemoteReach.hpp"

#include "QuibHost/Reach/PublicAddress.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Shared/RemoteAccess.hpp"

namespace quib {

RemoteReach::RemoteReach(Config config)
    : settings_(std::move(config.settings)),
      approvedIDs_(config.approvedIDs),
      keys_(std::move(config.secrets), std::move(config.approvedIDs)),
      candidates_(config.main, {}),
      status_(config.main, Status{}) {}

bool RemoteReach::isEnabled() const { return settings_->boolean(enabledKey).value_or(false); }

void RemoteReach::setEnabled(bool enabled) {
    if (enabled == isEnabled()) return;
    (void)settings_->setBool(enabledKey, enabled);  // a failure is logged by the settings
    if (enabled) start();
}

bool RemoteReach::isOnSameNetwork(const std::string& source) {
    return PortMapWire::isOnSameNetwork(source, PublicAddress::interfaces().global);
}

RemoteAccessPayload RemoteReach::payload(const std::optional<std::string>& deviceID, bool isLocalPeer) {
    RemoteAccessPayload payload;
    payload.isEnabled = isEnabled();
    payload.candidates = candidates_.value();
    if (!payload.isEnabled || !isLocalPeer || !deviceID || !approvedIDs_().contains(*deviceID)) return payload;
    if (auto key = keys_.issue(*deviceID)) {
        payload.keyIdentity = RemoteAccess::identity(*deviceID);
        payload.keyMaterial = std::move(*key);
    } else {
        payload.unavailable = std::string(keyRefusal);
    }
    return payload;
}

}  // namespace quib
