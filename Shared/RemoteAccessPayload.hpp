#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Shared/Json.hpp"
#include "Shared/QuibCandidate.hpp"
#include "Shared/RemoteAccess.hpp"

namespace quib {

// The ways to reach the host from away, and, for a phone on the local network, its away key.
// Every key may be missing (false, no candidates, the rest absent); candidates are strict.
struct RemoteAccessPayload {
    static constexpr std::size_t awayKeyLength = RemoteAccess::keyLength;

    struct IssuedKey {
        std::string identity;
        Bytes material;
        bool operator==(const IssuedKey&) const = default;
    };

    bool isEnabled = false;                  // away access is switched on
    std::vector<QuibCandidate> candidates;   // in priority order
    std::optional<std::string> unavailable;  // why away access cannot work, for the user
    std::optional<std::string> keyIdentity;  // the pre-shared-key identity of the away key
    std::optional<Bytes> keyMaterial;        // the 32-byte away key

    // The away key this payload hands over: present only with a non-empty identity and exactly
    // 32 bytes of key.
    std::optional<IssuedKey> issuedKey() const;
    // This payload as phones other than the key's owner may see it: the key left out.
    RemoteAccessPayload withoutKey() const;

    static RemoteAccessPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const RemoteAccessPayload&) const = default;
};

}  // namespace quib
