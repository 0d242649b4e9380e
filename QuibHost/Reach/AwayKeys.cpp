#include "QuibHost/Reach/AwayKeys.hpp"

#include "Runtime/Logger.hpp"
#include "Shared/RemoteAccess.hpp"

namespace quib {

AwayKeys::AwayKeys(SecretStore secrets, ApprovedIDs approvedIDs)
    : secrets_(std::move(secrets)), approvedIDs_(std::move(approvedIDs)) {}

std::vector<QuibTransport::Key> AwayKeys::listenerKeys() const {
    std::vector<QuibTransport::Key> keys;
    for (const std::string& deviceID : approvedIDs_()) {
        if (auto material = secrets_.read(SecretStore::awayService, deviceID)) {
            keys.push_back({RemoteAccess::identity(deviceID), std::move(*material)});
        }
    }
    return keys;
}

std::optional<Bytes> AwayKeys::issue(const std::string& deviceID) const {
    auto stored = secrets_.read(SecretStore::awayService, deviceID);
    if (stored && stored->size() == RemoteAccess::keyLength) return stored;
    Bytes key = QuibTransport::newRemoteKey();
    if (!secrets_.write(key, SecretStore::awayService, deviceID)) return std::nullopt;
    quibLog().info("away: issued a key for ", priv(deviceID));
    return key;
}

void AwayKeys::forget(const std::string& deviceID) const {
    // Removed whatever it holds; the log line only when there was a key to drop.
    const bool hadKey = secrets_.read(SecretStore::awayService, deviceID).has_value();
    if (secrets_.remove(SecretStore::awayService, deviceID) && hadKey) {
        quibLog().info("away: dropped the key for ", priv(deviceID));
    }
}

}  // namespace quib
