#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Shared/QuibTransport.hpp"
#include "Shared/SecretStore.hpp"

namespace quib {

// Every approved phone's own away key: 32 random bytes kept in the secret store under the away
// service, one account per device identifier. The keys are the away listener's pre-shared
// keys; a phone receives its key only while it is on the local network. Holds no state of its
// own; safe on any thread.
class AwayKeys {
public:
    // A copy of the approved device identifiers, taken under the registry's lock.
    using ApprovedIDs = std::function<std::set<std::string>()>;

    AwayKeys(SecretStore secrets, ApprovedIDs approvedIDs);

    // The key of every approved device that has one stored, whatever its length.
    std::vector<QuibTransport::Key> listenerKeys() const;
    // The device's key: the stored one when it holds exactly 32 bytes, else a new one stored in
    // its place. Nothing when the new key cannot be stored.
    std::optional<Bytes> issue(const std::string& deviceID) const;
    // Deletes the device's key, if it has one.
    void forget(const std::string& deviceID) const;

private:
    SecretStore secrets_;
    ApprovedIDs approvedIDs_;
};

}  // namespace quib
